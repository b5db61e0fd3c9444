"""Writing .vxl through GDAL: gdal_translate -of VXL from GDAL-made imagery of every kind the
driver takes, its creation options, refusals and cancellation, and rasterio's copy."""
import os
import subprocess
import sys

import numpy as np
import pytest

if os.environ.get("VEXAL_SANITIZE", "").upper() in ("ON", "1", "TRUE", "YES"):
    pytest.skip("a sanitized plugin cannot load into GDAL's own programs", allow_module_level=True)
gdal = pytest.importorskip("osgeo.gdal")
rasterio = pytest.importorskip("rasterio")
import rasterio.shutil  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from imagery_fixtures import GEO, collared_terrain, make_geotiff, psnr, terrain  # noqa: E402


def translate(*args):
    return subprocess.run(["gdal_translate", "-q", "-of", "VXL", *args], capture_output=True,
                          text=True)


def cog(tmp_path):
    make_geotiff(str(tmp_path / "rgb.tif"),
                 [np.round(terrain(700, 500, k, 20, 230)) for k in range(3)], gdal.GDT_Byte,
                 ["PHOTOMETRIC=RGB"])
    gdal.Translate(str(tmp_path / "cog.tif"), str(tmp_path / "rgb.tif"), format="COG",
                   creationOptions=["BLOCKSIZE=256", "COMPRESS=DEFLATE"])
    return str(tmp_path / "cog.tif"), None


def jpeg2000(tmp_path):
    make_geotiff(str(tmp_path / "dem.tif"), [np.round(terrain(600, 450, 3, 200, 9000))],
                 gdal.GDT_UInt16)
    gdal.Translate(str(tmp_path / "dem.jp2"), str(tmp_path / "dem.tif"), format="JP2OpenJPEG",
                   creationOptions=["REVERSIBLE=YES", "QUALITY=100", "BLOCKXSIZE=128",
                                    "BLOCKYSIZE=128"])
    return str(tmp_path / "dem.jp2"), None


def vrt_mosaic(tmp_path):
    parts = []
    for k in range(3):  # three tiles side by side, one of them tiled
        data, _ = collared_terrain(300, 400, k, 100.0, 2000.0, -9999.0, False)
        part = str(tmp_path / f"tile{k}.tif")
        make_geotiff(part, [data], gdal.GDT_Float32, ["TILED=YES"] if k == 1 else [],
                     nodata=-9999.0, geo=(GEO[0] + 300 * 30 * k, *GEO[1:]))
        parts.append(part)
    gdal.BuildVRT(str(tmp_path / "mosaic.vrt"), parts)
    return str(tmp_path / "mosaic.vrt"), -9999.0


def envi(tmp_path):
    # Two bands with one footprint: a .vxl file marks nodata by pixel.
    bands = [collared_terrain(500, 380, k, -400, 3000, -32768, True)[0] for k in (5, 6)]
    make_geotiff(str(tmp_path / "dem.tif"), bands, gdal.GDT_Int16, nodata=-32768)
    gdal.Translate(str(tmp_path / "dem.envi"), str(tmp_path / "dem.tif"), format="ENVI")
    return str(tmp_path / "dem.envi"), -32768


@pytest.mark.parametrize("make", [cog, jpeg2000, vrt_mosaic, envi])
def test_gdal_translate_round_trips_type_bands_georeferencing_and_nodata(tmp_path, make):
    source, nodata = make(tmp_path)
    out = str(tmp_path / "out.vxl")
    r = translate(source, out, "-co", "RATIO=2")
    assert r.returncode == 0, r.stderr
    s, v = gdal.Open(source), gdal.Open(out)
    assert v.GetDriver().ShortName == "VXL"
    assert v.RasterCount == s.RasterCount
    assert v.GetGeoTransform() == s.GetGeoTransform()
    assert v.GetSpatialRef().IsSame(s.GetSpatialRef())
    for k in range(1, s.RasterCount + 1):
        a, b = s.GetRasterBand(k), v.GetRasterBand(k)
        assert b.DataType == a.DataType
        assert b.GetNoDataValue() == a.GetNoDataValue() == nodata
        assert b.GetColorInterpretation() == a.GetColorInterpretation()
        x, y = a.ReadAsArray().astype(np.float64), b.ReadAsArray().astype(np.float64)
        data = x != nodata
        np.testing.assert_array_equal(y == nodata, ~data)
        assert psnr(x[data], y[data], x[data].max() - x[data].min()) >= 40


def vxl_metadata(path):
    return gdal.Open(path).GetMetadata("VXL")


