"""DIR/index.vrt: a GDAL virtual raster that places every cell file where its rectangle lies,
so GDAL clients (gdalinfo, gdal_translate, QGIS, rasterio) read the grid as one image."""

import os
import xml.etree.ElementTree as ET

from .check import checker_for, describe_unsound, unsound_cells
from .plan import PlanError, cells, load_plan

INDEX_FILE = "index.vrt"


def open_cell(path):
    try:
        from osgeo import gdal
    except ImportError as e:
        raise PlanError(f"index needs GDAL's Python bindings (Debian: python3-gdal): {e}") from e

    gdal.UseExceptions()
    try:
        return gdal.Open(path)
    except RuntimeError as e:
        raise PlanError(f"GDAL cannot open {path} ({e}); point GDAL_DRIVER_PATH at the folder "
                        "holding gdal_VXL.so") from e


def build_index(out_dir):
    out_dir = os.path.abspath(out_dir)
    plan = load_plan(out_dir)
    grid = cells(plan)
    checker = checker_for(plan, plan.get("encoder", "vexal_encode"))
    problems = unsound_cells(checker, out_dir, [n for n, _ in grid])
    if problems:
        raise PlanError(f"{describe_unsound(problems, len(grid))}; run the plan again")
    # The first cell starts at the grid's origin: its georeferencing and band layout are the
    # whole image's.
    first = open_cell(os.path.join(out_dir, grid[0][0] + ".vxl"))
    root = ET.Element("VRTDataset", rasterXSize=str(plan["width"]),
                      rasterYSize=str(plan["height"]))
    projection = first.GetProjection()
    if projection:
        ET.SubElement(root, "SRS").text = projection
    transform = first.GetGeoTransform(can_return_null=True)
    if transform:
        ET.SubElement(root, "GeoTransform").text = ", ".join(repr(v) for v in transform)
    from osgeo import gdal

    for b in range(1, first.RasterCount + 1):
        band = first.GetRasterBand(b)
        data_type = gdal.GetDataTypeName(band.DataType)
        block_x, block_y = band.GetBlockSize()
        vrt_band = ET.SubElement(root, "VRTRasterBand", dataType=data_type, band=str(b))
        ET.SubElement(vrt_band, "ColorInterp").text = gdal.GetColorInterpretationName(
            band.GetColorInterpretation())
        # Every cell has the input's nodata value; stated here, it gives the grid its mask.
        nodata = band.GetNoDataValue()
        if nodata is not None:
            ET.SubElement(vrt_band, "NoDataValue").text = repr(nodata)
        for name, (x0, y0, x1, y1) in grid:
            w, h = str(x1 - x0 + 1), str(y1 - y0 + 1)
            source = ET.SubElement(vrt_band, "SimpleSource")
            ET.SubElement(source, "SourceFilename", relativeToVRT="1").text = name + ".vxl"
            ET.SubElement(source, "SourceBand").text = str(b)
            # Sizes stated here spare GDAL opening every cell just to open the index.
            ET.SubElement(source, "SourceProperties", RasterXSize=w, RasterYSize=h,
                          DataType=data_type, BlockXSize=str(min(block_x, int(w))),
                          BlockYSize=str(min(block_y, int(h))))
            ET.SubElement(source, "SrcRect", xOff="0", yOff="0", xSize=w, ySize=h)
            ET.SubElement(source, "DstRect", xOff=str(x0), yOff=str(y0), xSize=w, ySize=h)
    ET.indent(root)
    path = os.path.join(out_dir, INDEX_FILE)
    ET.ElementTree(root).write(path + ".part", encoding="utf-8")
    os.replace(path + ".part", path)
    return path
