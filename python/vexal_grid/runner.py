"""Running a plan on a Dask cluster: one task per unfinished cell, then a summary."""

import contextlib
import logging
import os
import shutil
import sys
import time
import uuid

from .cell import CellError, encode_cell, remove_leftovers
from .check import NOT_ENCODED, checker_for, stop_programs, unsound_cells
from .plan import PlanError, cells, load_plan


@contextlib.contextmanager
def dask_client(scheduler, local):
    try:
        from distributed import Client, LocalCluster
    except ImportError as e:
        raise PlanError(f"run needs dask.distributed (Debian: python3-distributed): {e}") from e

    if scheduler:
        with Client(scheduler, timeout="30s") as client:
            yield client
        return
    workers = local or os.cpu_count() or 1
    # Workers in this process, talking in memory: the encoding runs in the encoder's own
    # processes anyway, and worker processes would import __main__ again, which a script
    # without a main guard or a program read from standard input cannot survive (the run would
    # wait for ever). The HTTP servers that Dask starts all the same stay on the loopback.
    loopback = "127.0.0.1:0"
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=False,
                      dashboard_address=None, scheduler_kwargs={"dashboard_address": loopback},
                      worker_dashboard_address=loopback, silence_logs=logging.ERROR) as cluster, \
            Client(cluster) as client:
        try:
            yield client
        except BaseException:
            # Interrupted: the encoders of the workers (threads here) end now, and the
            # complaints of the cluster closing under a cancelled progress bar stay unsaid.
            stop_programs()
            for name in ("distributed", "asyncio"):
                logging.getLogger(name).setLevel(logging.CRITICAL)
            raise


def resolve_program(program, role):
    # A path with a folder must be the same for every worker: make it absolute. A bare name is
    # looked up on each worker's PATH.
    if os.sep in program:
        program = os.path.abspath(program)
        if not os.access(program, os.X_OK):
            raise PlanError(f"the {role} {program} does not exist or cannot be run")
    elif shutil.which(program) is None:
        print(f"vexal_grid: note: the {role} {program} is not on this machine's PATH; the workers "
              "must have it on theirs", file=sys.stderr)
    return program


def unfinished(all_cells, out_dir, checker, out):
    """The cells to encode: those without a file, and those whose file fails the check (removed
    here, to be encoded again)."""
    problems = unsound_cells(checker, out_dir, [n for n, _ in all_cells])
    for name, reason in problems.items():
        if reason != NOT_ENCODED:
            print(f"{name}.vxl is damaged ({reason}); encoding it again", file=out)
            os.remove(os.path.join(out_dir, name + ".vxl"))
    return [(n, r) for n, r in all_cells if n in problems]


def run(out_dir, scheduler=None, local=None, encoder=None, out=sys.stdout):
    """Encodes every unfinished cell; returns the number of cells that failed."""
    out_dir = os.path.abspath(out_dir)
    plan = load_plan(out_dir)
    encoder = resolve_program(encoder or plan.get("encoder", "vexal_encode"), "encoder")
    checker = resolve_program(checker_for(plan, encoder), "checker")
    all_cells = cells(plan)
    todo = unfinished(all_cells, out_dir, checker, out)
    started = time.monotonic()
    failed = []
    if not todo:
        print(f"All {len(all_cells)} cells are encoded already; nothing to do.", file=out)
    else:
        from distributed import progress

        remove_leftovers(out_dir)
        token = uuid.uuid4().hex[:8]
        with dask_client(scheduler, local) as client:
            futures = [client.submit(encode_cell, encoder, checker, plan["encoder_args"],
                                     plan["cwd"], out_dir, name, region,
                                     plan.get("via", "encoder"), plan.get("gdal_driver_path"),
                                     key=f"vexal-{name}-{token}", pure=False)
                       for name, region in todo]
            progress(futures)
            print(file=out)
            for (name, _), future in zip(todo, futures):
                error = future.exception()
                if error is not None:
                    failed.append(name)
                    reason = str(error) if isinstance(error, CellError) else f"{name}: {error!r}"
                    print(f"failed: {reason}", file=out)
        remove_leftovers(out_dir)
    summarize(plan, out_dir, len(todo) - len(failed), len(all_cells) - len(todo), failed,
              time.monotonic() - started, out)
    return len(failed)


def summarize(plan, out_dir, done_now, done_before, failed, seconds, out):
    total = 0
    count = 0
    for name, _ in cells(plan):
        path = os.path.join(out_dir, name + ".vxl")
        if os.path.exists(path):
            total += os.path.getsize(path)
            count += 1
    source = plan["width"] * plan["height"] * plan["bands"] * plan["word_length"] / 8
    ratio = f"{source / total:.2f}:1" if total else "-"
    print(f"Cells: {len(cells(plan))} ({done_now} encoded now, {done_before} before, "
          f"{len(failed)} failed)", file=out)
    print(f"Files: {count} holding {total:,} bytes, compression ratio {ratio}", file=out)
    print(f"Time: {seconds:.1f} s", file=out)
    if failed:
        print(f"Run again to retry {len(failed)} failed cell(s).", file=out)
