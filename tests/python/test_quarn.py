import distributed, errno, json, os, pathlib, pickle, re, threading
import subprocess, sys
import numpy as np, open3d as o3d, pytest, quarn
from memory_cgroup import memory_cgroup

# A child's peak memory over the 27 bytes per pixel of its read's output, or its ScanError in
# the memory cgroup given as argv[2].
CHILD = r"""import os, re, sys, quarn
if len(sys.argv) > 2: open(sys.argv[2] + "/cgroup.procs", "w").write(str(os.getpid()))
before = int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
scan = quarn.read(sys.argv[1])
peak = int(re.search(r"VmHWM:\s*(\d+)", open("/proc/self/status").read())[1]) * 1024
print((peak - before) / (27 * scan.pixels))"""


@pytest.fixture(scope="module")
def d(tmp_path_factory):
    d, tool = tmp_path_factory.mktemp("scans"), os.environ["QUARN_TOOL"]
    for args in (["sample", "-o", d / "s.scan", "--frames", "5", "--width", "160", "--height", "120"],
                 ["sample", "-o", d / "big.scan"], ["import", d / "s.scan", "-o", d / "s.ply", "--preview", d / "s.png"]):
        subprocess.run([tool, *args], check=True, capture_output=True)
    return d


def same(a, b):
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def test_read_equals_the_import_through_the_plugin_to_the_bit(d):
    scan, ply = quarn.read(d / "s.scan"), o3d.io.read_point_cloud(str(d / "s.ply"))
    cloud, pose = scan.to_open3d(), np.fromfile(d / "s.scan", "<f8", 17, offset=16)
    transform = np.eye(4)
    transform[:3, 3], transform[3] = pose[[3, 7, 11]], pose[12:16]
    assert scan.pixels == 5 * 160 * 120 and len(ply.points) > 1 << 16  # two chunks of PLY
    # The sample's room, 7 x 5.5 x 2.6 m from the origin, floor included: the generator's poses
    # and the plug-in's agree (its turned scan pose ignored would tilt the floor away).
    low, high = scan.points.min(0), scan.points.max(0)
    assert (low > -1e-5).all() and (high < [7 + 1e-5, 5.5 + 1e-5, 2.6]).all() and low[2] < 1e-5
    assert same(scan.points, np.asarray(ply.points)), "points differ from quarn import's"
    assert same(scan.colours / 255.0, np.asarray(ply.colors)), "colours differ"
    assert same(scan.transform, transform), "transform is not the scan pose's"
    picture = np.asarray(o3d.io.read_image(str(d / "s.png")))  # of something, not background
    assert picture.shape == (720, 960, 3) and (picture.max(2) > 60).mean() > 0.1
    assert same(np.asarray(cloud.points), np.asarray(ply.points)) and same(
        np.asarray(cloud.colors), np.asarray(ply.colors)), "to_open3d differs from the PLY's cloud"


PIXEL = np.dtype([("xyz", "<f4", 3), ("flags", "u1"), ("colour", "u1", 3)])


def pixels(b):  # each frame's pixels, from a scan file's bytes
    for at in np.frombuffer(b, "<u8", np.frombuffer(b, "<i4", 1, 12)[0], 152).astype(int):
        yield np.frombuffer(b, PIXEL, np.prod(np.frombuffer(b, "<i4", 2, at)), at + 144)


def rigid(m):  # a pose as the plug-in takes it: rows orthonormalised in order, float translation
    r, t = m[:3, :3].copy(), np.eye(4)
    for i in range(3):
        for j in range(i):
            r[i] -= r[j] * (r[j] @ r[i])
        r[i] /= np.linalg.norm(r[i])
    t[:3, :3], t[:3, 3] = r, m[:3, 3].astype(np.float32)
    return t


