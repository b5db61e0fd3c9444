"""GDAL-made imagery through vexal_encode and the VXL plugin of this build, read by real clients:
gdalinfo, gdal_translate and rasterio see every band's type and colour, the nodata value and its
mask (overviews too), and the georeferencing as the source had them."""
import json
import os
import re
import subprocess
import sys

import numpy as np
import pytest

if os.environ.get("VEXAL_SANITIZE", "").upper() in ("ON", "1", "TRUE", "YES"):
    pytest.skip("a sanitized plugin cannot load into GDAL's own programs", allow_module_level=True)
gdal = pytest.importorskip("osgeo.gdal")
rasterio = pytest.importorskip("rasterio")
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from imagery_fixtures import GEO, collared_terrain, make_geotiff, terrain  # noqa: E402

ENCODE = os.environ["VEXAL_ENCODE_BIN"]
DECODE = os.environ["VEXAL_DECODE_BIN"]


def run(*args):
    r = subprocess.run(list(args), capture_output=True, text=True)
    assert r.returncode == 0, " ".join(args) + "\n" + r.stdout + r.stderr
    return r.stdout


def encode(tmp_path, source):
    vxl = str(tmp_path / (os.path.basename(source)[:-4] + ".vxl"))
    run(ENCODE, "-tifg", "-i", source, "-o", vxl, "-c", "2")
    return vxl


def band_lines(info):
    return re.findall(r"^Band \d+ .*$", info, re.M)


@pytest.mark.parametrize("gdal_type,colors,options", [
    (gdal.GDT_UInt16, [gdal.GCI_RedBand, gdal.GCI_GreenBand, gdal.GCI_BlueBand, gdal.GCI_Undefined],
     ["PHOTOMETRIC=RGB"]),  # red, green, blue, near infrared
    (gdal.GDT_Byte, [gdal.GCI_RedBand, gdal.GCI_GreenBand, gdal.GCI_BlueBand, gdal.GCI_AlphaBand],
     ["PHOTOMETRIC=RGB", "ALPHA=YES"]),
])
def test_band_colours_reach_gdalinfo_and_rasterio(tmp_path, gdal_type, colors, options):
    peak = 255 if gdal_type == gdal.GDT_Byte else 9000
    source = str(tmp_path / "src.tif")
    make_geotiff(source, [terrain(300, 200, k, 10 * k, peak - 10 * k) for k in range(4)],
                 gdal_type, options, colors=colors)
    vxl = encode(tmp_path, source)
    mine = run("gdalinfo", vxl)
    assert "Driver: VXL/" in mine
    type_name = gdal.GetDataTypeName(gdal_type)
    assert [re.sub(r"Block=\S+ ", "", line) for line in band_lines(mine)] == [
        f"Band {k + 1} Type={type_name}, ColorInterp={gdal.GetColorInterpretationName(c)}"
        for k, c in enumerate(colors)]
    with rasterio.open(vxl) as r, rasterio.open(source) as s:
        assert r.driver == "VXL" and r.count == 4 and r.dtypes == s.dtypes
        assert r.colorinterp == s.colorinterp
        assert r.crs.to_epsg() == 32633 and r.transform == s.transform
        assert r.nodata is None


