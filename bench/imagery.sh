#!/usr/bin/env bash
# The imagery people have, made with GDAL as the tests make it (tests/support/imagery_fixtures.py):
# UInt16 and Int16 scenes, a Float32 elevation model, a 4-band RGB + near-infrared and an 8-band
# UInt16 image, and UInt16 and Float32 images with rotated nodata collars. Each goes through
# vexal_encode -c 2 and, in the same run and at the same file size, through GDAL's JP2OpenJPEG
# driver (lossy 9/7, QUALITY= corrected once to land on our size) or, for Float32, which
# JPEG 2000 does not take, GDAL's GTiff with COMPRESS=LERC (MAX_Z_ERROR= searched to a similar
# size, and once more with the error bound that gives about our PSNR). Printed per coder: ratio (raw bytes of the source's own sample type / file bytes),
# bits per sample, PSNR of the valid pixels against the range of the valid values, and for the
# collared images the RMS error of valid pixels within 3 pixels of nodata ("edge") and of the
# others ("inner"), and how many pixels a nodata-mask reader gets wrong ("mask err").
# Usage: bench/imagery.sh [build dir] [width height]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
width=${2:-1024}
height=${3:-768}
python=/usr/bin/python3  # the Debian interpreter, which has numpy and GDAL
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target vexal_encode vexal_decode -j2 > /dev/null 2>&1
command -v gdal_translate > /dev/null || { echo "gdal_translate is needed (gdal-bin)"; exit 1; }

"$python" - "$root" "$build" "$work" "$width" "$height" <<'PY'
import os, subprocess, sys, time
sys.dont_write_bytecode = True
root, build, work, W, H = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
sys.path.insert(0, os.path.join(root, "tests", "support"))
import numpy as np
from imagery_fixtures import (collar, collared_terrain, edge_and_inner_errors, make_geotiff, psnr,
                              terrain)
from osgeo import gdal

U16, I16, F32 = gdal.GDT_UInt16, gdal.GDT_Int16, gdal.GDT_Float32
outside = collar(W, H)

fixtures = [
    ("UInt16", U16, [np.round(terrain(W, H, 1, 180, 11800))], None),
    ("Int16", I16, [np.round(terrain(W, H, 2, -420, 2950))], None),
    ("Float32 DEM", F32, [terrain(W, H, 3, 12.5, 2480.75)], None),
    ("RGBN UInt16", U16, [np.round(terrain(W, H, 10 + k, 20 * k, 9000 - 10 * k)) for k in range(4)], None),
    ("8-band UInt16", U16, [np.round(terrain(W, H, 20 + k, 50 * k, 4095 - 30 * k)) for k in range(8)], None),
    ("UInt16 collar", U16, [collared_terrain(W, H, 7, 300, 9000, 0, True)[0]], 0),
    ("Float32 collar", F32, [collared_terrain(W, H, 8, 120.0, 2300.0, -9999.0, False)[0]], -9999.0),
]


