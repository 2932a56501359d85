# quarn as a user runs it: the formats read back by Open3D, outputs that cannot be written,
# standard output by its names, what does not fit in memory, a Unix socket, a scan through a pipe.
import contextlib, os, pathlib, re, resource, signal, socket, subprocess

import numpy as np, open3d as o3d, pytest
from memory_cgroup import memory_cgroup

TOOL = os.environ["QUARN_TOOL"]


@pytest.fixture(scope="module")
def d(tmp_path_factory):
    d = tmp_path_factory.mktemp("scans")
    for args in (["sample", "-o", d / "s.scan", "--frames", "5", "--width", "160", "--height", "120"],
                 ["sample", "-o", d / "big.scan"], ["import", d / "s.scan", "-o", d / "s.ply"],
                 ["import", d / "s.scan", "-o", d / "s.PCD"], ["import", d / "s.scan", "-o", d / "s.xyz"],
                 ["import", d / "big.scan", "-o", d / "big.ply", "--preview", d / "big.png"]):
        subprocess.run([TOOL, *args], check=True, capture_output=True)
    return d


def same(a, b):
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def test_standard_output_by_its_names_and_a_full_one(d, tmp_path):
    ply = (d / "s.ply").read_bytes()
    for name in ("-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"):
        for into in ("pipe", "file"):
            with open(tmp_path / "out", "wb") as file:
                run = subprocess.run([TOOL, "import", d / "s.scan", "-o", name], stderr=subprocess.PIPE,
                                     stdout=subprocess.PIPE if into == "pipe" else file)
            got = run.stdout if into == "pipe" else (tmp_path / "out").read_bytes()
            assert run.returncode == 0 and got == ply and b"\nwrote   " in run.stderr, (name, into, run.stderr)
    with open(tmp_path / "other", "wb") as other:  # another descriptor: standard output stays where it was
        run = subprocess.run([TOOL, "import", d / "s.scan", "-o", f"/dev/fd/{other.fileno()}"],
                             pass_fds=[other.fileno()], capture_output=True)
    assert (tmp_path / "other").read_bytes() == ply and b" frames found.\n" in run.stdout, run
    with open(tmp_path / "other", "rb") as other:  # one open for reading only: refused, nothing written anywhere
        name = f"/dev/fd/{other.fileno()}"
        run = subprocess.run([TOOL, "import", d / "s.scan", "-o", name], pass_fds=[other.fileno()],
                             stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert run.returncode == 1 and run.stderr.endswith(f"{name}: Bad file descriptor\n"), run
    for args in (["info", d / "s.scan"], ["info", "--json", d / "s.scan"], ["import", d / "s.scan", "-o", "-"]):
        with open("/dev/full", "wb") as full:
            run = subprocess.run([TOOL, *args], stdout=full, stderr=subprocess.PIPE, text=True)
        assert run.returncode == 1 and run.stderr.endswith(": No space left on device\n"), (args, run.stderr)


def test_pcd_and_xyz_hold_the_ply_points_to_the_bit(d):
    ply, pcd = o3d.io.read_point_cloud(str(d / "s.ply")), o3d.io.read_point_cloud(str(d / "s.PCD"), "pcd")
    xyz, text = o3d.io.read_point_cloud(str(d / "s.xyz"), "xyz"), np.loadtxt(d / "s.xyz")
    points, colours = np.asarray(ply.points), np.asarray(ply.colors)
    assert same(np.asarray(pcd.points), points) and same(np.asarray(pcd.colors), colours)
    assert same(np.asarray(xyz.points).astype(np.float32).astype(np.float64), points)
    assert same(text[:, 3:] / 255.0, colours) and len(points) > 1 << 16
    # --format names the format of a name with any other extension.
    subprocess.run([TOOL, "import", d / "s.scan", "-o", d / "s.dat", "--format", "pcd"], check=True, capture_output=True)
    assert (d / "s.dat").read_bytes() == (d / "s.PCD").read_bytes()


def test_a_full_disk_is_told_and_leaves_no_file(d, tmp_path):
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # the write fails instead
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
    run = subprocess.run([TOOL, "import", d / "s.scan", "-o", tmp_path / "out.ply"],
                         preexec_fn=limited, capture_output=True, text=True)
    assert run.returncode == 1 and re.search(r"cannot write .*out.ply: File too large", run.stderr), run.stderr
    assert not os.listdir(tmp_path)


# Where the whole read (83 MB) does not fit, quarn import streams, says so, and writes the same
# bytes: in a memory cgroup of a quarter of it, and under ulimit -v.
STREAMED = {"cgroup": ("cgroup", []), "cgroup --stream": ("cgroup", ["--stream"]), "ulimit -v": ("ulimit", [])}


def test_a_socket_is_connected_to_and_gets_the_points(d, tmp_path):
    with socket.socket(socket.AF_UNIX) as server:
        server.bind(str(tmp_path / "s.ply"))
        server.listen()
        server.settimeout(60)  # no hang should quarn never connect
        run = subprocess.Popen([TOOL, "import", d / "s.scan", "-o", tmp_path / "s.ply"],
                               stdout=subprocess.DEVNULL)
        connection = server.accept()[0]
        got = b"".join(iter(lambda: connection.recv(1 << 16), b""))
    assert run.wait() == 0 and got == (d / "s.ply").read_bytes()
    # Nobody listens any more: refused, and the socket stays.
    run = subprocess.run([TOOL, "import", d / "s.scan", "-o", tmp_path / "s.ply"],
                         capture_output=True, text=True)
    assert run.returncode == 1 and run.stderr.endswith("s.ply: Connection refused\n"), run.stderr
    assert (tmp_path / "s.ply").is_socket()


@pytest.mark.parametrize("limit, flags", STREAMED.values(), ids=STREAMED.keys())
def test_what_does_not_fit_streams_to_the_same_bytes(d, tmp_path, limit, flags):
    out = tmp_path / "big.ply", tmp_path / "big.png"
    with memory_cgroup(83_000_000 // 4) if limit == "cgroup" else contextlib.nullcontext() as group:
        def limited():
            if group:
                open(group + "/cgroup.procs", "w").write(str(os.getpid()))
            else:
                resource.setrlimit(resource.RLIMIT_AS, (100 << 20, 100 << 20))
        run = subprocess.run([TOOL, "import", d / "big.scan", "-o", out[0], "--preview", out[1],
                              *flags], preexec_fn=limited, capture_output=True, text=True)
    said = "" if flags else r"streaming frame by frame: the whole read needs 83 MB, \d+ MB available\n"
    assert run.returncode == 0 and re.fullmatch(said, run.stderr), run.stderr
    assert re.search(r"^points  2447028 ", run.stdout, re.M), run.stdout
    assert out[0].read_bytes() == (d / "big.ply").read_bytes() and out[1].read_bytes() == (d / "big.png").read_bytes()


def rotation(q):  # the matrix of a unit quaternion x, y, z, w
    x, y, z, w = q
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


def test_the_trajectory_is_quarn_trajectory_in_each_format(d, tmp_path):
    import quarn
    path = quarn.trajectory(d / "s.scan")
    for ext in ("txt", "csv", "ply"):
        subprocess.run([TOOL, "trajectory", d / "s.scan", "-o", tmp_path / f"t.{ext}"], check=True, capture_output=True)
    tum = np.loadtxt(tmp_path / "t.txt", ndmin=2)
    assert (tum[:, 0] == np.arange(len(path))).all() and same(tum[:, 1:4], path[:, :3, 3])
    for f, row in enumerate(tum):
        assert np.abs(rotation(row[4:]) - path[f, :3, :3]).max() < 1e-15 and row[7] > 0, f
    for name, format, like in (("-", "csv", "t.csv"), ("t.dat", "ply", "t.ply"), ("t.CSV", None, "t.csv")):
        said = subprocess.run([TOOL, "trajectory", d / "s.scan", "-o", tmp_path / name if name != "-" else name,
                               *["--format", format][:2 * bool(format)]], check=True, capture_output=True).stdout
        assert (said if name == "-" else (tmp_path / name).read_bytes()) == (tmp_path / like).read_bytes(), name
    csv = (tmp_path / "t.csv").read_text().splitlines()
    assert csv[0] == "index,tx,ty,tz,qx,qy,qz,qw" and same(np.array([l.split(",") for l in csv[1:]], float), tum)
    ply = (tmp_path / "t.ply").read_bytes()
    body = ply[ply.index(b"end_header\n") + 11:]
    assert b"element vertex 5\n" in ply and b"element edge 4\n" in ply
    assert same(np.frombuffer(body, "<f8", 15).reshape(5, 3), path[:, :3, 3])
    assert (np.frombuffer(body, "<i4", offset=120).reshape(4, 2) == [[0, 1], [1, 2], [2, 3], [3, 4]]).all()


def test_progress_only_on_a_terminal_and_cleared_at_the_end(d, tmp_path):
    import pty
    said = {}
    for how, flags in (("terminal", []), ("quiet", ["-q"]), ("pipe", [])):
        master, slave = pty.openpty()
        run = subprocess.Popen([TOOL, "import", d / "big.scan", "-o", tmp_path / "p.ply", "--stream", *flags],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE if how == "pipe" else slave)
        os.close(slave)
        got = b""
        while True:
            try:
                chunk = os.read(master, 1 << 16)
            except OSError:  # the terminal's last writer has gone
                break
            if not chunk:
                break
            got += chunk
        os.close(master)
        said[how] = got + (run.stderr.read() if run.stderr else b"")
        assert run.wait() == 0 and (tmp_path / "p.ply").read_bytes() == (d / "big.ply").read_bytes(), how
    assert re.match(rb"^\rimport  frame \d+ of 40, \d+ points(, [\d.]+ M a second)?\x1b\[K", said["terminal"]), said
    assert said["terminal"].endswith(b"\r\x1b[K")  # cleared
    assert said["quiet"] == said["pipe"] == b""
    # Quiet is nothing but errors: no report, no plug-in's lines, no note that memory decided.
    for args in (["import", d / "s.scan", "-o", tmp_path / "q.ply"], ["import", d / "s.scan", "-o", "-", "--stream"],
                 ["sample", "-o", tmp_path / "q.scan", "--frames", "1"], ["trajectory", d / "s.scan", "-o", tmp_path / "q.txt"]):
        run = subprocess.run([TOOL, *args, "--quiet"], capture_output=True)
        assert run.returncode == 0 and run.stderr == b"" and run.stdout == (b"" if "-" not in args else (d / "s.ply").read_bytes()), args


def test_a_scan_through_a_pipe_is_refused_not_read_as_empty(d):
    r, w = os.pipe()  # as `quarn info <(cat s.scan)` passes it: the scan is read at any place
    os.write(w, (d / "s.scan").read_bytes()[:4096])
    os.close(w)
    for command in ("info", "import"):
        run = subprocess.run([TOOL, command, f"/dev/fd/{r}", *["-o", "-"][:2 * (command == "import")]],
                             pass_fds=[r], capture_output=True, text=True)
        assert run.returncode == 1 and run.stdout == "", run
        assert run.stderr.endswith(f" /dev/fd/{r}: the file cannot be opened or read\n"), run.stderr
    os.close(r)


# The sample generator, its import (with normals too) and its picture give these very bytes on every machine and in
# every build (the same seed, the same file), and info prints the scan as below.
GOLDEN = {"g.scan": "a10b93ceedc58c2ce6b00d62936e379ac3f1e6fad82b11c9e018649c7b4487ee",
          "g.ply": "720d0e075ae2e9a444adedd18a732f79c01e5ff987a4da43f36ce48e7e9f311a",
          "g.png": "0b747c53210e60ec5ddf1149572cc29b5018394ad97cdf61754d0c4a42ff40d5",
          "g.n.ply": "b344dfe616af7cad255303d5e7094697812042baafdc1eed8b4826ed0523bb99"}
INFO = """frames 3
scan pose, as stored
    0.786438 -0.556600 -0.267789 |    1.25000
    0.484613  0.824831 -0.291210 |   -0.50000
    0.382969  0.099245  0.918415 |    0.37500
    0.000000  0.000000  0.000000 |    1.00000
frame 0: 48 x 36, 1728 pixels, 1471 with a point, 1503 with a colour, 1352 with both; stored pose
      0.736569 -0.674607 -0.048690 |    1.24776
      0.147797  0.230784 -0.961715 |    1.95165
      0.660016  0.701173  0.269693 |   -2.80272
      0.000000  0.000000  0.000000 |    1.00000
frame 1: 48 x 36, 1728 pixels, 1664 with a point, 1564 with a colour, 1512 with both; stored pose
      0.734079 -0.678869 -0.016306 |   -0.63559
     -0.045162 -0.024848 -0.998671 |    2.84552
      0.677561  0.733839 -0.048900 |   -2.31572
      0.000000  0.000000  0.000000 |    1.00000
frame 2: 48 x 36, 1728 pixels, 1447 with a point, 1564 with a colour, 1304 with both; stored pose
      0.458190  0.820160  0.342637 |   -4.18321
      0.556747  0.035681 -0.829916 |    0.58898
     -0.692889  0.571021 -0.440273 |    3.32934
      0.000000  0.000000  0.000000 |    1.00000
total: 5184 pixels, 4582 with a point, 4631 with a colour, 4168 with both
"""


def test_the_sample_its_import_and_picture_are_the_same_bytes_everywhere(tmp_path):
    import hashlib
    for args in (["sample", "-o", tmp_path / "g.scan", "--frames", "3", "--width", "48", "--height", "36", "--seed", "3"],
                 ["import", tmp_path / "g.scan", "-o", tmp_path / "g.ply", "--preview", tmp_path / "g.png"],
                 ["import", tmp_path / "g.scan", "-o", tmp_path / "g.n.ply", "--normals"]):
        subprocess.run([TOOL, *args], check=True, capture_output=True)
    assert {name: hashlib.sha256((tmp_path / name).read_bytes()).hexdigest() for name in GOLDEN} == GOLDEN
    said = subprocess.run([TOOL, "info", tmp_path / "g.scan"], check=True, capture_output=True, text=True).stdout
    assert said == f"scan {tmp_path / 'g.scan'}\n" + INFO


def test_run_by_name_through_a_link_elsewhere_it_finds_its_plugin(d, tmp_path):
    # The plug-in lies beside the tool itself, not beside the name it was started by.
    (tmp_path / "bin").mkdir()
    (tmp_path / "bin" / "quarn").symlink_to(TOOL)
    run = subprocess.run(["quarn", "import", d / "s.scan", "-o", "here.ply"], cwd=tmp_path, capture_output=True,
                         env={**os.environ, "PATH": str(tmp_path / "bin")})
    assert run.returncode == 0 and (tmp_path / "here.ply").read_bytes() == (d / "s.ply").read_bytes(), run.stderr


def test_without_proc_the_output_is_still_named_into_place(d, tmp_path):
    # A container may mount no /proc: the unnamed file is then linked by its descriptor itself.
    hide = ["unshare", "-m", "sh", "-c", 'mount -t tmpfs none /proc && exec "$0" "$@"']
    if os.geteuid() != 0 or subprocess.run([*hide, "true"], capture_output=True).returncode != 0:
        pytest.skip("hiding /proc needs root and a mount namespace")
    lib = str(pathlib.Path(TOOL).parents[1] / "lib")  # $ORIGIN is found through /proc
    run = subprocess.run([*hide, TOOL, "import", d / "s.scan", "-o", tmp_path / "p.ply", "--stream"],
                         env={**os.environ, "LD_LIBRARY_PATH": lib}, capture_output=True)
    assert run.returncode == 0 and (tmp_path / "p.ply").read_bytes() == (d / "s.ply").read_bytes(), run.stderr
