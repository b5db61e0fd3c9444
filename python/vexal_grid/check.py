"""The structure check of a cell file: vxl_check walks its tables and records (not its pixels),
so a cell the encoder wrote but no reader could open is never counted as done."""

import concurrent.futures
import os
import shutil
import subprocess

CHECKER = "vxl_check"


class ProgramMissing(Exception):
    pass


def find_checker(encoder):
    """vxl_check from the encoder's folder (the two are installed together), else the bare name,
    looked up on each machine's PATH."""
    located = encoder if os.sep in encoder else shutil.which(encoder)
    if located:
        beside = os.path.join(os.path.dirname(os.path.abspath(located)), CHECKER)
        if os.access(beside, os.X_OK):
            return beside
    return CHECKER


def run_program(command, **kwargs):
    """subprocess.run that names the program when it cannot be started."""
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, text=True, errors="replace",
                              **kwargs)
    except OSError as e:
        raise ProgramMissing(f"cannot run {command[0]}: {e.strerror or e}") from e


def last_error_line(stderr, returncode):
    # Banner lines are made of asterisks; the reason is the last other line.
    lines = [l for l in stderr.splitlines() if l.strip() and "*" not in l]
    return lines[-1] if lines else f"exit status {returncode}"


def check_file(checker, path):
    """None when the file's structure is sound, else the checker's reason."""
    proc = run_program([checker, path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                       timeout=600)
    if proc.returncode == 0:
        return None
    # The first damage found is the cause of the rest.
    lines = [l for l in proc.stderr.splitlines() if l.strip()]
    return lines[0] if lines else f"{checker} exit status {proc.returncode}"


NOT_ENCODED = "not encoded"


def unsound_cells(checker, out_dir, names):
    """{name: reason} of the cells whose file is missing or fails the check, in grid order."""
    def problem(name):
        path = os.path.join(out_dir, name + ".vxl")
        return check_file(checker, path) if os.path.exists(path) else NOT_ENCODED

    # The checker reads each file through: several at once keep the disks busy.
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
        found = pool.map(problem, names)
        return {name: damage for name, damage in zip(names, found) if damage is not None}


def describe_unsound(problems, total):
    """One line naming the unsound cells: the missing ones by name, the damaged with reasons."""
    missing = [n for n, r in problems.items() if r == NOT_ENCODED]
    damaged = [f"{n} ({r})" for n, r in problems.items() if r != NOT_ENCODED]
    parts = []
    for label, items in (("not encoded", missing), ("damaged", damaged)):
        if items:
            parts.append(f"{label}: {', '.join(items[:5])}{', ...' if len(items) > 5 else ''}")
    return f"{len(problems)} of {total} cells are not ready ({'; '.join(parts)})"