def test_frames_are_the_read_and_their_poses_map_the_raw_points_as_info_says(d, capfd):
    scan, frames = quarn.read(d / "s.scan", quiet=True), [*quarn.frames(d / "s.scan")]
    path, b = quarn.trajectory(d / "s.scan"), (d / "s.scan").read_bytes()
    assert capfd.readouterr().out == "", "frames or trajectory printed"
    assert same(np.concatenate([f.points for f in frames]), scan.points), "points differ"
    assert same(np.concatenate([f.colours for f in frames]), scan.colours), "colours differ"
    info = json.loads(subprocess.run([os.environ["QUARN_TOOL"], "info", "--json", d / "s.scan"],
                                     capture_output=True, check=True).stdout)
    for f, (raw, frame) in enumerate(zip(pixels(b), frames)):
        kept, pose = raw[raw["flags"] & 3 == 3], np.array(info["frames"][f]["stored_pose"])
        assert f == frame.index and frame.points.flags.owndata and same(frame.pose, path[f])
        assert same(np.array(info["frames"][f]["output_pose"]), path[f]), "info's pose differs"
        counts = [info["frames"][f][k] for k in ("pixels", "with_point", "with_colour", "with_both")]
        assert counts == [len(raw), *((raw["flags"] & m == m).sum() for m in (1, 2, 3))], counts
        assert np.allclose(path[f], np.linalg.inv(rigid(np.array(info["stored_pose"]))) @ np.linalg.inv(
            rigid(pose)), rtol=0, atol=1e-12), f"frame {f}'s pose is not the one info shows"
        assert np.allclose(kept["xyz"] @ path[f][:3, :3].T + path[f][:3, 3], frame.points,
                           rtol=0, atol=2e-6), f"frame {f}'s pose moves its points elsewhere"
        assert same(kept["colour"], frame.colours)
    assert len(info["frames"]) == len(frames) == len(path) == 5 == info["total"]["frames"]
    assert all(info["total"][k] == sum(f[k] for f in info["frames"]) for k in ("pixels", "with_point", "with_both"))
    again = pickle.loads(pickle.dumps(frames[2]))
    assert repr(again) == repr(frames[2]) == "<quarn.Frame 2: 16410 points>" and all(
        same(getattr(again, a), getattr(frames[2], a)) for a in ("points", "colours", "pose"))


def test_arrays_view_the_output_and_the_peak_is_the_output(d):
    scan = quarn.read(d / "s.scan")
    for a in (scan.points, scan.colours, scan.transform):
        assert not a.flags.owndata and isinstance(a.base, quarn.Scan), "a copy"
    child = subprocess.run([sys.executable, "-c", CHILD, d / "big.scan"], capture_output=True)
    assert float(child.stdout.split()[-1]) <= 1.15, child.stderr


def bad(change):  # the small scan's bytes changed, at a path of the test's own
    return lambda d, p: p.write_bytes(change((d / "s.scan").read_bytes())) and [p]


def reflected(b, at=16):  # the pose at `at` (the scan's by default) with its first column negated
    return b[:at] + (-np.frombuffer(b[at:at + 24], "<f8")).tobytes() + b[at + 24:]


FAILURES = {
    "missing": (lambda d, p: [p], FileNotFoundError, "no such file"),
    "folder": (lambda d, p: [d], IsADirectoryError, "it is a directory"),
    "reflection": (bad(reflected), quarn.ScanError, r"the plug-in cannot read it \(a pose"),
    "no plug-in": (lambda d, p: [d / "s.scan", p], quarn.ScanError, "cannot load the plug-in"),
    "path type": (lambda d, p: [42], TypeError, "path must be a str"),
    "plug-in type": (lambda d, p: [d / "s.scan", 3.0], TypeError, "plugin must be a str"),
    "NUL in path": (lambda d, p: [f"{d}/s.scan\0x"], ValueError, "NUL"),
}


@pytest.mark.parametrize("make, error, reason", FAILURES.values(), ids=FAILURES.keys())
def test_failure_raises_its_reason_and_the_interpreter_goes_on(d, tmp_path, make, error, reason):
    args = make(d, tmp_path / "bad")
    with pytest.raises(error, match=reason) as caught:
        quarn.read(*args)
    if issubclass(error, OSError):  # a ScanError naming the scan, also once pickled
        again = pickle.loads(pickle.dumps(caught.value))
        assert isinstance(again, error) and isinstance(again, quarn.ScanError), type(again)
        assert (again.filename, again.errno, str(again)) == (str(args[0]), {
            FileNotFoundError: errno.ENOENT, IsADirectoryError: errno.EISDIR}.get(error),
            str(caught.value))
    assert quarn.read(d / "s.scan").pixels == 5 * 160 * 120


def test_frames_and_trajectory_raise_scan_errors_where_they_arise(d, tmp_path):
    b, p, both = (d / "s.scan").read_bytes(), tmp_path / "bad", (quarn.frames, quarn.trajectory)
    frame2 = int(np.frombuffer(b, "<u8", 1, 168)[0]) + 8  # frame 2's pose, by the frame table
    for content, calls, error, reason in (
            (None, both, FileNotFoundError, "no such file"),
            (reflected(b), both, quarn.ScanError, "the scan's pose is not a rotation"),
            (reflected(b, frame2), both[1:], quarn.ScanError, "the pose of frame 2 is not a")):
        if content:
            p.write_bytes(content)
        for call in calls:
            with pytest.raises(error, match=f"^cannot read {re.escape(str(p))}: {reason}"):
                call(p)
    frames = quarn.frames(p)  # at frame 2, and then on with frame 3
    assert [f.index for f in (next(frames), next(frames))] == [0, 1] and len(frames) == 5
    with pytest.raises(quarn.ScanError, match="the pose of frame 2 is not a rotation"):
        next(frames)
    assert [f.index for f in frames] == [3, 4] and repr(frames) == "<quarn.Frames: frame 5 of 5 next>"