def run(*args):
    started = time.monotonic()
    r = subprocess.run(list(args), capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(" ".join(args) + "\n" + r.stdout + r.stderr)
    return time.monotonic() - started


def measure(name, source, decoded, seconds, nodata):
    src = gdal.Open(source).ReadAsArray().astype(np.float64)
    out = gdal.Open(decoded).ReadAsArray().astype(np.float64)
    src, out = (src[None], out[None]) if src.ndim == 2 else (src, out)
    valid = ~outside if nodata is not None else np.ones((H, W), bool)
    peak = max(float(b[valid].max() - b[valid].min()) for b in src)
    row = [psnr(src[:, valid], out[:, valid], peak)]
    if nodata is not None:
        edge, inner = edge_and_inner_errors(src[0], out[0], outside)
        row += [edge, inner, int(((out[0] == nodata) != outside).sum())]
    return row + [seconds]


def jp2_at(source, size, raw):
    """GDAL's JP2OpenJPEG at our file's size: QUALITY is the percentage of the raw size."""
    quality, seconds = 100.0 * size / raw, 0.0
    for _ in range(2):
        if os.path.exists(f"{work}/p.jp2"):
            os.remove(f"{work}/p.jp2")
        seconds = run("gdal_translate", "-q", "-of", "JP2OpenJPEG", "-co", f"QUALITY={quality:.4f}",
                      "-co", "REVERSIBLE=NO", source, f"{work}/p.jp2")
        quality *= size / os.path.getsize(f"{work}/p.jp2")
    return f"{work}/p.jp2", seconds


def lerc_at(source, size):
    """GTiff LERC with the error bound that comes nearest our file's size (bisection in log)."""
    lo, hi, best = 1e-4, 1e3, None
    for _ in range(14):
        z = (lo * hi) ** 0.5
        seconds = run("gdal_translate", "-q", "-co", "COMPRESS=LERC", "-co", f"MAX_Z_ERROR={z:.6g}",
                      source, f"{work}/p.tif")
        got = os.path.getsize(f"{work}/p.tif")
        if best is None or abs(got - size) < abs(best[0] - size):
            best = (got, z, seconds)
            os.replace(f"{work}/p.tif", f"{work}/best.tif")
        lo, hi = (z, hi) if got > size else (lo, z)
    return f"{work}/best.tif", best[2], best[1]


print(f"{W} x {H} pixels per band; vexal_encode -c 2 beside a peer at the same size, same run.")
print(f"{'image':15} {'coder':22} {'ratio':>6} {'bits':>5} {'PSNR dB':>8} {'edge':>8} {'inner':>8} "
      f"{'mask err':>8} {'time s':>6}")
for name, gdal_type, bands, nodata in fixtures:
    source = f"{work}/src.tif"
    make_geotiff(source, bands, gdal_type, nodata=nodata)
    samples = W * H * len(bands)
    raw = samples * gdal.GetDataTypeSize(gdal_type) // 8
    for f in ("x.vxl", "x.txt", "x.tif"):
        if os.path.exists(f"{work}/{f}"):
            os.remove(f"{work}/{f}")
    seconds = run(f"{build}/vexal_encode", "-tifg", "-i", source, "-o", f"{work}/x.vxl", "-c", "2",
                  "-t", work)
    size = os.path.getsize(f"{work}/x.vxl")
    run(f"{build}/vexal_decode", "-i", f"{work}/x.vxl", "-o", f"{work}/x.tif")
    rows = [("vexal -c 2", size, measure(name, source, f"{work}/x.tif", seconds, nodata))]
    if gdal_type == F32:
        peer, seconds, z = lerc_at(source, size)
        rows.append((f"GTiff LERC z={z:.3g}", os.path.getsize(peer),
                     measure(name, source, peer, seconds, nodata)))
        # And LERC at about our error: a bound of sqrt(3) times our RMS error (uniform error).
        peak = max(float(b[~outside].max() - b[~outside].min()) if nodata is not None else
                   float(b.max() - b.min()) for b in bands)
        z = 3 ** 0.5 * peak / 10 ** (rows[0][2][0] / 20)
        seconds = run("gdal_translate", "-q", "-co", "COMPRESS=LERC", "-co", f"MAX_Z_ERROR={z:.6g}",
                      source, f"{work}/p.tif")
        rows.append((f"GTiff LERC z={z:.3g}", os.path.getsize(f"{work}/p.tif"),
                     measure(name, source, f"{work}/p.tif", seconds, nodata)))
    else:
        peer, seconds = jp2_at(source, size, raw)
        rows.append(("GDAL JP2OpenJPEG", os.path.getsize(peer),
                     measure(name, source, peer, seconds, nodata)))
    for coder, nbytes, m in rows:
        extra = (f"{m[1]:8.2f} {m[2]:8.2f} {m[3]:8d}" if nodata is not None else f"{'':8} {'':8} {'':8}")
        print(f"{name:15} {coder:22} {raw / nbytes:6.2f} {8 * nbytes / samples:5.2f} {m[0]:8.2f} "
              f"{extra} {m[-1]:6.2f}", flush=True)
PY
