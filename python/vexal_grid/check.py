"""The structure check of a cell file: vxl_check walks its tables and records (not its pixels),
so a cell the encoder wrote but no reader could open is never counted as done."""

import concurrent.futures
import os
import shutil
import subprocess
import threading

CHECKER = "vxl_check"


class ProgramError(Exception):
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


def checker_for(plan, encoder):
    """The checker beside `encoder` (this run's), else the one the plan found."""
    beside = find_checker(encoder)
    return beside if beside != CHECKER else plan.get("checker", CHECKER)


_running = set()
_running_lock = threading.Lock()
_stopping = False


def run_program(command, timeout=None, **kwargs):
    """subprocess.run that names the program when it cannot be started or does not finish,
    and whose program stop_programs can end."""
    try:
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, text=True, errors="replace",
                                **kwargs)
    except OSError as e:
        raise ProgramError(f"cannot run {command[0]}: {e.strerror or e}") from e
    with proc:
        with _running_lock:
            _running.add(proc)
            if _stopping:
                proc.terminate()
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired as e:
            proc.kill()
            raise ProgramError(f"{command[0]} did not finish within {timeout} s") from e
        finally:
            with _running_lock:
                _running.discard(proc)
    return subprocess.CompletedProcess(command, proc.returncode, out, err)


def stop_programs():
    """Ends the programs that this process's workers still run: a local run interrupted (its
    workers are threads) must not wait for them, nor for those its tasks start after this."""
    global _stopping
    with _running_lock:
        _stopping = True
        for proc in _running:
            proc.terminate()


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