# Two loud and three quiet reads beside a thread that prints until they end.
QUIET = r"""import sys, threading, quarn
said, done = [], threading.Event()
def say():
    while not done.is_set():
        said.append(sys.stdout.write(f"said {len(said)}\n")); sys.stdout.flush()
talker, reads = threading.Thread(target=say), [threading.Thread(
    target=quarn.read, args=(sys.argv[1],), kwargs={"quiet": q}) for q in (1, 0, 1, 0, 1)]
for t in [talker, *reads]: t.start()
for t in reads: t.join()
done.set(); talker.join(); print("total", len(said))"""


def test_quiet_mutes_only_its_read_and_not_other_threads(d):
    # Buffered C and Python streams: both write whole lines, the plug-in's flushed by endl.
    out = subprocess.run([sys.executable, "-c", QUIET, d / "s.scan"], capture_output=True,
                         text=True, check=True, env={**os.environ, "PYTHONUNBUFFERED": ""}).stdout
    assert len(re.findall("^5 frames found.$", out, re.M)) == 2, out[-2000:]
    assert len(re.findall(r"^said \d+$", out, re.M)) == int(out.split()[-1]) > 0


def test_import_fails_at_once_without_numpy_and_has_the_project_version():
    child = subprocess.run([sys.executable, "-c", "import sys; sys.modules['numpy'] = None\n"
                            "import quarn"], capture_output=True, text=True)
    assert "ImportError: quarn needs numpy: install Debian's python3-numpy" in child.stderr
    project = open(os.path.join(os.path.dirname(__file__), "../../CMakeLists.txt")).read()
    assert quarn.__version__ == re.search(r"project\(\w+ VERSION ([\d.]+)", project)[1]


def test_dask_workers_convert_a_folder_as_one_process_does(tmp_path):
    for seed in range(3):  # pickled back from worker processes: the Scan's arrays cross
        subprocess.run([os.environ["QUARN_TOOL"], "sample", "-o", tmp_path / f"{seed}.scan",
                        "--frames", "2", "--width", "40", "--height", "30", "--seed", str(seed)],
                       check=True, capture_output=True)
    scans = sorted(str(p) for p in tmp_path.glob("*.scan"))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        remote = client.gather(client.map(quarn.read, scans, quiet=True))
    for there, here in zip(remote, map(quarn.read, scans)):
        assert repr(there) == repr(here) and all(same(getattr(there, a), getattr(here, a))
                                                 for a in ("points", "colours", "transform"))
    assert not same(remote[0].points, remote[1].points)  # the seeds' scans differ


def test_too_little_memory_is_a_scan_error(d):
    with memory_cgroup(64 << 20) as group:  # 83 MB of output: admission refuses it (the OOM killer would not)
        child = subprocess.run([sys.executable, "-c", CHILD, d / "big.scan", group],
                               capture_output=True, text=True)
        # A host without quarn's own check: the plug-in returns false rather than being killed.
        host = subprocess.run([os.environ["QUARN_HOST"], d / "big.scan", quarn.default_plugin()],
                              preexec_fn=lambda: open(group + "/cgroup.procs", "w").write(str(os.getpid())),
                              capture_output=True, text=True)
    assert re.search(r"ScanError: cannot read .*: needs \d+ MB of memory, \d+ MB available\n$",
                     child.stderr), (child.returncode, child.stderr)
    assert host.returncode == 1 and "cannot read the scan" in host.stderr, (host.returncode, host.stderr)


EYE = np.array([1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0], "<f8")


def write_scan(path, frames):  # frames of (sizeX, sizeY, [(x, y, z, flags, colour)], x translation)
    table, body, at = [], b"", 152 + 8 * len(frames)
    for sx, sy, px, tx in frames:
        table.append(at + len(body))
        body += np.array([sx, sy], "<i4").tobytes() + np.where(np.arange(17) == 12, tx, EYE).tobytes() + np.array(
            [((x, y, z), f, c) for x, y, z, f, c in px], PIXEL).tobytes()
    path.write_bytes(b"QSCN\r\n\x1a\n" + np.array([1, len(frames)], "<u4").tobytes() + EYE.tobytes()
                     + np.array(table, "<u8").tobytes() + body)


def read_ply(b):  # a binary PLY of x, y, z floats and r, g, b bytes, parsed here
    head = b[:b.index(b"end_header\n") + 11]
    v = np.frombuffer(b, [("xyz", "<f4", 3), ("rgb", "u1", 3)], int(re.search(rb"vertex (\d+)", head)[1]), len(head))
    return v["xyz"], v["rgb"]


