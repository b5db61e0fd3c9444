"""Encoding one cell; this runs on the Dask workers and needs nothing but the standard library.

The encoder writes into a private folder under DIR/.work; the finished files are renamed into
DIR, the image last, so a cell's .vxl exists only when the cell is complete and its structure
has passed the check. A task killed with
its worker leaves at most its private folder, which the next run (or the end of this one)
removes, and the encoder itself is told to stop when the worker dies.
"""

import ctypes
import os
import shutil
import signal
import subprocess
import tempfile

from .check import ProgramError, check_file, last_error_line, run_program
from .gdal_input import translate_command

WORK_DIR = ".work"
# The side files the encoder may write beside its image.
SIDE_EXTENSIONS = ("vxw", "meta", "txt")

try:
    _prctl = ctypes.CDLL(None, use_errno=True).prctl
except (OSError, AttributeError):
    _prctl = None
_PR_SET_PDEATHSIG = 1


def _stop_with_parent():
    # An encoder outliving its worker would keep writing for a task that is run again elsewhere.
    if _prctl is not None:
        _prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


class CellError(Exception):
    pass


def cell_command(encoder, args, region, written, work, via):
    if via == "gdal":
        return translate_command(encoder, args, region, written, work)
    command = [encoder, *args, "-region", *map(str, region), "-o", written]
    return command if "-t" in args else command + ["-t", work]


def encode_cell(encoder, checker, args, cwd, out_dir, name, region, via="encoder",
                driver_path=None):
    """Encodes `region` (x0, y0, x1, y1) of the input into out_dir/name.vxl, with vexal_encode
    or (`via` "gdal") gdal_translate finding the plugin in `driver_path` when given, and checks
    the file's structure; returns the file's size in bytes, or the size already there when the
    cell was finished before."""
    final = os.path.join(out_dir, name + ".vxl")
    if os.path.exists(final):
        return os.path.getsize(final)
    work_root = os.path.join(out_dir, WORK_DIR)
    os.makedirs(work_root, exist_ok=True)
    work = tempfile.mkdtemp(prefix=name + ".", dir=work_root)
    try:
        written = os.path.join(work, name + ".vxl")
        command = cell_command(encoder, args, region, written, work, via)
        env = {**os.environ, "GDAL_DRIVER_PATH": driver_path} if driver_path else None
        try:
            proc = run_program(command, cwd=cwd if os.path.isdir(cwd) else out_dir, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               preexec_fn=_stop_with_parent)
            if proc.returncode != 0:
                raise CellError(f"{name}: {last_error_line(proc.stderr, proc.returncode)}")
            damage = check_file(checker, written)
        except ProgramError as e:
            raise CellError(f"{name}: {e}") from e
        if damage is not None:
            # The file in the work folder is gone after this: the cell's name says which.
            damage = damage.removeprefix(written + ": ")
            raise CellError(f"{name}: the encoder's file fails the check: {damage}")
        for ext in SIDE_EXTENSIONS:
            side = os.path.join(work, f"{name}.{ext}")
            if os.path.exists(side):
                os.replace(side, os.path.join(out_dir, f"{name}.{ext}"))
        os.replace(written, final)
        return os.path.getsize(final)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def remove_leftovers(out_dir):
    """Removes what interrupted attempts left behind. Only for when no task of this folder runs."""
    shutil.rmtree(os.path.join(out_dir, WORK_DIR), ignore_errors=True)
