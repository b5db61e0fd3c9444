"""Imagery as people have it, made with GDAL: smooth terrain-like bands, georeferenced GeoTIFFs
of any type and band count, rotated nodata collars, and the error measures of the round trips.
Shared by the imagery tests and bench/imagery.sh."""
import numpy as np
from osgeo import gdal

gdal.UseExceptions()

GEO = (500000.0, 30.0, 0.0, 4200000.0, 0.0, -30.0)  # UTM 32633, 30 m pixels


def terrain(width, height, seed, low, high):
    """A smooth field with ridges and fine texture between low and high."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    z = np.sin(x / 17.0) * np.cos(y / 23.0) + 0.5 * np.sin((x + 2 * y) / 9.0)
    z += 0.15 * rng.standard_normal((height, width))
    z = (z - z.min()) / (z.max() - z.min())
    return low + z * (high - low)


def make_geotiff(path, bands, gdal_type, options=(), nodata=None, colors=None, geo=GEO):
    height, width = bands[0].shape
    ds = gdal.GetDriverByName("GTiff").Create(path, width, height, len(bands), gdal_type,
                                              list(options))
    ds.SetGeoTransform(geo)
    ds.SetProjection("EPSG:32633")
    for k, data in enumerate(bands):
        band = ds.GetRasterBand(k + 1)
        band.WriteArray(data)
        if nodata is not None:
            band.SetNoDataValue(nodata)
        if colors:
            band.SetColorInterpretation(colors[k])
    ds = None


def collar(width, height):
    """A scene rotated inside its frame, as orthophotos are: True outside the footprint."""
    y, x = np.mgrid[0:height, 0:width]
    u, v = (x - width / 2) * 0.9 + (y - height / 2) * 0.44, (y - height / 2) * 0.9 - (x - width / 2) * 0.44
    return (np.abs(u) > width * 0.36) | (np.abs(v) > height * 0.36)


def collared_terrain(width, height, seed, low, high, nodata, integer):
    """terrain() inside a nodata collar (rounded for integer types): the data and the collar."""
    outside = collar(width, height)
    data = terrain(width, height, seed, low, high)
    if integer:
        data = np.round(data)
    data[outside] = nodata
    return data, outside


def psnr(a, b, peak):
    mse = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if mse == 0 else 10 * np.log10(peak * peak / mse)


def edge_and_inner_errors(src, out, outside):
    """RMS error of the valid pixels within 3 pixels of nodata, and of the others."""
    near = np.zeros_like(outside)
    for dy in range(-3, 4):
        for dx in range(-3, 4):
            near |= np.roll(np.roll(outside, dy, 0), dx, 1)
    err = (src.astype(np.float64) - out.astype(np.float64)) ** 2
    edge, inner = near & ~outside, ~near & ~outside
    return np.sqrt(err[edge].mean()), np.sqrt(err[inner].mean())