def read_pcd(b):  # PCL's binary PCD of x, y, z and rgb packed in a float's bits
    v = np.frombuffer(b, "<u4", offset=b.index(b"DATA binary\n") + 12).reshape(-1, 4)
    return v[:, :3].copy().view("<f4"), np.stack([v[:, 3] >> 16, v[:, 3] >> 8, v[:, 3]], 1).astype("u1")


def read_xyz(b):
    text = np.array(b.split(), float).reshape(-1, 6)
    return text[:, :3].astype("<f4"), text[:, 3:].astype("u1")


def through_fifo(path, args):  # quarn writing into a FIFO, and what came through it
    os.mkfifo(path)
    got = []
    reader = threading.Thread(target=lambda: got.append(open(path, "rb").read()))
    reader.start()
    run = subprocess.run(args, capture_output=True, text=True)
    if run.returncode:  # it never opened the FIFO
        os.close(os.open(path, os.O_WRONLY | os.O_NONBLOCK))
    reader.join()
    return run, got[0]


NAN, INF, BOTH, BLACK = float("nan"), float("inf"), 3, (0, 0, 0)
ODD = {  # each scan's frames, with identity rotations: a point comes out as float(p - translation)
    "non-finite before black": [(2, 2, [(1, 2, 3, BOTH, (10, 20, 30)), (4, 5, 6, 1, (9, 9, 9)), (7, 8, 9, 2, (1, 1, 1)),
                                        (0.5, 0.25, 1, BOTH, (40, 50, 60))], 0),
                                # A point without a colour that is not finite: left out once, not also kept.
                                (1, 4, [(NAN, 1, 1, BOTH, BLACK), (1.5, 2.5, 3.5, BOTH, BLACK), (2, INF, 1, BOTH, (7, 7, 7)),
                                        (1, NAN, 1, 1, BLACK)], 0)],
    "empty frames": [(0, 0, [], 0), (3, 0, [], 0), (1, 2, [(1, 1, 1, 1, BLACK), (2, 2, 2, 2, (5, 5, 5))], 0),
                     (2, 1, [(-1, -2, -3, BOTH, (3, 2, 1)), (4, 4, 4, BOTH, BLACK)], 0), (0, 5, [], 0)],
    "only a non-finite point": [(1, 1, [(-INF, 0, 1, BOTH, (1, 2, 3))], 0)],
    # Finite in the file, beyond a float once moved: the count of points must look at them.
    "overflow": [(1, 3, [(-3e38, 1, 1, BOTH, (1, 1, 1)), (1, -0.0, 2, BOTH, (2, 2, 2)), (-1e-45, 1, 1, BOTH, BLACK)], 1e38)],
    "no frames": [],
}


def kept(frames, keep):  # the points (with their colours and flags) every path hands out
    with np.errstate(over="ignore"):  # moved in double precision, rounded to single
        px = [np.array([((x - t, y, z), f, c) for x, y, z, f, c in p], PIXEL) for _, _, p, t in frames]
    pixels = np.concatenate(px or [np.zeros(0, PIXEL)])
    wanted = pixels[pixels["flags"] & (1 if keep else 3) == (1 if keep else 3)]
    finite = wanted[np.isfinite(wanted["xyz"]).all(1)]
    uncoloured = finite["flags"] & 2 == 0
    rgb = np.where(uncoloured[:, None], 0, finite["colour"]).astype("u1")
    return finite["xyz"] + np.float32(0), rgb, uncoloured, len(wanted) - len(finite)  # -0 comes out +0


def voxels(xyz, rgb, uncoloured, size):  # cell means in the order cells are first met
    cells, first, inverse = np.unique(np.floor(xyz.astype(np.float64) / size), axis=0, return_index=True, return_inverse=True)
    order, inverse = np.argsort(first), inverse.ravel()
    sums, colours = np.zeros((len(cells), 3)), np.zeros((len(cells), 3))
    np.add.at(sums, inverse, xyz.astype(np.float64))
    np.add.at(colours, inverse[~uncoloured], rgb[~uncoloured].astype(np.float64))
    n, coloured = np.bincount(inverse, minlength=len(cells)), np.bincount(inverse[~uncoloured], minlength=len(cells))
    mean = np.floor(colours / np.maximum(coloured, 1)[:, None] + 0.5)
    return (sums / n[:, None]).astype("<f4")[order], mean.astype("u1")[order]