@pytest.mark.parametrize("gdal_type,nodata,low,high", [
    (gdal.GDT_UInt16, 0, 300, 9000),
    (gdal.GDT_Float32, -9999.0, 120.0, 2300.0),
])
def test_nodata_collar_through_gdal_translate_and_rasterio(tmp_path, gdal_type, nodata, low, high):
    width, height = 320, 240
    integer = gdal_type != gdal.GDT_Float32
    data, outside = collared_terrain(width, height, 7, low, high, nodata, integer)
    source = str(tmp_path / "collar.tif")
    make_geotiff(source, [data], gdal_type, ["TILED=YES", "COMPRESS=DEFLATE"], nodata=nodata)
    vxl = encode(tmp_path, source)
    info = run("gdalinfo", vxl)
    assert re.search(r"^  NoData Value=(\S+)$", info, re.M)[1] == ("0" if nodata == 0 else "-9999")
    # The mask comes from the nodata value, at full size and in every overview.
    ds = gdal.Open(vxl)
    band = ds.GetRasterBand(1)
    assert band.GetMaskFlags() == gdal.GMF_NODATA
    np.testing.assert_array_equal(band.GetMaskBand().ReadAsArray() == 0, outside)
    assert band.GetOverviewCount() >= 2
    for k in range(band.GetOverviewCount()):
        assert band.GetOverview(k).GetNoDataValue() == nodata
    with rasterio.open(vxl) as r:
        assert r.nodata == nodata and r.nodatavals == (nodata,)
        np.testing.assert_array_equal(r.read_masks(1) == 0, outside)
    # A GeoTIFF made by gdal_translate keeps type, nodata and georeferencing, and holds exactly
    # the pixels vexal_decode writes.
    out, decoded = str(tmp_path / "translated.tif"), str(tmp_path / "decoded.tif")
    run("gdal_translate", "-q", vxl, out)
    run(DECODE, "-i", vxl, "-o", decoded)
    t = gdal.Open(out)
    assert t.GetDriver().ShortName == "GTiff"
    assert t.GetRasterBand(1).DataType == gdal_type
    assert t.GetRasterBand(1).GetNoDataValue() == nodata
    assert t.GetGeoTransform() == pytest.approx(GEO)
    assert t.GetSpatialRef().GetAuthorityCode(None) == "32633"
    np.testing.assert_array_equal(t.ReadAsArray(), gdal.Open(decoded).ReadAsArray())


def reference_statistics(path, window):
    """Each band's extremes, mean, population deviation and valid percentage over the window
    x0, y0, x1, y1 (inclusive), in one piece: the samples that are finite and not nodata."""
    x0, y0, x1, y1 = window
    ds = gdal.Open(path)
    out = []
    for k in range(1, ds.RasterCount + 1):
        band = ds.GetRasterBand(k)
        a = band.ReadAsArray().astype(np.float64)[y0:y1 + 1, x0:x1 + 1]
        valid = a[np.isfinite(a) & (a != band.GetNoDataValue())]
        out.append((valid.min(), valid.max(), valid.mean(), valid.std(), 100 * valid.size / a.size))
    return out


@pytest.mark.parametrize("gdal_type,bands,nodata,region", [
    (gdal.GDT_UInt16, 1, 0, None),
    (gdal.GDT_Byte, 3, None, (37, 21, 436, 330)),
    (gdal.GDT_Float32, 1, -9999.0, None),
])
def test_statistics_record_is_what_gdal_reports(tmp_path, gdal_type, bands, nodata, region):
    width, height = 480, 360
    integer = gdal_type != gdal.GDT_Float32
    data = [collared_terrain(width, height, k, 20, 250 if gdal_type == gdal.GDT_Byte else 9000,
                             nodata, integer)[0] if nodata is not None
            else np.round(terrain(width, height, k, 0, 255)) for k in range(bands)]
    source = str(tmp_path / "src.tif")
    make_geotiff(source, data, gdal_type, ["PHOTOMETRIC=RGB"] if bands == 3 else [],
                 nodata=nodata)
    expected = reference_statistics(source, region or (0, 0, width - 1, height - 1))
    window = ["-region", *map(str, region)] if region else []
    records = []
    for threads in ("1", "3"):
        vxl = str(tmp_path / f"stats{threads}.vxl")
        run(ENCODE, "-tifg", "-stats", "-threads", threads, "-b", "256", *window, "-i", source,
            "-o", vxl)
        info = json.loads(run("gdalinfo", "-stats", "-json", vxl))
        records.append(gdal.Open(vxl).GetMetadataItem("IMAGE::STATISTICS", "VXL"))
        # Histograms are recorded for 8-bit samples only.
        has_histogram = gdal.Open(vxl).GetMetadataItem("IMAGE::HISTOGRAM", "VXL") is not None
        assert has_histogram == (gdal_type == gdal.GDT_Byte)
        for band, (lo, hi, mean, stddev, valid) in zip(info["bands"], expected):
            items = {k: float(v) for k, v in band["metadata"][""].items()}
            assert (items["STATISTICS_MINIMUM"], items["STATISTICS_MAXIMUM"]) == (lo, hi)
            assert items["STATISTICS_MEAN"] == pytest.approx(mean, rel=1e-9)
            assert items["STATISTICS_STDDEV"] == pytest.approx(stddev, rel=1e-9)
            assert items["STATISTICS_VALID_PERCENT"] == pytest.approx(valid, rel=1e-12)
            assert "stdDev" in band and "minimum" in band
        # Answered from the record: nothing computed, so nothing saved beside the file.
        assert not os.path.exists(vxl + ".aux.xml")
        ds = gdal.Open(vxl)
        band = ds.GetRasterBand(1)
        assert band.ComputeRasterMinMax(False) == expected[0][:2]
        assert band.GetOverview(0).GetMinimum() == expected[0][0]
    assert records[0] == records[1]
    # GDAL's own writer records the same; a file made without the option has no record and
    # GDAL computes its statistics from the pixels, as for any file.
    copied = str(tmp_path / "copied.vxl")
    run("gdal_translate", "-q", "-of", "VXL", "-co", "STATISTICS=YES", *(
        ["-srcwin", str(region[0]), str(region[1]), str(region[2] - region[0] + 1),
         str(region[3] - region[1] + 1)] if region else []), source, copied)
    assert gdal.Open(copied).GetMetadataItem("IMAGE::STATISTICS", "VXL") == records[0]
    plain = encode(tmp_path, source)
    assert "STATISTICS_" not in run("gdalinfo", plain)
    assert "STATISTICS_MEAN" in run("gdalinfo", "-stats", plain)


