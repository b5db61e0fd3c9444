"""The imagery people have, made with GDAL, through vexal_encode -c 2 and vexal_decode: 16-bit,
signed 16-bit and float GeoTIFFs, many bands and nodata collars come back with their type, band
count, georeferencing and nodata value, within 40 dB PSNR of the source's value range."""
import os
import subprocess
import sys

import numpy as np
import pytest

gdal = pytest.importorskip("osgeo.gdal")
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from imagery_fixtures import (  # noqa: E402
    GEO, collared_terrain, edge_and_inner_errors, make_geotiff, psnr, terrain)

ENCODE = os.environ["VEXAL_ENCODE_BIN"]
DECODE = os.environ["VEXAL_DECODE_BIN"]


def round_trip(tmp_path, source, *extra):
    vxl, out = str(tmp_path / "x.vxl"), str(tmp_path / "out.tif")
    enc = subprocess.run([ENCODE, "-tifg", "-i", source, "-o", vxl, "-c", "2", *extra],
                         capture_output=True, text=True)
    assert enc.returncode == 0, enc.stdout + enc.stderr
    dec = subprocess.run([DECODE, "-i", vxl, "-o", out], capture_output=True, text=True)
    assert dec.returncode == 0, dec.stdout + dec.stderr
    return gdal.Open(out)


def check_same_raster(src, out, min_psnr=40.0):
    assert out.RasterCount == src.RasterCount
    assert (out.RasterXSize, out.RasterYSize) == (src.RasterXSize, src.RasterYSize)
    assert out.GetGeoTransform() == pytest.approx(src.GetGeoTransform())
    assert out.GetSpatialRef().GetAuthorityCode(None) == src.GetSpatialRef().GetAuthorityCode(None)
    for k in range(1, src.RasterCount + 1):
        s, o = src.GetRasterBand(k), out.GetRasterBand(k)
        assert o.DataType == s.DataType
        assert o.GetNoDataValue() == s.GetNoDataValue()
        a, b = s.ReadAsArray(), o.ReadAsArray()
        valid = a != s.GetNoDataValue() if s.GetNoDataValue() is not None else np.ones_like(a, bool)
        peak = float(a[valid].max()) - float(a[valid].min())
        assert psnr(a[valid], b[valid], peak) >= min_psnr, f"band {k}"


@pytest.mark.parametrize("gdal_type,low,high,options", [
    (gdal.GDT_UInt16, 180, 11800, ["TILED=YES", "COMPRESS=DEFLATE", "PREDICTOR=2"]),
    (gdal.GDT_UInt16, 0, 4095, ["ENDIANNESS=BIG", "BIGTIFF=YES"]),
    (gdal.GDT_Int16, -420, 2950, ["COMPRESS=LZW", "BLOCKYSIZE=7"]),
    (gdal.GDT_Float32, 12.5, 2480.75, ["TILED=YES", "COMPRESS=DEFLATE", "PREDICTOR=3"]),
    (gdal.GDT_Float32, -3.25, 1.5, ["ENDIANNESS=BIG"]),
])
def test_one_band_types_round_trip(tmp_path, gdal_type, low, high, options):
    source = str(tmp_path / "src.tif")
    make_geotiff(source, [terrain(200, 150, 1, low, high)], gdal_type, options)
    out = round_trip(tmp_path, source)
    check_same_raster(gdal.Open(source), out)
    # Signed samples come back signed, negative values included.
    if gdal_type == gdal.GDT_Int16:
        assert out.GetRasterBand(1).ReadAsArray().min() < -300


@pytest.mark.parametrize("count,gdal_type,colors,options", [
    (4, gdal.GDT_UInt16, [gdal.GCI_RedBand, gdal.GCI_GreenBand, gdal.GCI_BlueBand,
                          gdal.GCI_Undefined], ["PHOTOMETRIC=RGB"]),
    (4, gdal.GDT_Byte, [gdal.GCI_RedBand, gdal.GCI_GreenBand, gdal.GCI_BlueBand,
                        gdal.GCI_AlphaBand], ["PHOTOMETRIC=RGB", "ALPHA=YES"]),
    (8, gdal.GDT_UInt16, None, ["INTERLEAVE=PIXEL", "COMPRESS=DEFLATE"]),
    (2, gdal.GDT_Byte, None, []),
])
def test_many_bands_keep_every_band(tmp_path, count, gdal_type, colors, options):
    peak = 255 if gdal_type == gdal.GDT_Byte else 9000
    bands = [terrain(200, 150, 10 + k, 20 * k, peak - 10 * k) for k in range(count)]
    source = str(tmp_path / "src.tif")
    make_geotiff(source, bands, gdal_type, options, colors=colors)
    out = round_trip(tmp_path, source)
    src = gdal.Open(source)
    check_same_raster(src, out)
    for k in range(1, count + 1):
        assert (out.GetRasterBand(k).GetColorInterpretation() ==
                src.GetRasterBand(k).GetColorInterpretation()), f"band {k}"


