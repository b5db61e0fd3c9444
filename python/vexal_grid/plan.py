"""The tiling plan: which rectangle of the input each cell file holds, kept in DIR/plan.json."""

import json
import os
import re
import subprocess

PLAN_FILE = "plan.json"
# A cell's file should stay well under the 4 GiB one .vxl file can hold.
CELL_BYTES_GOAL = 1 << 30
CELL_BYTES_LIMIT = 2 << 30
DEFAULT_CELL = 16384
# Options the plan sets per cell, or that would make the encoder do something else.
RESERVED = {"-o", "-region", "-info", "-v", "-h"}
# Options whose value names a file or folder; made absolute so that any worker finds them.
PATH_OPTIONS = {"-i", "-t"}


class PlanError(Exception):
    pass


def option_value(args, name, default):
    """The value after the last `name` in the encoder arguments, or `default`."""
    value = default
    for i, arg in enumerate(args[:-1]):
        if arg == name:
            value = args[i + 1]
    return value


def absolute_paths(args, cwd):
    out = list(args)
    for i, arg in enumerate(out[:-1]):
        if arg in PATH_OPTIONS:
            out[i + 1] = os.path.normpath(os.path.join(cwd, out[i + 1]))
    return out


def describe_input(encoder, args, cwd):
    """Width, height, coded bands and estimated output bytes per pixel, from vexal_encode -info."""
    try:
        proc = subprocess.run([encoder, *args, "-info"], cwd=cwd, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=600)
    except OSError as e:
        raise PlanError(f"cannot run the encoder {encoder}: {e}") from e
    size = re.search(r"^Input: (\d+) x (\d+) pixels, (\d+) coded band", proc.stdout, re.M)
    estimate = re.search(r"^Estimated bytes per pixel: ([0-9.]+)", proc.stdout, re.M)
    if proc.returncode != 0 or not size or not estimate:
        lines = [l for l in proc.stderr.splitlines() if l.strip() and "*" not in l]
        raise PlanError("the encoder could not describe the input: "
                        + (lines[-1] if lines else f"exit status {proc.returncode}"))
    width, height, bands = (int(v) for v in size.groups())
    return width, height, bands, float(estimate.group(1))


def cuts(length, cell, min_edge):
    """Inclusive [start, end] spans of at most `cell` along an axis (the last may be longer):
    a last piece shorter than the encoder's minimum joins its neighbour."""
    if length < min_edge:
        raise PlanError(f"the image is {length} pixels across, fewer than the {min_edge} the "
                        "levels need")
    starts = list(range(0, length, cell))
    if len(starts) > 1 and length - starts[-1] < min_edge:
        starts.pop()
    ends = [s - 1 for s in starts[1:]] + [length - 1]
    return [[s, e] for s, e in zip(starts, ends)]


def choose_cell(requested, levels, bytes_per_pixel):
    align = 1 << levels
    if requested is not None:
        cell = requested // align * align
        if cell < align:
            raise PlanError(f"--cell {requested} is smaller than 2^levels = {align}")
        if cell * cell * bytes_per_pixel > CELL_BYTES_LIMIT:
            raise PlanError(f"--cell {requested} would make files of about "
                            f"{cell * cell * bytes_per_pixel / 2**30:.1f} GiB; use a smaller cell")
        return cell
    cell = max(DEFAULT_CELL // align * align, align)
    while cell > align and cell * cell * bytes_per_pixel > CELL_BYTES_GOAL:
        cell = max(cell // 2 // align * align, align)
    return cell


def make_plan(out_dir, encoder_args, cell=None, encoder="vexal_encode"):
    for arg in encoder_args:
        if arg in RESERVED:
            raise PlanError(f"{arg} is set by the grid for each cell; leave it out")
    cwd = os.getcwd()
    args = absolute_paths(encoder_args, cwd)
    try:
        levels = int(option_value(args, "-n", "4"))
        word_length = int(option_value(args, "-wl", "8"))
    except ValueError as e:
        raise PlanError(f"-n and -wl take whole numbers ({e})") from e
    if not 1 <= levels <= 9:
        raise PlanError(f"levels (-n) must be 1 to 9, not {levels}")
    width, height, bands, bytes_per_pixel = describe_input(encoder, args, cwd)
    chosen = choose_cell(cell, levels, bytes_per_pixel)
    min_edge = 4 * (1 << (levels + 1)) - 7
    plan = {
        "encoder_args": args, "cwd": cwd, "width": width, "height": height, "bands": bands,
        "levels": levels, "word_length": word_length, "cell": chosen,
        "columns": cuts(width, chosen, min_edge), "rows": cuts(height, chosen, min_edge),
        "estimated_bytes": round(bytes_per_pixel * width * height),
    }
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, PLAN_FILE)
    if os.path.exists(path):
        raise PlanError(f"{path} exists already; plan into a new folder")
    with open(path + ".part", "w") as f:
        json.dump(plan, f, indent=1)
    os.replace(path + ".part", path)
    return plan


def load_plan(out_dir):
    path = os.path.join(out_dir, PLAN_FILE)
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        raise PlanError(f"cannot read the plan {path}: {e}") from e


def cells(plan):
    """(name, [x0, y0, x1, y1]) of every cell, row by row."""
    return [(f"r{r}_c{c}", [x[0], y[0], x[1], y[1]])
            for r, y in enumerate(plan["rows"]) for c, x in enumerate(plan["columns"])]
