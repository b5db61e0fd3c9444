"""Shared fixtures of the grid tests: the programs under test, the real sample, and a mosaic of
GeoTIFF tiles that gdal cuts from it."""

import os
import shutil

import pytest

gdal = pytest.importorskip("osgeo.gdal")
np = pytest.importorskip("numpy")
gdal.UseExceptions()


@pytest.fixture(scope="session")
def programs():
    encoder, decoder = os.environ.get("VEXAL_ENCODE_BIN"), os.environ.get("VEXAL_DECODE_BIN")
    if not (encoder and decoder and os.path.exists(encoder) and os.path.exists(decoder)):
        pytest.skip("VEXAL_ENCODE_BIN / VEXAL_DECODE_BIN not set (run through ctest)")
    return encoder, decoder


@pytest.fixture(scope="session")
def utm():
    path = os.path.join(os.environ.get("VEXAL_TESTDATA", ""), "geotiff", "utm.tif")
    if not os.path.exists(path):
        pytest.skip(f"sample {path} not found")
    return path


@pytest.fixture(scope="session")
def mosaic(tmp_path_factory, utm):
    """utm.tif (512 x 512) as nine GeoTIFF tiles whose seams lie off the 256-pixel grid lines;
    returns the mosaic list, named relative to its folder (the current folder of the runs)."""
    folder = tmp_path_factory.mktemp("tiles")
    names = []
    for y0, y1 in ((0, 170), (170, 400), (400, 512)):
        for x0, x1 in ((0, 200), (200, 300), (300, 512)):
            name = f"tile_{x0}_{y0}.tif"
            gdal.Translate(str(folder / name), utm, srcWin=[x0, y0, x1 - x0, y1 - y0])
            names.append(name)
    (folder / "tiles.txt").write_text("\n".join(names) + "\n")
    return folder / "tiles.txt"


def psnr(a, b):
    mse = np.mean((np.asarray(a, float) - np.asarray(b, float)) ** 2)
    return 99.0 if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def decode(decoder, vxl, tif):
    import subprocess

    subprocess.run([decoder, "-i", str(vxl), "-o", str(tif)], check=True, capture_output=True,
                   timeout=120)
    return gdal.Open(str(tif)).ReadAsArray()
