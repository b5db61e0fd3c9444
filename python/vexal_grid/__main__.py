"""python3 -m vexal_grid plan|run|index: a large image as a grid of .vxl files."""

import argparse
import sys

from .cell import CellError
from .check import ProgramError
from .index import build_index
from .plan import PlanError, make_plan
from .runner import run

USAGE = """python3 -m vexal_grid plan -o DIR [--cell PIXELS] [--encoder PATH] -- ENCODER-ARGS...
       python3 -m vexal_grid plan -o DIR --input GDAL-INPUT [--cell PIXELS] [--encoder PATH]
                                  [-- OPTIONS...]
       python3 -m vexal_grid run DIR [--scheduler ADDRESS | --local N] [--encoder PATH]
       python3 -m vexal_grid index DIR"""


def parser():
    p = argparse.ArgumentParser(prog="python3 -m vexal_grid", usage=USAGE,
                                description="Encode a large image as a grid of .vxl files "
                                "on a Dask cluster, and read the grid through GDAL as one.")
    sub = p.add_subparsers(dest="command", required=True)
    plan = sub.add_parser("plan", help="cut the input into cells; writes DIR/plan.json")
    plan.add_argument("-o", dest="dir", required=True, help="folder of the grid")
    plan.add_argument("--cell", type=int, help="cell edge in pixels (rounded down to a "
                      "multiple of 2^levels; default: up to 16384, files under 1 GiB)")
    plan.add_argument("--input", help="an input read through GDAL (a VRT, COG, JPEG 2000, "
                      "...): each cell is written by gdal_translate -of VXL")
    plan.add_argument("--encoder", help="the vexal_encode program (with --input: the "
                      "gdal_translate program)")
    plan.add_argument("encoder_args", nargs=argparse.REMAINDER,
                      help="after --: the vexal_encode arguments naming the input (type flag, "
                      "-mos, -i) and any other option; with --input, the options only")
    run_p = sub.add_parser("run", help="encode every unfinished cell on a Dask cluster")
    run_p.add_argument("dir")
    where = run_p.add_mutually_exclusive_group()
    where.add_argument("--scheduler", help="address of a running dask scheduler")
    where.add_argument("--local", type=int, metavar="N",
                       help="start a local cluster of N workers (default: one per core)")
    run_p.add_argument("--encoder",
                       help="the vexal_encode program (default: the one the plan was made with)")
    index = sub.add_parser("index", help="write DIR/index.vrt, the grid as one GDAL raster")
    index.add_argument("dir")
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    try:
        if args.command == "plan":
            encoder_args = args.encoder_args
            if encoder_args[:1] == ["--"]:
                encoder_args = encoder_args[1:]
            if not encoder_args and not args.input:
                raise PlanError("no encoder arguments after --")
            plan = make_plan(args.dir, encoder_args, args.cell, args.encoder, args.input)
            print(f"{plan['width']} x {plan['height']} pixels in {len(plan['rows'])} x "
                  f"{len(plan['columns'])} cells of up to {plan['cell']} pixels")
            return 0
        if args.command == "run":
            if args.local is not None and args.local < 1:
                raise PlanError("--local needs at least one worker")
            return 1 if run(args.dir, args.scheduler, args.local, args.encoder) else 0
        print(build_index(args.dir))
        return 0
    except (PlanError, CellError, ProgramError, OSError) as e:
        print(f"vexal_grid: error: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("vexal_grid: interrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
