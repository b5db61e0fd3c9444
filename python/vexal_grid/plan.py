"""The tiling plan: which rectangle of the input each cell file holds, kept in DIR/plan.json."""

import json
import os
import re
import subprocess

from . import gdal_input
from .check import ProgramError, find_checker, last_error_line, run_program

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
        proc = run_program([encoder, *args, "-info"], cwd=cwd, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=600)
    except ProgramError as e:
        raise PlanError(f"the encoder could not describe the input: {e}") from e
    size = re.search(r"^Input: (\d+) x (\d+) pixels, (\d+) coded band", proc.stdout, re.M)
    estimate = re.search(r"^Estimated bytes per pixel: ([0-9.]+)", proc.stdout, re.M)
    if proc.returncode != 0 or not size or not estimate:
        raise PlanError("the encoder could not describe the input: "
                        + last_error_line(proc.stderr, proc.returncode))
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


def gdal_description(translator, args, source):
    """What describe_input tells, for an input read through GDAL, and the cells' arguments of
    gdal_translate (ending with the input)."""
    try:
        options = gdal_input.creation_options(args)
        gdal_input.require_driver(translator)
        width, height, bands, word_length = gdal_input.describe(translator, source)
        ratio = float(option_value(args, "-c", "20"))
    except gdal_input.GdalInputError as e:
        raise PlanError(str(e)) from e
    except ValueError as e:
        raise PlanError(f"-c takes a number ({e})") from e
    if ratio <= 0:
        raise PlanError(f"-c must be above 0, not {ratio:g}")
    # The driver's ratio counts 8-bit samples; 1.1 is the encoder's own margin for its rate.
    return width, height, bands, word_length, 1.1 * bands / ratio, [*options, source]


def make_plan(out_dir, encoder_args, cell=None, encoder=None, source=None):
    """The plan of a grid over the input that `encoder_args` name for vexal_encode or, with
    `source`, over `source` as GDAL opens it, each cell then written by gdal_translate."""
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
    encoder = encoder or (gdal_input.TRANSLATOR if source else "vexal_encode")
    if os.sep in encoder:
        # A path with a folder must be the same for every worker; a bare name is looked up on
        # each worker's PATH.
        encoder = os.path.abspath(encoder)
    if source:
        # A file is named absolutely for the workers; other names (/vsi..., URLs) stay as given.
        source = os.path.abspath(source) if os.path.exists(source) else source
        width, height, bands, word_length, bytes_per_pixel, args = gdal_description(
            encoder, args, source)
    else:
        width, height, bands, bytes_per_pixel = describe_input(encoder, args, cwd)
    chosen = choose_cell(cell, levels, bytes_per_pixel)
    min_edge = 4 * (1 << (levels + 1)) - 7
    plan = {
        "via": "gdal" if source else "encoder", "encoder": encoder,
        "checker": find_checker(encoder), "encoder_args": args, "cwd": cwd,
        "width": width, "height": height, "bands": bands,
        "levels": levels, "word_length": word_length, "cell": chosen,
        "columns": cuts(width, chosen, min_edge), "rows": cuts(height, chosen, min_edge),
        "estimated_bytes": round(bytes_per_pixel * width * height),
    }
    if source and os.environ.get("GDAL_DRIVER_PATH"):
        # The workers find the plugin where this machine found it.
        plan["gdal_driver_path"] = os.pathsep.join(
            os.path.abspath(p) for p in os.environ["GDAL_DRIVER_PATH"].split(os.pathsep) if p)
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
            plan = json.load(f)
    except (OSError, ValueError) as e:
        raise PlanError(f"cannot read the plan {path}: {e}") from e
    problem = plan_problem(plan)
    if problem:
        raise PlanError(f"{path} is not a plan of vexal_grid: {problem}")
    return plan


def whole_number(value, low=1):
    return isinstance(value, int) and not isinstance(value, bool) and value >= low


def spans_problem(spans, length):
    """What is wrong with a list of [first, last] spans that should tile 0 .. length - 1."""
    if not isinstance(spans, list) or not spans:
        return "is not a list of [first, last] pixel spans"
    expected = 0
    for span in spans:
        if (not isinstance(span, list) or len(span) != 2
                or not all(whole_number(v, 0) for v in span) or span[0] != expected
                or span[1] < span[0]):
            return f"has {json.dumps(span)} where a span starting at pixel {expected} belongs"
        expected = span[1] + 1
    return None if expected == length else f"ends at pixel {expected - 1}, not {length - 1}"


def plan_problem(plan):
    """None for a well-formed plan, else what is wrong with it (the first fault found)."""
    if not isinstance(plan, dict):
        return "it is not a JSON object"
    for key in ("width", "height", "bands", "levels", "word_length", "cell"):
        if key not in plan:
            return f"'{key}' is missing"
        if not whole_number(plan[key]):
            return f"'{key}' is {json.dumps(plan[key])}, not a positive whole number"
    if plan.get("via", "encoder") not in ("encoder", "gdal"):
        return f"'via' is {json.dumps(plan['via'])}, not \"encoder\" or \"gdal\""
    for key in ("cwd", "encoder", "checker", "gdal_driver_path"):
        if not isinstance(plan.get(key, ""), str):
            return f"'{key}' is not a string"
    if "cwd" not in plan:
        return "'cwd' is missing"
    args = plan.get("encoder_args")
    if not isinstance(args, list) or not args or not all(isinstance(a, str) for a in args):
        return "'encoder_args' is not a list of the encoder's arguments"
    for key, length in (("columns", plan["width"]), ("rows", plan["height"])):
        if key not in plan:
            return f"'{key}' is missing"
        problem = spans_problem(plan[key], length)
        if problem:
            return f"'{key}' {problem}"
    return None


def cells(plan):
    """(name, [x0, y0, x1, y1]) of every cell, row by row."""
    return [(f"r{r}_c{c}", [x[0], y[0], x[1], y[1]])
            for r, y in enumerate(plan["rows"]) for c, x in enumerate(plan["columns"])]