@pytest.mark.parametrize("frames", ODD.values(), ids=ODD.keys())
def test_every_path_hands_out_the_same_finite_points(tmp_path, frames, capfd):
    scan = tmp_path / "odd.scan"
    write_scan(scan, frames)
    flags = [f for _, _, p, _ in frames for _, _, _, f, _ in p]
    for keep in (False, True):
        xyz, rgb, uncoloured, left = kept(frames, keep)
        # A point but no colour: those written where kept, else all, left out. Every pixel with
        # a point is written or told once.
        without = uncoloured.sum() if keep else flags.count(1)
        assert len(xyz) + left + (0 if keep else without) == sum(f & 1 for f in flags)
        k, got, reports = ["--keep-uncoloured"] * keep, {}, set()
        for ext, parse in ((".ply", read_ply), (".pcd", read_pcd), (".xyz", read_xyz)):
            for how in ([], ["--stream"]):
                out, preview = tmp_path / f"out{len(how)}{ext}", ["--preview", tmp_path / f"{len(how)}.png"]
                run = subprocess.run([os.environ["QUARN_TOOL"], "import", scan, "-o", out, *how, *k,
                                      *preview[:2 * (ext == ".ply")]], capture_output=True, text=True)
                assert run.returncode == 0, run.stderr
                reports.add("".join(re.findall(r"^(?:frames|pixels|points|bounds|  ) .*\n", run.stdout, re.M)))
                got[f"import {ext} {how}"] = parse(out.read_bytes())
            assert (tmp_path / f"out0{ext}").read_bytes() == (tmp_path / f"out1{ext}").read_bytes(), ext
        report = reports.pop()
        assert not reports and (f"\n        {left} with a non-finite coordinate left out\n" in report) == (left > 0)
        told = f"        {without} points without a colour " + ("kept\n" if keep else "left out (--keep-uncoloured keeps them)\n")
        assert (told in report) == (without > 0), report
        # The counts and the bounds as numbers: a share of the pixels, four decimals, no "-0.0000".
        pixels = sum(sx * sy for sx, sy, _, _ in frames)
        share = f" ({100 * len(xyz) / pixels:.1f} %)" if pixels else ""
        span = " ".join(f"{a} [{lo:.4f}, {hi:.4f}]".replace("-0.0000", "0.0000") for a, lo, hi in
                        zip("xyz", xyz.min(0), xyz.max(0))) if len(xyz) else "no points"
        assert f"frames  {len(frames)}\npixels  {pixels}\npoints  {len(xyz)}{share}\n" in report, report
        assert report.endswith(f"bounds  {span}\n"), report
        assert (tmp_path / "0.png").read_bytes() == (tmp_path / "1.png").read_bytes(), "previews differ"
        run, fifo = through_fifo(tmp_path / f"fifo{keep}.pcd", [os.environ["QUARN_TOOL"], "import", scan, "-o",
                                                               tmp_path / f"fifo{keep}.pcd", "--stream", *k])
        assert run.returncode == 0 and fifo == (tmp_path / "out0.pcd").read_bytes(), run.stderr  # counted first
        assert "\nwrote   " in run.stdout and "wrote" not in run.stderr  # the report stays where it goes
        for stream in (None, True):
            report = quarn.convert(scan, tmp_path / f"c{stream}.ply", stream=stream, keep_uncoloured=keep)
            assert (report["points"], report["non_finite"], report["without_colour"]) == (len(xyz), left, without)
            assert (tmp_path / f"c{stream}.ply").read_bytes() == (tmp_path / "out0.ply").read_bytes()
        report = quarn.convert(scan, tmp_path / "c.e57", keep_uncoloured=keep)  # a scan for each frame with points
        assert report["scans"] == sum(len(kept([f], keep)[0]) > 0 for f in frames), report
        s, fs = quarn.read(scan, quiet=True, keep_uncoloured=keep), [*quarn.frames(scan, keep_uncoloured=keep)]
        assert keep or not len(xyz) or isinstance(s.points.base, quarn.Scan), "read copied its points"
        got["read"], got["frames"] = (s.points, s.colours), (s.points, s.colours)
        if fs:
            got["frames"] = (np.concatenate([f.points for f in fs]), np.concatenate([f.colours for f in fs]))
            assert np.array_equal(np.concatenate([f.uncoloured for f in fs]), uncoloured)
        for path, (p, c) in got.items():
            assert same(np.asarray(p, "<f8"), xyz.astype("<f8")) and same(np.asarray(c, "u1"), rgb), path
        assert np.array_equal(s.uncoloured, uncoloured) and np.array_equal(pickle.loads(pickle.dumps(s)).uncoloured, uncoloured)
        assert s.pixels == sum(sx * sy for sx, sy, _, _ in frames) and len(fs) == len(frames)
        # Thinned: numpy's cell means, the same bytes whole and streamed; no cell number past 2^62.
        if np.abs(xyz).max(initial=0) / 0.5 >= 2.0**62:
            with pytest.raises(ValueError, match="^voxel: a point at .* beyond what a grid of 0.5 m cells can number"):
                quarn.convert(scan, tmp_path / "v.ply", keep_uncoloured=keep, voxel=0.5)
            continue
        for stream in (False, True)[keep:]:
            quarn.convert(scan, tmp_path / f"v{stream}.ply", stream=stream, keep_uncoloured=keep, voxel=0.5)
        assert all(same(a, b) for a, b in zip(read_ply((tmp_path / "vTrue.ply").read_bytes()),
                                              voxels(xyz, rgb, uncoloured, 0.5))), "voxel means differ"
        assert keep or (tmp_path / "vTrue.ply").read_bytes() == (tmp_path / "vFalse.ply").read_bytes()
    info = json.loads(subprocess.run([os.environ["QUARN_TOOL"], "info", "--json", scan], capture_output=True).stdout)
    assert [info["total"][k] for k in ("with_point", "with_colour", "with_both")] == \
        [sum(f & m == m for f in flags) for m in (1, 2, 3)]
    capfd.readouterr()


