"""Inputs read through GDAL: each cell is written by `gdal_translate -of VXL -srcwin ...` with
the plugin, so anything GDAL opens (a VRT over many files, a COG, a JPEG 2000) is gridded
without first becoming a mosaic vexal_encode reads. Only GDAL's programs are run here."""

import json
import os
import subprocess

from .check import ProgramError, last_error_line, run_program

TRANSLATOR = "gdal_translate"
# vexal_encode's options and the creation options of the VXL driver that do the same.
VALUED = {"-n": "NLEV", "-c": "RATIO", "-psnr": "PSNR", "-b": "BLOCKSIZE",
          "-threads": "NUM_THREADS", "-w": "WEIGHT", "-g": "GAMMA", "-t": "TEMP_DIR"}
FLAGS = {"-rdo": "RDO=YES", "-nd": "DITHER=NO", "-nodata": "NODATA=YES"}
# The sample types the driver writes, with their bits per sample.
WORD_LENGTHS = {"Byte": 8, "UInt16": 16, "Int16": 16, "Float32": 32}


class GdalInputError(Exception):
    pass


def creation_options(args):
    """The `-co KEY=VALUE` arguments of gdal_translate for vexal_encode-style options; `-co`
    itself passes any creation option through."""
    out = []
    i = 0
    while i < len(args):
        arg = args[i]
        if arg in FLAGS:
            out += ["-co", FLAGS[arg]]
        elif arg in VALUED or arg == "-co":
            if i + 1 == len(args):
                raise GdalInputError(f"{arg} needs a value")
            i += 1
            if arg == "-co":
                refuse_known(args[i])
            out += ["-co", args[i] if arg == "-co" else f"{VALUED[arg]}={args[i]}"]
        else:
            raise GdalInputError(f"{arg} has no creation option of the VXL driver; the GDAL "
                                 f"path takes {', '.join([*VALUED, *FLAGS])} and -co KEY=VALUE")
        i += 1
    return out


def refuse_known(option):
    # The plan cuts and sizes the cells by -n and -c: a second spelling could disagree.
    switch = {"NLEV": "-n", "RATIO": "-c"}.get(option.split("=", 1)[0].upper())
    if switch:
        raise GdalInputError(f"-co {option}: give {switch} instead")


def sibling(program, name):
    """`name` from `program`'s folder when `program` has one (GDAL's programs come together)."""
    return os.path.join(os.path.dirname(program), name) if os.sep in program else name


def gdalinfo(translator, args):
    command = [sibling(translator, "gdalinfo"), *args]
    try:
        return run_program(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    except ProgramError as e:
        raise GdalInputError(str(e)) from e


def require_driver(translator):
    if gdalinfo(translator, ["--format", "VXL"]).returncode != 0:
        raise GdalInputError("GDAL has no VXL driver: point GDAL_DRIVER_PATH at the folder "
                             "holding gdal_VXL.so")


def describe(translator, source):
    """Width, height, bands and bits per sample of `source` as GDAL opens it."""
    proc = gdalinfo(translator, ["-json", "-nomd", "-norat", "-noct", source])
    if proc.returncode != 0:
        raise GdalInputError(f"GDAL cannot open {source}: "
                             f"{last_error_line(proc.stderr, proc.returncode)}")
    info = json.loads(proc.stdout)
    width, height = info["size"]
    types = {band["type"] for band in info["bands"]}
    if len(types) != 1 or not types <= WORD_LENGTHS.keys():
        raise GdalInputError(f"{source} has {'/'.join(sorted(types)) or 'no'} bands; the VXL "
                             f"driver writes one of {', '.join(WORD_LENGTHS)} for all bands")
    return width, height, len(info["bands"]), WORD_LENGTHS[types.pop()]


def translate_command(translator, args, region, written, work):
    """gdal_translate writing `region` (x0, y0, x1, y1, inclusive) of the plan's input, which
    `args` ends with; its temporary files go to the cell's own folder unless TEMP_DIR says."""
    x0, y0, x1, y1 = region
    temp = [] if any(a.startswith("TEMP_DIR=") for a in args) else ["-co", f"TEMP_DIR={work}"]
    return [translator, "-q", "-of", "VXL", "-srcwin", str(x0), str(y0), str(x1 - x0 + 1),
            str(y1 - y0 + 1), *temp, *args, written]
