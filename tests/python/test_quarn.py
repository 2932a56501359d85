import contextlib, distributed, errno, json, os, pickle, re, resource, signal, socket
import subprocess, sys
import numpy as np, open3d as o3d, pytest, quarn

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
                 ["sample", "-o", d / "big.scan"], ["import", d / "s.scan", "-o", d / "s.ply", "--preview", d / "s.png"],
                 ["import", d / "s.scan", "-o", d / "s.PCD"], ["import", d / "s.scan", "-o", d / "s.xyz"],
                 ["import", d / "big.scan", "-o", d / "big.ply", "--preview", d / "big.png"]):
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


def test_pcd_and_xyz_hold_the_ply_points_to_the_bit(d):
    ply, pcd = o3d.io.read_point_cloud(str(d / "s.ply")), o3d.io.read_point_cloud(str(d / "s.PCD"), "pcd")
    xyz, text = o3d.io.read_point_cloud(str(d / "s.xyz"), "xyz"), np.loadtxt(d / "s.xyz")
    points, colours = np.asarray(ply.points), np.asarray(ply.colors)
    assert same(np.asarray(pcd.points), points) and same(np.asarray(pcd.colors), colours)
    assert same(np.asarray(xyz.points).astype(np.float32).astype(np.float64), points)
    assert same(text[:, 3:] / 255.0, colours) and len(points) > 1 << 16


def test_a_full_disk_is_told_and_leaves_no_file(d, tmp_path):
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # the write fails instead
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
    run = subprocess.run([os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", tmp_path / "out.ply"],
                         preexec_fn=limited, capture_output=True, text=True)
    assert run.returncode == 1 and re.search(r"cannot write .*out.ply: File too large", run.stderr), run.stderr
    assert not os.listdir(tmp_path)


@contextlib.contextmanager
def memory_cgroup(limit):  # its folder, to write a child's pid to cgroup.procs
    v1 = os.path.exists("/sys/fs/cgroup/memory/memory.limit_in_bytes")
    group = f"/sys/fs/cgroup{'/memory' if v1 else ''}/quarn-test-{os.getpid()}"
    if not os.access(os.path.dirname(group), os.W_OK) or not v1 and "memory" not in open(
            "/sys/fs/cgroup/cgroup.subtree_control").read():
        pytest.skip("no memory cgroup (v1, or v2 with the controller) to put a child into")
    os.mkdir(group)
    try:
        open(group + ("/memory.limit_in_bytes" if v1 else "/memory.max"), "w").write(str(limit))
        yield group
    finally:
        os.rmdir(group)


# Where the whole read (83 MB) does not fit, quarn import streams, says so, and writes the same
# bytes: in a memory cgroup of a quarter of it, and under ulimit -v.
STREAMED = {"cgroup": ("cgroup", []), "cgroup --stream": ("cgroup", ["--stream"]), "ulimit -v": ("ulimit", [])}


@pytest.mark.parametrize("limit, flags", STREAMED.values(), ids=STREAMED.keys())
def test_what_does_not_fit_streams_to_the_same_bytes(d, tmp_path, limit, flags):
    out = tmp_path / "big.ply", tmp_path / "big.png"
    with memory_cgroup(83_000_000 // 4) if limit == "cgroup" else contextlib.nullcontext() as group:
        def limited():
            if group:
                open(group + "/cgroup.procs", "w").write(str(os.getpid()))
            else:
                resource.setrlimit(resource.RLIMIT_AS, (100 << 20, 100 << 20))
        run = subprocess.run([os.environ["QUARN_TOOL"], "import", d / "big.scan", "-o", out[0], "--preview", out[1],
                              *flags], preexec_fn=limited, capture_output=True, text=True)
    said = "" if flags else r"streaming frame by frame: the whole read needs 83 MB, \d+ MB available\n"
    assert run.returncode == 0 and re.fullmatch(said, run.stderr), run.stderr
    assert re.search(r"^points  2447028 ", run.stdout, re.M), run.stdout
    assert out[0].read_bytes() == (d / "big.ply").read_bytes() and out[1].read_bytes() == (d / "big.png").read_bytes()


def test_a_socket_is_connected_to_and_gets_the_points(d, tmp_path):
    with socket.socket(socket.AF_UNIX) as server:
        server.bind(str(tmp_path / "s.ply"))
        server.listen()
        server.settimeout(60)  # no hang should quarn never connect
        run = subprocess.Popen([os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", tmp_path / "s.ply"],
                               stdout=subprocess.DEVNULL)
        connection = server.accept()[0]
        got = b"".join(iter(lambda: connection.recv(1 << 16), b""))
    assert run.wait() == 0 and got == (d / "s.ply").read_bytes()
    # Nobody listens any more: refused, and the socket stays.
    run = subprocess.run([os.environ["QUARN_TOOL"], "import", d / "s.scan", "-o", tmp_path / "s.ply"],
                         capture_output=True, text=True)
    assert run.returncode == 1 and run.stderr.endswith("s.ply: Connection refused\n"), run.stderr
    assert (tmp_path / "s.ply").is_socket()


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
        kept, pose = raw[raw["flags"] & 3 == 3], np.array(info["frames"][f]["pose"])
        assert f == frame.index and frame.points.flags.owndata and same(frame.pose, path[f])
        assert np.allclose(path[f], np.linalg.inv(rigid(np.array(info["pose"]))) @ np.linalg.inv(
            rigid(pose)), rtol=0, atol=1e-12), f"frame {f}'s pose is not the one info shows"
        assert np.allclose(kept["xyz"] @ path[f][:3, :3].T + path[f][:3, 3], frame.points,
                           rtol=0, atol=2e-6), f"frame {f}'s pose moves its points elsewhere"
        assert same(kept["colour"], frame.colours)
    assert len(info["frames"]) == len(frames) == len(path) == 5
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