def test_voxel_means_of_the_sample_are_numpys(d, tmp_path):
    for keep in (False, True):
        s = quarn.read(d / "s.scan", quiet=True, keep_uncoloured=keep)
        report = quarn.convert(d / "s.scan", tmp_path / "v.ply", keep_uncoloured=keep, voxel=0.1)
        want = voxels(s.points.astype("<f4"), s.colours, s.uncoloured, 0.1)
        assert report["points"] == len(want[0]) < len(s.points) / 8 and s.uncoloured.any() == keep
        said = subprocess.run([os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", tmp_path / "c.ply", "--voxel",
                               "0.1", *["--keep-uncoloured"][:keep]], capture_output=True, text=True).stdout
        assert f"\n        one for each 0.1 m cell of {len(s.points)} points\n" in said, said
        # Counted first for a pipe: the cells are one chunk of their count.
        run, fifo = through_fifo(tmp_path / f"v{keep}.pcd", [os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o",
                                                            tmp_path / f"v{keep}.pcd", "--voxel", "0.1", *["--keep-uncoloured"][:keep]])
        quarn.convert(d / "s.scan", tmp_path / "v.pcd", keep_uncoloured=keep, voxel=0.1)
        assert run.returncode == 0 and fifo == (tmp_path / "v.pcd").read_bytes(), run.stderr
        assert all(same(a, b) for a, b in zip(read_ply((tmp_path / "v.ply").read_bytes()), want))


def test_names_as_str_bytes_and_paths_and_not_utf8(d, tmp_path):
    name = os.fsencode(tmp_path) + b"/bad\xff \"q\"\t\xe4\xb8\xad.scan"
    with open(name, "wb") as f:
        f.write((d / "s.scan").read_bytes())
    said = subprocess.run([os.environ["QUARN_TOOL"], "info", "--json", name], capture_output=True, check=True).stdout
    # Escaped as JSON must and no more: the byte that is not UTF-8 as Python's surrogate for it,
    # a character that is (U+4E2D) as it is.
    assert said.startswith(b'{"scan": "' + os.fsencode(tmp_path) + b'/bad\\udcff \\"q\\"\\u0009\xe4\xb8\xad.scan",\n')
    assert os.fsencode(json.loads(said)["scan"]) == name
    for path in (name, os.fsdecode(name), pathlib.Path(os.fsdecode(name))):
        assert quarn.read(path, quiet=True).pixels == 5 * 160 * 120 and len(quarn.frames(path)) == 5
        assert len(quarn.trajectory(path)) == 5
    with pytest.raises(FileNotFoundError) as missing:
        quarn.read(name + b".gone")
    assert missing.value.filename == os.fsdecode(name + b".gone")