def test_creation_options_change_what_they_say(tmp_path):
    source, _ = cog(tmp_path)
    made = {}
    for name, options in [("default", []), ("ratio2", ["RATIO=2"]),
                          ("levels", ["NLEV=3", "BLOCKSIZE=256", "DITHER=NO"]),
                          ("one_thread", ["NUM_THREADS=1"]),
                          ("rdo", ["RDO=YES", "PSNR=40", "NUM_THREADS=ALL_CPUS"])]:
        made[name] = str(tmp_path / f"{name}.vxl")
        args = sum((["-co", o] for o in options), [])
        r = translate(source, made[name], *args)
        assert r.returncode == 0, r.stderr
    size = {k: os.path.getsize(v) for k, v in made.items()}
    assert 5 < size["ratio2"] / size["default"] < 12  # 20 / 2, as near as the rate control lands
    levels = gdal.Open(made["levels"])
    assert levels.GetRasterBand(1).GetOverviewCount() == 3
    meta = vxl_metadata(made["levels"])
    assert any(k.endswith("BLOCK_SIZE") and v == "256" for k, v in meta.items())
    assert any(k.endswith("NO_DITHER") for k in meta)
    # The thread count never changes the pixels.
    one, every = gdal.Open(made["one_thread"]), gdal.Open(made["default"])
    np.testing.assert_array_equal(one.ReadAsArray(), every.ReadAsArray())
    # The rate-distortion mode lands near its luma PSNR target.
    luma = np.array([0.299, 0.587, 0.114])[:, None, None]
    src = (gdal.Open(source).ReadAsArray() * luma).sum(0)
    assert 38 <= psnr(src, (gdal.Open(made["rdo"]).ReadAsArray() * luma).sum(0), 255) <= 42
    # A band's nodata value is kept unless NODATA=NO.
    data, _ = collared_terrain(300, 260, 1, 10, 4000, 0, True)
    make_geotiff(str(tmp_path / "nd.tif"), [data], gdal.GDT_UInt16, nodata=0)
    assert translate(str(tmp_path / "nd.tif"), str(tmp_path / "nd.vxl"), "-co",
                     "NODATA=NO").returncode == 0
    kept = gdal.Open(str(tmp_path / "nd.vxl"))
    assert kept.GetRasterBand(1).GetNoDataValue() is None


def test_refusals_and_cancellation_leave_nothing(tmp_path):
    source, _ = cog(tmp_path)
    before = sorted(os.listdir(tmp_path))
    out = str(tmp_path / "out.vxl")
    for args, words in [(["-co", "RATIO=fast"], "RATIO=fast is not a number"),
                        (["-ot", "Float64"], "Float64 samples"),
                        (["-co", "RDO=NO", "-co", "PSNR=40"], "add -rdo")]:
        r = translate(source, out, *args)
        assert r.returncode != 0 and words in r.stderr, r.stderr
        assert sorted(os.listdir(tmp_path)) == before
    seen = []

    def cancel(fraction, message, data):
        seen.append(fraction)
        return 0 if fraction > 0.3 else 1
    gdal.UseExceptions()
    with pytest.raises(RuntimeError, match="cancelled"):
        gdal.Translate(out, source, format="VXL", callback=cancel)
    assert seen and sorted(os.listdir(tmp_path)) == before


def test_rasterio_copies_to_vxl(tmp_path):
    source, _ = cog(tmp_path)
    out = str(tmp_path / "copy.vxl")
    rasterio.shutil.copy(source, out, driver="VXL", RATIO=2)
    with rasterio.open(out) as v, rasterio.open(source) as s:
        assert v.driver == "VXL" and v.count == 3 and v.dtypes == s.dtypes
        assert v.crs == s.crs and v.transform == s.transform
        assert psnr(s.read(), v.read(), 255) >= 40


def test_rasterio_writes_vxl_in_w_mode(tmp_path):
    data = np.round(terrain(260, 190, 2, 100, 3000)).astype(np.int16)[None]
    out = str(tmp_path / "made.vxl")
    profile = dict(driver="VXL", width=260, height=190, count=1, dtype="int16", crs="EPSG:32611",
                   transform=rasterio.Affine(30, 0, GEO[0], 0, -30, GEO[3]), nodata=-32768,
                   RATIO=2, TEMP_DIR=str(tmp_path))
    with rasterio.open(out, "w", **profile) as w:
        for top, rows in [(0, 100), (100, 90)]:  # two windows of rows
            w.write(data[:, top:top + rows], window=rasterio.windows.Window(0, top, 260, rows))
    assert sorted(os.listdir(tmp_path)) == ["made.vxl"]
    with rasterio.open(out) as v:
        assert v.driver == "VXL" and v.dtypes == ("int16",) and v.nodata == -32768
        assert v.crs == profile["crs"] and v.transform == profile["transform"]
        assert psnr(data, v.read(), float(data.max() - data.min())) >= 40
