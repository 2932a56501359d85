# quarn's E57 read back by a reader of our own, written from ASTM E2807 (every page's CRC-32C,
# the header, the XML, each scan's packets), against the PLY of the same scan and the scan's
# own pixels; and by web-e57 where build/npm has it.
import functools, json, os, pathlib, re, struct, subprocess, xml.etree.ElementTree as ET

import numpy as np, pytest

TOOL = os.environ["QUARN_TOOL"]
NS = "{http://www.astm.org/COMMIT/E57/2010-e57-v1.0}"
PIXEL = np.dtype([("xyz", "<f4", 3), ("flags", "u1"), ("rgb", "u1", 3)])
NPM = pathlib.Path(os.environ["QUARN_TOOL"]).parents[1] / "npm"  # beside the build's bin/
TABLE = np.array([functools.reduce(lambda c, _: c >> 1 ^ (0x82F63B78 & -(c & 1)), range(8), i)
                  for i in range(256)], np.uint32)


def crc32c(rows):  # each row's
    crc = np.full(len(rows), 0xFFFFFFFF, np.uint32)
    for column in rows.T:
        crc = TABLE[(crc ^ column) & 0xFF] ^ (crc >> 8)
    return ~crc


def read_e57(path):
    pages = np.fromfile(path, np.uint8).reshape(-1, 1024)
    assert (crc32c(pages[:, :1020]) == pages[:, 1020:].copy().view(">u4").ravel()).all()
    data = pages[:, :1020].tobytes()
    logical = lambda at: at // 1024 * 1020 + at % 1024
    head = struct.unpack_from("<8sIIQQQQ", data)
    assert head[:4] + head[6:] == (b"ASTM-E57", 1, 0, pages.size, 1024)
    root = ET.fromstring(data[logical(head[4]):][:head[5]])
    assert [(c.tag[len(NS):], c.get("type"), c.text) for c in root if c.tag != NS + "guid"] == [
        ("formatName", "String", "ASTM E57 3D Imaging Data File"), ("versionMajor", "Integer", "1"),
        ("versionMinor", "Integer", "0"), ("coordinateMetadata", "String", None),
        ("creationDateTime", "Structure", None), ("data3D", "Vector", "\n"), ("images2D", "Vector", None)]
    scans = []
    for scan in root.find(NS + "data3D"):
        points = scan.find(NS + "points")
        at, count = logical(int(points.get("fileOffset"))), int(points.get("recordCount"))
        fields = [(f.tag.split("}")[1], f.get("precision"), int(f.get("maximum", 0)))  # nor:normalX too
                  for f in points.find(NS + "prototype")]
        kind, length, at_data, at_index = struct.unpack_from("<B7xQQQ", data, at)
        assert kind == 1 and at_index == 0 and at % 8 == 0 and logical(at_data) == at + 32
        streams, at, end, records = [b""] * len(fields), at + 32, at + length, []
        while at < end:  # data packets only: no index
            kind, flags, size, n = struct.unpack_from("<BBHH", data, at)
            assert (kind, flags, n, (size + 1) % 4) == (1, 0, len(fields), 0)
            start = at + 6 + 2 * n
            for k, used in enumerate(struct.unpack_from(f"<{n}H", data, at + 6)):
                streams[k], start = streams[k] + data[start:start + used], start + used
            records.append(struct.unpack_from("<H", data, at + 6)[0] // 4)  # cartesianX: 4 bytes a record
            at += size + 1
        assert at == end and streams[0]
        # Every packet but the last as full as 64 KiB allows, in whole runs of 64 records.
        bits = sum(32 if precision == "single" else maximum.bit_length() for _, precision, maximum in fields)
        assert all(r == records[0] and r % 64 == 0 for r in records[:-1])
        assert len(records) == 1 or 6 + 2 * len(fields) + 3 + (records[0] + 64) * bits / 8 > 1 << 16
        values = {}
        for (name, precision, maximum), stream in zip(fields, streams):
            bits = np.unpackbits(np.frombuffer(stream, np.uint8), bitorder="little")  # least first
            width = maximum.bit_length()
            values[name] = np.frombuffer(stream, "<f4") if precision == "single" else \
                bits[:count * width].reshape(count, width) @ (1 << np.arange(width))
            assert len(values[name]) == count
        scans.append((scan, values, {name: maximum for name, _, maximum in fields}))
    return root, scans


def number(node, path):
    return float(node.findtext(NS + path.replace("/", "/" + NS)))


def frames(scan):  # each frame's pixels, sizeX by sizeY, and the scan pose's translation
    data = scan.read_bytes()
    at = struct.unpack_from(f"<{struct.unpack_from('<i', data, 12)[0]}Q", data, 152)
    return [np.frombuffer(data, PIXEL, x * y, a + 144).reshape(x, y)
            for a, (x, y) in zip(at, (struct.unpack_from("<ii", data, a) for a in at))], \
        np.array(struct.unpack_from("<3d", data, 16 + 12 * 8))


def write_scan(path, like, grids, turns):  # poses of diagonal rotations, their own inverses
    pose = lambda turn: struct.pack("<17d", *np.diag([*turn, 1]).ravel(), 0)
    records = [struct.pack("<ii", *g.shape) + pose(turn) + g.tobytes() for g, turn in zip(grids, turns)]
    at = np.cumsum([152 + 8 * len(grids)] + [len(r) for r in records])[:-1]
    path.write_bytes(like.read_bytes()[:12] + struct.pack("<i", len(grids)) + pose((1, 1, 1)) +
                     struct.pack(f"<{len(at)}Q", *at) + b"".join(records))


def run(*args):
    return subprocess.run([TOOL, *map(str, args)], check=True, capture_output=True).stdout


@pytest.fixture(scope="module")
def d(tmp_path_factory):
    d = tmp_path_factory.mktemp("e57")
    run("sample", "-o", d / "s.scan", "--frames", "3", "--width", "120", "--height", "90")  # 3 packets a frame
    grid = np.zeros((5, 1), PIXEL)  # one row: rowIndex of no bits
    grid["flags"][:, 0], grid["rgb"][:, 0] = [3, 1, 0, 3, 3], np.arange(15).reshape(5, 3) * 17
    grid["xyz"][:, 0] = [[1, 2, 3], [4, 5, 6], [7, 8, 9], [-1.5, 0.25, 2], [np.nan, 0, 1]]
    # Turned half round about x, y, z: w = 0 and each of x, y, z the largest in turn.
    turns = [(1, 1, 1), (1, -1, -1), (-1, 1, -1), (-1, -1, 1)]
    write_scan(d / "empty.scan", d / "s.scan", [np.zeros((3, 2), PIXEL)] + [grid] * 3, turns)
    write_scan(d / "none.scan", d / "s.scan", [np.zeros((3, 2), PIXEL)], turns)
    # A sphere about the scanner, each pixel's normal its own, a point that is not finite early on.
    a, b = np.meshgrid(np.linspace(-0.3, 0.3, 8), np.linspace(-0.2, 0.2, 6), indexing="ij")
    ball = np.zeros((8, 6), PIXEL)
    ball["flags"], ball["rgb"] = 3, 200
    ball["xyz"] = 2 * np.stack([a, b, np.ones_like(a)], -1) / np.sqrt(a * a + b * b + 1)[..., None]
    ball["xyz"][1, 1, 0] = np.nan
    write_scan(d / "ball.scan", d / "s.scan", [ball, ball], turns[1:3])
    for name, extension in [(n, e) for n in ("s", "empty", "none") for e in (".e57", ".ply")]:
        run("import", d / f"{name}.scan", "-o", d / (name + extension))
    return d


# The PLY's point is the frame's taken to the scan's coordinates, rounded to float, then to the
# output's, rounded again: each rounding within 2^-24 of its value, the first's of norm at most
# |q| + |the scan pose's translation|; 2^-40 for the slack of the doubles.
def within(ply, q, t_scan, xyz):
    norm = lambda a: np.linalg.norm(a, axis=-1, keepdims=True)
    bound = 2.0**-24 * (2 * norm(q) + norm(t_scan)) * (1 + 2.0**-20) + 2.0**-40 * (norm(xyz) + norm(q) + 1)
    return (np.abs(ply - q) <= bound).all()


def read_ply(path):
    data = path.read_bytes()
    return np.frombuffer(data, [("xyz", "<f4", 3), ("rgb", "u1", 3)], offset=data.index(b"end_header\n") + 11)


@pytest.mark.parametrize("name", ["s", "empty", "none"])
def test_each_frame_with_points_a_scan_of_its_measured_points(d, name):
    assert crc32c(np.frombuffer(b"123456789", np.uint8)[None]) == 0xE3069283
    root, scans = read_e57(d / f"{name}.e57")
    ply, (grids, t_scan) = read_ply(d / f"{name}.ply"), frames(d / f"{name}.scan")
    poses = [np.array(f["output_pose"]) for f in json.loads(run("info", "--json", d / f"{name}.scan"))["frames"]]
    kept = [np.flatnonzero((g.ravel()["flags"] == 3) & np.isfinite(g.ravel()["xyz"]).all(1)) for g in grids]
    with_points = [i for i, k in enumerate(kept) if len(k)]
    assert [s.findtext(NS + "name") for s, _, _ in scans] == [f"frame {i}" for i in with_points]
    guids = {s.findtext(NS + "guid") for s, _, _ in scans} | {root.findtext(NS + "guid")}
    assert len(guids) == len(scans) + 1 and all(re.fullmatch(r"\{\w{8}(-\w{4}){3}-\w{12}\}", g) for g in guids)
    at = 0
    for (scan, v, maxima), i in zip(scans, with_points):
        (sx, sy), pixels, frame = grids[i].shape, grids[i].ravel()[kept[i]], ply[at:at + len(kept[i])]
        xyz = np.stack([v["cartesianX"], v["cartesianY"], v["cartesianZ"]], 1)
        rgb = np.stack([v["colorRed"], v["colorGreen"], v["colorBlue"]], 1)
        assert np.array_equal(v["columnIndex"] * sy + v["rowIndex"], kept[i])
        assert pixels["xyz"].tobytes() == xyz.tobytes() and np.array_equal(pixels["rgb"], rgb)
        assert np.array_equal(frame["rgb"], rgb) and (maxima["rowIndex"], maxima["columnIndex"]) == (sy - 1, sx - 1)
        assert [number(scan, "indexBounds/" + k) for k in ("rowMaximum", "columnMaximum")] == [sy - 1, sx - 1]
        assert [number(scan, f"cartesianBounds/{a}{m}") for a in "xyz" for m in ("Minimum", "Maximum")] == \
            [f(xyz[:, k]) for k in range(3) for f in (np.min, np.max)]
        w, x, y, z = (number(scan, "pose/rotation/" + k) for k in "wxyz")
        u = np.array([x, y, z])  # the rotation of w + u: (w^2 - |u|^2) I + 2 u u^T + 2 w [u]x
        r = (w * w - u @ u) * np.eye(3) + 2 * np.outer(u, u) + 2 * w * np.cross(np.eye(3), u)
        t = np.array([number(scan, "pose/translation/" + k) for k in "xyz"])
        assert w >= 0 and np.abs(r - poses[i][:3, :3]).max() < 1e-15 and np.array_equal(t, poses[i][:3, 3])
        assert next(v for v in (w, x, y, z) if v != 0) > 0  # one of q and -q: the first non-zero positive
        assert within(frame["xyz"], xyz.astype(np.float64) @ r.T + t, t_scan, xyz)
        at += len(frame)
    assert at == len(ply)


def test_the_same_bytes_streamed_whole_and_through_a_pipe(d, tmp_path):
    run("import", d / "s.scan", "-o", tmp_path / "streamed.e57", "--stream")
    assert run("import", d / "s.scan", "-o", "-", "--format", "e57") == (d / "s.e57").read_bytes()
    assert (tmp_path / "streamed.e57").read_bytes() == (d / "s.e57").read_bytes()


def test_kept_uncoloured_marked_and_a_thinned_cloud_one_scan_without_pose_or_grid(d, tmp_path):
    run("import", d / "empty.scan", "-o", tmp_path / "k.e57", "--keep-uncoloured")
    _, scans = read_e57(tmp_path / "k.e57")
    for (_, v, maxima), g in zip(scans, frames(d / "empty.scan")[0][1:], strict=True):
        pixels = g.ravel()[(g.ravel()["flags"] & 1 == 1) & np.isfinite(g.ravel()["xyz"]).all(1)]
        assert maxima["isColorInvalid"] == 1 and np.array_equal(v["isColorInvalid"], pixels["flags"] == 1)
        rgb = np.stack([v["colorRed"], v["colorGreen"], v["colorBlue"]], 1)
        assert np.array_equal(rgb, np.where((pixels["flags"] == 1)[:, None], 0, pixels["rgb"]))
    # Thinned, or frames merged: one scan named "points", in output coordinates, no pose or grid.
    # Merged, a frame's points run on across packets, and the same bytes come streamed.
    for how in (["--voxel", "0.25"], ["--merge-frames"], ["--merge-frames", "--stream"]):
        for name in ("v.e57", "v.ply"):
            run("import", d / "s.scan", "-o", tmp_path / name, *how, "--keep-uncoloured")
        _, [(scan, v, maxima)] = read_e57(tmp_path / "v.e57")
        ply = read_ply(tmp_path / "v.ply")
        assert scan.findtext(NS + "name") == "points" and scan.find(NS + "pose") is None and scan.find(NS + "indexBounds") is None
        assert list(maxima)[6:] == ["isColorInvalid"] and v["isColorInvalid"].any()
        xyz = np.stack([v["cartesianX"], v["cartesianY"], v["cartesianZ"]], 1)
        assert xyz.tobytes() == ply["xyz"].tobytes() and (len(ply) > 3 * 5000) == ("--merge-frames" in how), how
        assert np.array_equal(np.stack([v["colorRed"], v["colorGreen"], v["colorBlue"]], 1), ply["rgb"])
        assert [number(scan, f"cartesianBounds/{a}{m}") for a in "xyz" for m in ("Minimum", "Maximum")] == \
            [f(xyz[:, k]) for k in range(3) for f in (np.min, np.max)]
        if how[-1] == "--stream":
            assert (tmp_path / "v.e57").read_bytes() == merged
        merged = (tmp_path / "v.e57").read_bytes()


def test_a_scan_for_each_of_many_frames_names_merge_frames(d, tmp_path):
    grid = np.zeros((1, 1), PIXEL)  # a point a frame, and a frame without one: no scan of its own
    grid["flags"], grid["xyz"] = 3, [[[1, 2, 3]]]
    write_scan(tmp_path / "many.scan", d / "s.scan", [grid] * 1001 + [np.zeros((1, 1), PIXEL)], [(1, 1, 1)] * 1002)
    said = run("import", tmp_path / "many.scan", "-o", tmp_path / "many.e57").decode()
    assert "\n        1001 scans in the E57, one a frame: some readers refuse so many (--merge-frames writes one)\n" in said
    said = run("import", tmp_path / "many.scan", "-o", tmp_path / "one.e57", "--merge-frames").decode()
    _, scans = read_e57(tmp_path / "one.e57")
    assert "refuse" not in said and len(scans) == 1 and len(scans[0][1]["cartesianX"]) == 1001


@pytest.mark.skipif(not (NPM / "node_modules/web-e57").is_dir(), reason="web-e57 not installed in build/npm")
def test_web_e57_reads_the_points_and_poses(d):
    script = "import {readFileSync} from 'fs'; import {convertE57} from 'web-e57';" \
             "process.stdout.write(convertE57(new Uint8Array(readFileSync(process.argv[1])), 'XYZ'))"
    text = subprocess.run(["/usr/bin/node", "--experimental-wasm-modules", "--input-type=module", "-e", script,
                           d / "s.e57"], cwd=NPM, check=True, capture_output=True, text=True).stdout
    got, ply = np.loadtxt(text.splitlines()), read_ply(d / "s.ply")
    assert np.array_equal(got[:, 3:], ply["rgb"])
    assert within(ply["xyz"], got[:, :3], frames(d / "s.scan")[1], got[:, :3])
    for how in (["--voxel", "0.25"], ["--merge-frames"]):  # one scan of points as they are
        for name in ("v.e57", "v.ply"):
            run("import", d / "s.scan", "-o", d / name, *how)
        text = subprocess.run(["/usr/bin/node", "--experimental-wasm-modules", "--input-type=module", "-e", script,
                               d / "v.e57"], cwd=NPM, check=True, capture_output=True, text=True).stdout
        got, ply = np.loadtxt(text.splitlines()), read_ply(d / "v.ply")
        assert np.array_equal(got[:, 3:], ply["rgb"]) and np.allclose(got[:, :3], ply["xyz"], rtol=0, atol=1e-6), how


@pytest.mark.parametrize("scan", ["s", "ball"])
def test_normals_in_each_scans_own_coordinates_with_the_extension_declared(d, tmp_path, scan):
    for name in ("n.e57", "n.ply", "m.e57"):
        run("import", d / f"{scan}.scan", "-o", tmp_path / name, "--normals", *["--merge-frames"][:name == "m.e57"])
    data = (tmp_path / "n.ply").read_bytes()
    ply = np.frombuffer(data, [("xyz", "<f4", 3), ("rgb", "u1", 3), ("n", "<f4", 3)], offset=data.index(b"end_header\n") + 11)
    logical = np.fromfile(tmp_path / "n.e57", np.uint8).reshape(-1, 1024)[:, :1020].tobytes()
    assert b'<e57Root type="Structure" xmlns="http://www.astm.org/COMMIT/E57/2010-e57-v1.0" ' \
           b'xmlns:nor="http://www.libe57.org/E57_NOR_surface_normals.txt">' in logical
    at = 0
    for scan, v, _ in read_e57(tmp_path / "n.e57")[1]:  # a frame's normals, rotated by its pose, are the PLY's
        n = np.stack([v["normalX"], v["normalY"], v["normalZ"]], 1).astype(np.float64)
        w, x, y, z = (number(scan, "pose/rotation/" + k) for k in "wxyz")
        u = np.array([x, y, z])
        r = (w * w - u @ u) * np.eye(3) + 2 * np.outer(u, u) + 2 * w * np.cross(np.eye(3), u)
        assert np.abs(n @ r.T - ply["n"][at:at + len(n)]).max() < 1e-6
        at += len(n)
    _, [(_, v, _)] = read_e57(tmp_path / "m.e57")  # merged: in output coordinates, as they are
    assert at == len(ply) and np.stack([v["normalX"], v["normalY"], v["normalZ"]], 1).tobytes() == ply["n"].tobytes()
    if (NPM / "node_modules/web-e57").is_dir():  # and a reader of its own still reads the file
        script = "import {readFileSync} from 'fs'; import {convertE57} from 'web-e57';" \
                 "process.stdout.write(convertE57(new Uint8Array(readFileSync(process.argv[1])), 'XYZ'))"
        text = subprocess.run(["/usr/bin/node", "--experimental-wasm-modules", "--input-type=module", "-e", script,
                               tmp_path / "m.e57"], cwd=NPM, check=True, capture_output=True, text=True).stdout
        assert np.array_equal(np.loadtxt(text.splitlines())[:, 3:], ply["rgb"])