def test_histogram_record_is_the_source_histogram_gdal_computes(tmp_path):
    """gdalinfo -hist and a stretch's approximate requests through the plugin get the exact
    histogram GDAL computes on the source GeoTIFF (nodata samples skipped), from the record:
    nothing decoded, nothing saved beside the file. A layout with a bucket boundary on a sample
    value takes GDAL's own path over the decoded pixels."""
    width, height, nodata = 480, 360, 7  # 7 also lies inside the terrain's range
    data = [collared_terrain(width, height, k, 0, 255, nodata, True)[0] for k in range(3)]
    source = str(tmp_path / "src.tif")
    make_geotiff(source, data, gdal.GDT_Byte, ["PHOTOMETRIC=RGB"], nodata=nodata)
    vxl = str(tmp_path / "hist.vxl")
    run(ENCODE, "-tifg", "-stats", "-nodata", "-i", source, "-o", vxl)
    src = gdal.Open(source)

    def exact(k, lo, hi, buckets, out_of_range=False):
        return src.GetRasterBand(k).GetHistogram(lo, hi, buckets, out_of_range, False)

    info = json.loads(run("gdalinfo", "-hist", "-json", vxl))
    for k, band in enumerate(info["bands"], 1):
        h = band["histogram"]
        assert (h["min"], h["max"], h["count"]) == (-0.5, 255.5, 256)
        assert h["buckets"] == exact(k, -0.5, 255.5, 256)
    assert not os.path.exists(vxl + ".aux.xml")

    ds = gdal.Open(vxl)
    half = 255 / 512  # QGIS centres 256 buckets on the values 0..255
    for layout in [(-half, 255 + half, 256, False), (0, 255, 64, False), (0, 255, 64, True),
                   (20.5, 200.5, 18, True), (-3.25, 300.75, 7, False)]:
        for k in (1, 2, 3):
            band = ds.GetRasterBand(k)
            assert band.GetHistogram(*layout, approx_ok=True) == exact(k, *layout), layout
    overview = ds.GetRasterBand(2).GetOverview(0)
    assert overview.GetHistogram(-0.5, 255.5, 256, False, True) == exact(2, -0.5, 255.5, 256)
    aligned = (0, 256, 128, False)  # boundaries 2, 4, ... on sample values
    decoded = gdal.Translate("", vxl, format="MEM")
    mine = ds.GetRasterBand(1).GetHistogram(*aligned, approx_ok=False)
    assert mine == decoded.GetRasterBand(1).GetHistogram(*aligned, approx_ok=False)
    assert mine != exact(1, *aligned)