NOWHERE = "/nonexistent/plugin.so"
# A request that cannot be done, told before anything is written: TypeError for a wrong type,
# ValueError for a wrong value, each naming the keyword argument; an output that cannot be
# written raises what open() would, with errno, strerror and filename.
REQUESTS = {
    "plugin for E57": (quarn.convert, "o.e57", {"plugin": NOWHERE}, ValueError, "^plugin: E57 is read frame by frame"),
    "plugin kept uncoloured": (quarn.convert, "o.ply", {"keep_uncoloured": True, "plugin": NOWHERE}, ValueError,
                               "^plugin: keep_uncoloured is read frame by frame"),
    "plugin streamed": (quarn.convert, "o.ply", {"stream": True, "plugin": NOWHERE}, ValueError, "^plugin: stream reads"),
    "plugin read kept uncoloured": (quarn.read, None, {"keep_uncoloured": True, "plugin": NOWHERE}, ValueError,
                                    "^plugin: keep_uncoloured is read frame by frame"),
    "voxel too fine": (quarn.convert, "o.ply", {"voxel": 1e-300}, ValueError, "^voxel: a point at .* 1e-300 m cells"),
    "plugin normals": (quarn.convert, "o.ply", {"normals": True, "plugin": NOWHERE}, ValueError,
                       "^plugin: normals are made frame by frame"),
    "normals whole read": (quarn.convert, "o.ply", {"normals": True, "stream": False}, ValueError,
                           "^the plug-in's whole read holds no pixel grid: normals are made frame by frame"),
    "voxel text": (quarn.convert, "o.ply", {"voxel": "0.05"}, TypeError, "^voxel must be a number of metres, not str"),
    "voxel True": (quarn.convert, "o.ply", {"voxel": True}, TypeError, "^voxel must be a number of metres, not bool"),
    "voxel NaN": (quarn.convert, "o.ply", {"voxel": NAN}, ValueError, "^voxel must be a positive finite number"),
    "flag text": (quarn.convert, "o.ply", {"keep_uncoloured": "no"}, TypeError, "^keep_uncoloured must be True or False"),
    "read flag text": (quarn.read, None, {"quiet": "yes"}, TypeError, "^quiet must be True or False, not str"),
    "stream 2": (quarn.convert, "o.ply", {"stream": 2}, ValueError, "^stream must be True or False, not 2"),
    "format empty": (quarn.convert, "o.ply", {"format": ""}, ValueError, "^format must be one of ply, pcd"),
    "format number": (quarn.convert, "o.ply", {"format": 7}, TypeError, "^format must be a str or None, not int"),
    "format unknown": (quarn.convert, "o.ply", {"format": "obj"}, ValueError, "^format: unknown format 'obj'"),
    "format contradicted": (quarn.convert, "o.ply", {"format": "pcd"}, ValueError, "^format pcd, but .*o.ply names PLY"),
    "output a folder": (quarn.convert, ".", {}, IsADirectoryError, errno.EISDIR),
    "output in no folder": (quarn.convert, "no/o.ply", {}, FileNotFoundError, errno.ENOENT),
    "output unnamed": (quarn.convert, "", {}, FileNotFoundError, errno.ENOENT),
    "preview in no folder": (quarn.convert, "o.ply", {"preview": "no/o.png"}, FileNotFoundError, errno.ENOENT),
    "preview unnamed": (quarn.convert, "o.ply", {"preview": ""}, FileNotFoundError, errno.ENOENT),
}


@pytest.mark.parametrize("call, output, kwargs, error, said", REQUESTS.values(), ids=REQUESTS.keys())
def test_a_request_that_cannot_be_done_raises_its_kind_and_writes_nothing(d, tmp_path, monkeypatch, call, output,
                                                                           kwargs, error, said):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(error) as caught:
        call(d / "s.scan", *[output][:output is not None], **kwargs)
    if issubclass(error, OSError):  # as open() raises it
        e = caught.value
        assert (e.errno, e.strerror, e.filename) == (said, os.strerror(said), kwargs.get("preview", output))
    else:
        assert re.search(said, str(caught.value)), str(caught.value)
    assert os.listdir(tmp_path) == []


def test_conversions_done_and_refused_leave_no_descriptor_open(d, tmp_path):
    # A long-lived process (a Dask worker) converts scan after scan.
    before = sorted(os.listdir("/proc/self/fd"))
    for ext in ("ply", "pcd", "xyz", "e57", "las", "laz", "copc.laz"):
        quarn.convert(d / "s.scan", tmp_path / f"o.{ext}", preview=tmp_path / "o.png", stream=True)
    quarn.convert(d / "s.scan", tmp_path / "w.ply")
    with pytest.raises(IsADirectoryError):
        quarn.convert(d / "s.scan", tmp_path)
    for stream in (True, False):  # refused once the output is open
        with pytest.raises(ValueError, match="^voxel: a point at"):
            quarn.convert(d / "s.scan", tmp_path / "v.las", voxel=1e-300, stream=stream)
    [*quarn.frames(d / "s.scan", normals=True)], quarn.read(d / "s.scan", quiet=True)
    assert sorted(os.listdir("/proc/self/fd")) == before


def test_an_output_the_user_may_not_write_is_a_permission_error(d, tmp_path):
    (tmp_path / "ro").mkdir(mode=0o555)
    child = "import quarn, sys\ntry: quarn.convert(sys.argv[1], sys.argv[2])\n" \
            "except PermissionError as e: print(e.errno, e.filename)"
    # Root without the capabilities that override file permissions.
    user = ["setpriv", "--bounding-set=-dac_override,-dac_read_search"] if os.geteuid() == 0 else []
    run = subprocess.run([*user, sys.executable, "-c", child, d / "s.scan", tmp_path / "ro/o.ply"],
                         capture_output=True, text=True)
    assert run.stdout == f"{errno.EACCES} {tmp_path / 'ro/o.ply'}\n", run.stderr
    assert os.listdir(tmp_path / "ro") == []


