"""Encode an image too large for one .vxl file, or one machine, as a grid of .vxl files.

``python3 -m vexal_grid plan`` cuts the input into cells, ``run`` encodes every cell with
``vexal_encode -region`` on a Dask cluster, and ``index`` writes a GDAL VRT that reads the grid
as one georeferenced image. All pixel work is done by ``vexal_encode``; this package only plans,
schedules and keeps the folder consistent.
"""
