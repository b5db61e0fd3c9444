"""python3 -m vexal_grid end to end: a real Dask cluster on the loopback interface encodes a
mosaic of real GeoTIFF tiles as a 2 x 2 grid; the cells decode to the mosaic within a single
file's error, the VRT reads as the mosaic through GDAL, a worker killed mid-run costs nothing
but time, and a finished plan runs to nothing."""

import json
import os
import signal
import subprocess
import sys
import time

import pytest

from conftest import decode, gdal, np, psnr

ENCODER_ARGS = ["-tifg", "-mos", "-i", "tiles.txt", "-c", "2"]
CELL_FILES = sorted(f"r{r}_c{c}.{ext}" for r in (0, 1) for c in (0, 1)
                    for ext in ("vxl", "vxw", "txt"))


def grid(*args, cwd, timeout=240):
    return subprocess.run([sys.executable, "-m", "vexal_grid", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=timeout)


def plan(folder, mosaic, encoder, *extra):
    r = grid("plan", "-o", str(folder), "--encoder", encoder, *extra, "--", *ENCODER_ARGS,
             cwd=mosaic.parent)
    assert r.returncode == 0, r.stderr
    return json.loads((folder / "plan.json").read_text())


def assembled(decoder, folder, plan_):
    """The cells decoded by vexal_decode and put together where the plan places them."""
    whole = np.zeros((plan_["height"], plan_["width"]))
    for r, (y0, y1) in enumerate(plan_["rows"]):
        for c, (x0, x1) in enumerate(plan_["columns"]):
            name = f"r{r}_c{c}"
            whole[y0:y1 + 1, x0:x1 + 1] = decode(decoder, folder / f"{name}.vxl",
                                                 folder / f"{name}.decoded.tif")
            os.remove(folder / f"{name}.decoded.tif")
    return whole


@pytest.fixture(scope="module")
def single(tmp_path_factory, programs, mosaic):
    """The whole mosaic encoded as one file, the reference for quality and georeferencing."""
    encoder, decoder = programs
    folder = tmp_path_factory.mktemp("single")
    subprocess.run([encoder, *ENCODER_ARGS, "-o", str(folder / "single.vxl")], cwd=mosaic.parent,
                   check=True, capture_output=True, timeout=120)
    return folder / "single.vxl", decode(decoder, folder / "single.vxl", folder / "single.tif")


@pytest.fixture(scope="module")
def local_grid(tmp_path_factory, programs, mosaic):
    folder = tmp_path_factory.mktemp("grid") / "g"
    plan_ = plan(folder, mosaic, programs[0], "--cell", "256")
    # The encoder named to plan is the one run uses.
    r = grid("run", str(folder), "--local", "2", cwd=mosaic.parent)
    assert r.returncode == 0, r.stdout + r.stderr
    return folder, plan_, r.stdout


def test_local_cluster_encodes_the_grid_within_a_single_files_error(programs, utm, single,
                                                                   local_grid, mosaic):
    folder, plan_, out = local_grid
    assert plan_["columns"] == plan_["rows"] == [[0, 255], [256, 511]]
    assert "Cells: 4 (4 encoded now, 0 before, 0 failed)" in out
    assert sorted(os.listdir(folder)) == sorted(CELL_FILES + ["plan.json"])
    source = gdal.Open(utm).ReadAsArray()
    cells = assembled(programs[1], folder, plan_)
    assert psnr(cells, source) >= psnr(single[1], source) - 0.5 >= 34

    # A second run of a finished plan starts no cluster and touches nothing.
    stamps = {n: os.stat(folder / n).st_mtime_ns for n in CELL_FILES}
    again = grid("run", str(folder), "--local", "2", cwd=mosaic.parent)
    assert again.returncode == 0
    assert "nothing to do" in again.stdout
    assert stamps == {n: os.stat(folder / n).st_mtime_ns for n in CELL_FILES}


def test_index_reads_as_the_mosaic_through_gdal(programs, utm, single, local_grid, mosaic):
    if os.environ.get("VEXAL_SANITIZE", "OFF").upper() in ("ON", "1", "TRUE"):
        pytest.skip("a sanitized GDAL driver cannot load into this Python")
    folder, plan_, _ = local_grid
    try:
        reference = gdal.Open(str(single[0]))
    except RuntimeError:
        pytest.skip("GDAL has no .vxl driver here (GDAL_DRIVER_PATH)")
    r = grid("index", str(folder), cwd=mosaic.parent)
    assert r.returncode == 0, r.stderr
    vrt = gdal.Open(str(folder / "index.vrt"))
    source = gdal.Open(utm)
    assert (vrt.RasterXSize, vrt.RasterYSize, vrt.RasterCount) == (512, 512, 1)
    assert vrt.GetGeoTransform() == pytest.approx(source.GetGeoTransform())
    assert vrt.GetGeoTransform() == pytest.approx(reference.GetGeoTransform())
    assert vrt.GetSpatialRef().IsSame(source.GetSpatialRef())
    pixels = vrt.ReadAsArray()
    assert psnr(pixels, source.ReadAsArray()) >= psnr(single[1], source.ReadAsArray()) - 0.5
    assert np.array_equal(pixels, assembled(programs[1], folder, plan_))
    # A window across both grid lines reads the same pixels as the whole.
    window = vrt.ReadAsArray(200, 230, 100, 60)
    assert np.array_equal(window, pixels[230:290, 200:300])


def slow_first_encoder(folder, encoder):
    """An encoder that, the first time only, finishes its cell and then waits to be killed with
    its worker: the worst moment, a complete file not yet renamed."""
    script = folder / "slow_encoder.sh"
    script.write_text(f"""#!/bin/sh
if mkdir "{folder}/first" 2>/dev/null; then
  "{encoder}" "$@" || exit $?
  echo $$ > "{folder}/first/pid.part" && mv "{folder}/first/pid.part" "{folder}/first/pid"
  exec sleep 60
fi
exec "{encoder}" "$@"
""")
    script.chmod(0o755)
    return script


def parent_of(pid):
    with open(f"/proc/{pid}/stat") as f:
        return int(f.read().rsplit(")", 1)[1].split()[1])


def test_killed_worker_ends_with_every_cell_once(tmp_path, programs, mosaic):
    distributed = pytest.importorskip("distributed")
    folder = tmp_path / "g"
    plan(folder, mosaic, programs[0], "--cell", "256")
    encoder = slow_first_encoder(tmp_path, programs[0])
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        workers = set(client.run(os.getpid).values())
        run = subprocess.Popen([sys.executable, "-m", "vexal_grid", "run", str(folder),
                                "--scheduler", cluster.scheduler_address, "--encoder",
                                str(encoder)], cwd=mosaic.parent, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
        try:
            marker = tmp_path / "first" / "pid"
            deadline = time.monotonic() + 120
            while not marker.exists() and time.monotonic() < deadline and run.poll() is None:
                time.sleep(0.05)
            assert marker.exists(), "no cell started"
            worker = parent_of(int(marker.read_text()))
            assert worker in workers
            os.kill(worker, signal.SIGKILL)
            out, err = run.communicate(timeout=180)
        finally:
            if run.poll() is None:
                run.kill()
                run.communicate()
    assert run.returncode == 0, out + err
    assert "Cells: 4 (4 encoded now, 0 before, 0 failed)" in out
    assert sorted(os.listdir(folder)) == sorted(CELL_FILES + ["plan.json"])
    again = grid("run", str(folder), "--scheduler", "tcp://127.0.0.1:9", cwd=mosaic.parent)
    assert again.returncode == 0 and "nothing to do" in again.stdout


def test_plans_and_indexes_refuse_what_cannot_work(tmp_path, programs, mosaic):
    encoder = programs[0]
    # Cells round down to multiples of 2^levels; a last piece too small for the levels joins
    # its neighbour.
    p = plan(tmp_path / "a", mosaic, encoder, "--cell", "200")
    assert p["columns"] == [[0, 191], [192, 383], [384, 511]]
    p = plan(tmp_path / "b", mosaic, encoder, "--cell", "208")
    assert p["columns"] == [[0, 207], [208, 511]]
    cwd = mosaic.parent
    for args, message in [
        (["plan", "-o", str(tmp_path / "a"), "--encoder", encoder, "--", *ENCODER_ARGS],
         "exists already"),
        (["plan", "-o", str(tmp_path / "c"), "--encoder", encoder, "--", *ENCODER_ARGS, "-o",
          "x.vxl"], "-o is set by the grid"),
        (["plan", "-o", str(tmp_path / "c"), "--encoder", encoder, "--", "-tifg", "-i",
          "missing.tif"], "could not describe the input"),
        (["index", str(tmp_path / "a")],
         "9 of 9 cells are not ready (not encoded: r0_c0, r0_c1, r0_c2, r1_c0, r1_c1, ...)"),
        (["run", str(tmp_path / "nowhere")], "cannot read the plan"),
        (["run", str(tmp_path / "a"), "--encoder", str(tmp_path / "none")],
         f"the encoder {tmp_path / 'none'} does not exist or cannot be run"),
    ]:
        r = grid(*args, cwd=cwd)
        assert r.returncode == 1 and message in r.stderr, (args, r.stderr)

    # A damaged plan is one line naming the file and the fault, for every command.
    good = json.loads((tmp_path / "a" / "plan.json").read_text())
    for change, message in [
        ({"rows": None}, "'rows' is missing"),
        ({"rows": [[0, 100], [120, 511]]}, "'rows' has [120, 511] where a span starting at pixel 101"),
        ({"columns": [[0, 300]]}, "'columns' ends at pixel 300, not 511"),
        ({"width": "512"}, "'width' is \"512\", not a positive whole number"),
        ({"encoder_args": "-tifg"}, "'encoder_args' is not a list"),
    ]:
        damaged = {k: v for k, v in {**good, **change}.items() if v is not None}
        (tmp_path / "a" / "plan.json").write_text(json.dumps(damaged))
        for command in ("run", "index"):
            r = grid(command, str(tmp_path / "a"), cwd=cwd)
            assert r.returncode == 1 and len(r.stderr.splitlines()) == 1, r.stderr
            assert r.stderr.startswith(f"vexal_grid: error: {tmp_path / 'a' / 'plan.json'} is "
                                       f"not a plan of vexal_grid: {message}"), r.stderr


def test_index_keeps_the_nodata_of_16_bit_cells(tmp_path, programs, monkeypatch):
    """A UInt16 GeoTIFF with a nodata collar cut into cells (encoded here one by one, as the
    cluster's workers do): the index has the input's type, nodata value and exact mask."""
    if os.environ.get("VEXAL_SANITIZE", "OFF").upper() in ("ON", "1", "TRUE"):
        pytest.skip("a sanitized GDAL driver cannot load into this Python")
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
    from imagery_fixtures import collared_terrain, make_geotiff
    from vexal_grid.cell import encode_cell
    from vexal_grid.plan import cells, make_plan

    data, outside = collared_terrain(300, 200, 3, 200, 9000, 0, True)
    make_geotiff(str(tmp_path / "collar.tif"), [data], gdal.GDT_UInt16, nodata=0)
    folder = tmp_path / "g"
    monkeypatch.chdir(tmp_path)
    plan_ = make_plan(str(folder), ["-tifg", "-i", "collar.tif", "-c", "2"], cell=128,
                      encoder=programs[0])
    for name, region in cells(plan_):
        encode_cell(programs[0], plan_["checker"], plan_["encoder_args"], plan_["cwd"], str(folder),
                    name, region)
    r = grid("index", str(folder), cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    vrt = gdal.Open(str(folder / "index.vrt"))
    band = vrt.GetRasterBand(1)
    assert band.DataType == gdal.GDT_UInt16 and band.GetNoDataValue() == 0
    assert np.array_equal(band.GetMaskBand().ReadAsArray() == 0, outside)


def damaging_encoder(folder, encoder, cell):
    """An encoder that exits 0 but leaves `cell`'s file unreadable (its tables cut short)."""
    script = folder / "damaging_encoder.sh"
    script.write_text(f"""#!/bin/sh
"{encoder}" "$@" || exit $?
for arg; do case "$arg" in */{cell}.vxl) truncate -s 2000 "$arg";; esac; done
""")
    script.chmod(0o755)
    return script


def test_unreadable_cells_are_failures_and_block_the_index(tmp_path, programs, mosaic):
    folder = tmp_path / "g"
    plan(folder, mosaic, programs[0], "--cell", "256")
    # A program missing on the workers is named.
    r = grid("run", str(folder), "--local", "1", "--encoder", "vexal_encode_elsewhere",
             cwd=mosaic.parent)
    assert r.returncode == 1
    assert "failed: r0_c0: cannot run vexal_encode_elsewhere: No such file or directory" in r.stdout

    encoder = damaging_encoder(tmp_path, programs[0], "r1_c0")
    r = grid("run", str(folder), "--local", "2", "--encoder", str(encoder), cwd=mosaic.parent)
    assert r.returncode == 1
    assert "failed: r1_c0: the encoder's file fails the check: damaged file: " in r.stdout
    assert "Cells: 4 (3 encoded now, 0 before, 1 failed)" in r.stdout
    assert not (folder / "r1_c0.vxl").exists()
    r = grid("index", str(folder), cwd=mosaic.parent)
    assert r.returncode == 1
    assert "1 of 4 cells are not ready (not encoded: r1_c0); run the plan again" in r.stderr

    # A cell damaged after its run: index names it with the damage, and the next run (with the
    # plan's own encoder) encodes it again.
    with open(folder / "r0_c1.vxl", "r+b") as f:
        f.truncate(3000)
    r = grid("index", str(folder), cwd=mosaic.parent)
    assert r.returncode == 1 and "2 of 4 cells are not ready (not encoded: r1_c0; damaged: " \
        f"r0_c1 ({folder / 'r0_c1.vxl'}" in r.stderr, r.stderr
    r = grid("run", str(folder), "--local", "2", cwd=mosaic.parent)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "r0_c1.vxl is damaged (" in r.stdout
    assert "Cells: 4 (2 encoded now, 2 before, 0 failed)" in r.stdout


MAIN_WITHOUT_GUARD = """import sys
from vexal_grid.__main__ import main
status = main(["run", {folder!r}, "--local", "2"])
print("status", status)
"""


def test_a_script_without_main_guard_or_from_standard_input_runs(tmp_path, programs, mosaic):
    """Worker processes would import __main__ again: a run from such a script, or from
    standard input, used to wait for ever."""
    for way in (str(tmp_path / "script.py"), "-"):  # "-": the program on standard input
        folder = tmp_path / f"g{len(way)}"
        plan(folder, mosaic, programs[0], "--cell", "256")
        text = MAIN_WITHOUT_GUARD.format(folder=str(folder))
        (tmp_path / "script.py").write_text(text)
        r = subprocess.run([sys.executable, way], input=text, cwd=mosaic.parent,
                           capture_output=True, text=True, timeout=180)
        assert r.returncode == 0 and "status 0" in r.stdout, (way, r.stdout, r.stderr)
        assert "Cells: 4 (4 encoded now, 0 before, 0 failed)" in r.stdout


def test_interrupted_local_run_ends_its_encoders_at_once(tmp_path, programs, mosaic):
    """The local workers are threads of the run: Ctrl-C must not wait for their encoders."""
    folder = tmp_path / "g"
    plan(folder, mosaic, programs[0], "--cell", "256")
    encoder = tmp_path / "waiting_encoder.sh"
    encoder.write_text(f'#!/bin/sh\necho $$ >> "{tmp_path}/pids"\nexec sleep 60\n')
    encoder.chmod(0o755)
    run = subprocess.Popen([sys.executable, "-m", "vexal_grid", "run", str(folder), "--local", "2",
                            "--encoder", str(encoder)], cwd=mosaic.parent, text=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                           preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    pids = tmp_path / "pids"
    try:
        deadline = time.monotonic() + 60
        while (not pids.exists() or len(pids.read_text().split()) < 2) and \
                time.monotonic() < deadline:
            time.sleep(0.05)
        run.send_signal(signal.SIGINT)
        _, err = run.communicate(timeout=30)
    finally:
        if run.poll() is None:
            run.kill()
            run.communicate()
    assert (run.returncode, err) == (130, "vexal_grid: interrupted\n")
    for pid in pids.read_text().split():
        assert not os.path.exists(f"/proc/{pid}") or "Z" in open(f"/proc/{pid}/stat").read().split()[2]


def gdal_grid_environment(programs, **changes):
    """The environment of a grid read through GDAL: vxl_check on the PATH, as the installed
    vexal-grid has it, and the build's plugin on GDAL's."""
    if os.environ.get("VEXAL_SANITIZE", "OFF").upper() in ("ON", "1", "TRUE"):
        pytest.skip("a sanitized GDAL driver cannot load into gdal_translate")
    if not os.environ.get("GDAL_DRIVER_PATH"):
        pytest.skip("GDAL_DRIVER_PATH not set (run through ctest)")
    path = os.path.dirname(programs[0]) + os.pathsep + os.environ.get("PATH", "")
    return {**os.environ, "PATH": path, **changes}


def three_geotiff_mosaic(folder):
    """A VRT over three RGB GeoTIFFs side by side, of unequal widths, made by GDAL."""
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
    from imagery_fixtures import GEO, make_geotiff, terrain

    names = []
    for k, (x0, x1) in enumerate(((0, 230), (230, 420), (420, 600))):
        bands = [np.round(terrain(x1 - x0, 300, 3 * k + b, 10, 245)) for b in range(3)]
        names.append(str(folder / f"part{k}.tif"))
        make_geotiff(names[-1], bands, gdal.GDT_Byte,
                     geo=(GEO[0] + x0 * GEO[1], *GEO[1:]))
    gdal.BuildVRT(str(folder / "mosaic.vrt"), names)
    return folder / "mosaic.vrt"


def test_gdal_input_grid_reads_back_as_its_source(tmp_path, programs):
    env = gdal_grid_environment(programs)
    source = three_geotiff_mosaic(tmp_path)
    folder = tmp_path / "g"

    def grid_here(*args):
        r = subprocess.run([sys.executable, "-m", "vexal_grid", *args], cwd=tmp_path, env=env,
                           capture_output=True, text=True, timeout=240)
        assert r.returncode == 0, r.stdout + r.stderr
        return r.stdout

    grid_here("plan", "-o", str(folder), "--input", "mosaic.vrt", "--cell", "128", "--",
              "-n", "3", "-c", "2", "-threads", "1")
    assert json.loads((folder / "plan.json").read_text())["encoder_args"][-1] == str(source)
    assert "Cells: 10 (10 encoded now, 0 before, 0 failed)" in grid_here("run", str(folder),
                                                                        "--local", "2")
    grid_here("index", str(folder))
    assert sorted(os.listdir(folder)) == sorted(
        [f"r{r}_c{c}.vxl" for r in (0, 1) for c in range(5)] + ["plan.json", "index.vrt"])
    vrt, src = gdal.Open(str(folder / "index.vrt")), gdal.Open(str(source))
    assert (vrt.RasterXSize, vrt.RasterYSize, vrt.RasterCount) == (600, 300, 3)
    assert vrt.GetRasterBand(1).DataType == gdal.GDT_Byte
    assert vrt.GetGeoTransform() == pytest.approx(src.GetGeoTransform())
    assert vrt.GetSpatialRef().IsSame(src.GetSpatialRef())
    pixels, expected = vrt.ReadAsArray(), src.ReadAsArray()
    assert min(psnr(pixels[b], expected[b]) for b in range(3)) >= 40
    # Each cell holds its own corner of the map, not the grid's origin.
    cell = gdal.Open(str(folder / "r1_c4.vxl"))
    assert cell.GetGeoTransform() == pytest.approx(
        gdal.Translate("/vsimem/cell.vrt", src, srcWin=[512, 128, 88, 172]).GetGeoTransform())


def test_gdal_input_plans_refuse_in_one_line(tmp_path, programs):
    env = gdal_grid_environment(programs)
    three_geotiff_mosaic(tmp_path)
    (tmp_path / "plugins").mkdir()
    for args, changes, message in [
        (["--", "-n", "3", "-wl", "16"], {}, "-wl has no creation option of the VXL driver"),
        (["--", "-co", "NLEV=3"], {}, "-co NLEV=3: give -n instead"),
        ([], {"GDAL_DRIVER_PATH": str(tmp_path / "plugins")}, "GDAL has no VXL driver: point "
         "GDAL_DRIVER_PATH at the folder holding gdal_VXL.so"),
        (["--input", "missing.vrt"], {}, "GDAL cannot open missing.vrt: "),
    ]:
        command = ["plan", "-o", str(tmp_path / "g"), "--input", "mosaic.vrt", *args]
        r = subprocess.run([sys.executable, "-m", "vexal_grid", *command], cwd=tmp_path,
                           env={**env, **changes}, capture_output=True, text=True, timeout=60)
        assert r.returncode == 1 and len(r.stderr.splitlines()) == 1, (args, r.stderr)
        assert r.stderr.startswith(f"vexal_grid: error: {message}"), (args, r.stderr)
        assert not (tmp_path / "g").exists()