@pytest.mark.parametrize("gdal_type,nodata,low,high,extra", [
    (gdal.GDT_Float32, -9999.0, 120.0, 2300.0, []),
    (gdal.GDT_Float32, float("nan"), 120.0, 2300.0, []),
    (gdal.GDT_UInt16, 0, 300, 9000, []),
    (gdal.GDT_Byte, 0, 20, 250, ["-nodata"]),
])
def test_nodata_collars_come_back_as_nodata(tmp_path, gdal_type, nodata, low, high, extra):
    width, height = 256, 192
    integer = gdal_type != gdal.GDT_Float32
    data, outside = collared_terrain(width, height, 7, low, high, nodata, integer)
    source = str(tmp_path / "src.tif")
    make_geotiff(source, [data], gdal_type, ["TILED=YES", "COMPRESS=DEFLATE"], nodata=nodata)
    out = round_trip(tmp_path, source, *extra)
    band = out.GetRasterBand(1)
    got = band.ReadAsArray()
    if np.isnan(nodata):
        assert np.isnan(band.GetNoDataValue())
        np.testing.assert_array_equal(np.isnan(got), outside)
    else:
        assert band.GetNoDataValue() == nodata
        np.testing.assert_array_equal(got == nodata, outside)
        check_same_raster(gdal.Open(source), out)
    # Lossy coding must not ring along the edges of the nodata areas.
    edge, inner = edge_and_inner_errors(data, got, outside)
    print(f"type {gdal_type} nodata {nodata}: rms error {edge:.3f} beside nodata, {inner:.3f} elsewhere")
    assert edge <= 1.5 * inner + 1e-3 * (high - low)


@pytest.mark.parametrize("gdal_type,count,nodata,extra", [
    (gdal.GDT_UInt16, 1, 0, []),
    (gdal.GDT_Byte, 3, 255, ["-nodata"]),  # 8-bit RGB: on request; not the background colour
])
def test_mosaic_of_tiles_with_nodata(tmp_path, gdal_type, count, nodata, extra):
    """A later tile's nodata pixels leave the earlier tile's data, and what no tile covers comes
    back as nodata."""
    w, h = 200, 150
    low, high = (500, 7000) if gdal_type == gdal.GDT_UInt16 else (20, 240)
    whole = [np.round(terrain(w + 120, h + 60, 4 + k, low, high)) for k in range(count)]
    names = []
    for k, (x, y) in enumerate([(0, 0), (120, 60)]):
        tiles = [band[y:y + h, x:x + w].copy() for band in whole]
        for tile in tiles:
            tile[:, :30 if k else 0] = nodata  # the second tile's left collar lies on the first
        path = str(tmp_path / f"t{k}.tif")
        make_geotiff(path, tiles, gdal_type, ["PHOTOMETRIC=RGB"] if count == 3 else [],
                     nodata=nodata, geo=(GEO[0] + 30 * x, 30, 0, GEO[3] - 30 * y, 0, -30))
        names.append(path)
    covered = np.zeros(whole[0].shape, bool)
    covered[:h, :w] = True
    covered[60:, 150:] = True
    (tmp_path / "tiles.txt").write_text("\n".join(names) + "\n")
    vxl, out = str(tmp_path / "m.vxl"), str(tmp_path / "m.tif")
    enc = subprocess.run([ENCODE, "-tifg", "-mos", "-i", str(tmp_path / "tiles.txt"), "-o", vxl,
                          "-c", "2", *extra], capture_output=True, text=True)
    assert enc.returncode == 0, enc.stdout + enc.stderr
    assert subprocess.run([DECODE, "-i", vxl, "-o", out]).returncode == 0
    ds = gdal.Open(out)
    assert ds.RasterCount == count
    for k in range(count):
        band = ds.GetRasterBand(k + 1)
        assert band.DataType == gdal_type and band.GetNoDataValue() == nodata
        got = band.ReadAsArray()
        np.testing.assert_array_equal(got == nodata, ~covered)
        assert psnr(whole[k][covered], got[covered], high - low) >= 40