def test_normals_from_the_grid_agree_with_open3d_face_the_scanner_and_every_format_holds_them(d, tmp_path):
    frames = [*quarn.frames(d / "big.scan", normals=True)]
    points, normals = (np.concatenate([getattr(f, a) for f in frames]) for a in ("points", "normals"))
    has = normals.any(1)
    assert np.abs(np.linalg.norm(normals[has], axis=1) - 1).max() < 1e-6 and (~has).mean() < 0.01
    # Against Open3D's 20 nearest neighbours, orientation aside: the scene is planes, boxes, spheres.
    cloud = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(points))
    cloud.estimate_normals(o3d.geometry.KDTreeSearchParamKNN(20))
    angle = np.degrees(np.arccos(np.clip(np.abs((np.asarray(cloud.normals) * normals).sum(1))[has], 0, 1)))
    assert np.median(angle) <= 0.5 and np.percentile(angle, 90) <= 2, (np.median(angle), np.percentile(angle, 90))
    # Each faces where the scanner stood for its frame.
    facing = np.concatenate([((f.pose[:3, 3] - f.points) * f.normals).sum(1)[f.normals.any(1)] > 0 for f in frames])
    assert facing.mean() >= 0.999, facing.mean()

    # Every format holds the same normals, read back by Open3D where it reads them; the report
    # counts those without one; whole, streamed, piped and converted alike.
    small = [*quarn.frames(d / "s.scan", normals=True)]
    normals = np.concatenate([f.normals for f in small])
    for ext in ("ply", "pcd", "xyz", "las"):
        report = quarn.convert(d / "s.scan", tmp_path / f"n.{ext}", normals=True)
        assert report["without_normal"] == (~normals.any(1)).sum() > 0, ext
        data = (tmp_path / f"n.{ext}").read_bytes()
        if ext in ("ply", "pcd"):
            cloud = o3d.io.read_point_cloud(str(tmp_path / f"n.{ext}"))
            got = np.asarray(cloud.normals)  # beside the very points and colours of the plug-in's read
            assert same(np.asarray(cloud.points), np.asarray(o3d.io.read_point_cloud(str(d / "s.ply")).points))
        elif ext == "xyz":
            got = np.loadtxt(tmp_path / "n.xyz")[:, 6:].astype(np.float32)
        else:  # 48-byte records, the normal in their extra bytes, described by the ExtraBytes record
            at, vlrs, size = np.frombuffer(data, "<u4", 2, 96).tolist() + [int(np.frombuffer(data, "<u2", 1, 105)[0])]
            assert (vlrs, size, data[375 + 2:375 + 11], data[375 + 54 + 4:375 + 54 + 11]) == (1, 48, b"LASF_Spec", b"NormalX")
            assert [data[375 + 54 + 192 * k + 2] for k in range(3)] == [9, 9, 9]  # floats
            got = np.frombuffer(data, "u1", offset=at).reshape(-1, 48)[:, 36:].copy().view("<f4")
        assert same(np.asarray(got, "<f8"), normals), ext
    run = subprocess.run([os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", "-", "--normals", "-q"], capture_output=True)
    fifo = through_fifo(tmp_path / "fifo.pcd", [os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", tmp_path / "fifo.pcd", "--normals"])[1]
    assert run.stdout == (tmp_path / "n.ply").read_bytes() and fifo == (tmp_path / "n.pcd").read_bytes()
    said = subprocess.run([os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", tmp_path / "c.ply", "--normals"],
                          capture_output=True, text=True).stdout
    assert f"\n        {(~normals.any(1)).sum()} without a normal\n" in said
    # Thinned: each cell's normal is the normalised sum of its points' normals.
    quarn.convert(d / "s.scan", tmp_path / "v.ply", normals=True, voxel=0.1)
    data = (tmp_path / "v.ply").read_bytes()
    head = data[:data.index(b"end_header\n") + 11]
    cells = np.frombuffer(data, [("xyz", "<f4", 3), ("rgb", "u1", 3), ("n", "<f4", 3)], offset=len(head))
    xyz = np.concatenate([f.points for f in small]).astype("<f4")
    keys, first, inverse = np.unique(np.floor(xyz.astype(np.float64) / 0.1), axis=0, return_index=True, return_inverse=True)
    sums = np.zeros((len(keys), 3))
    np.add.at(sums, inverse.ravel(), normals)
    sums = sums[np.argsort(first)]
    length = np.sqrt(sums[:, 0] ** 2 + sums[:, 1] ** 2 + sums[:, 2] ** 2)[:, None]
    assert b"property float nx\n" in head and same(cells["n"], np.where(length > 0, sums / np.where(length > 0, length, 1), 0).astype("<f4"))
