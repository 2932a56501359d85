# quarn's LAS 1.4 (point format 7) read back by a reader of our own, against its PLY of the
# same scan: the header, every point to 0.05 mm, colours, frames, bounds; empty and too far.
import json, os, subprocess

import numpy as np, pytest

TOOL = os.environ["QUARN_TOOL"]
HEADER = np.dtype([("signature", "S4"), ("source", "<u2"), ("encoding", "<u2"), ("guid", "V16"),
                   ("version", "u1", 2), ("system", "S32"), ("software", "S32"), ("date", "<u2", 2),
                   ("header_size", "<u2"), ("data_at", "<u4"), ("vlrs", "<u4"), ("format", "u1"),
                   ("record", "<u2"), ("legacy", "<u4", 6), ("scale", "<f8", 3), ("offset", "<f8", 3),
                   ("max_min", "<f8", (3, 2)), ("waveform_at", "<u8"), ("evlr_at", "<u8"), ("evlrs", "<u4"),
                   ("count", "<u8"), ("by_return", "<u8", 15)])
POINT = np.dtype([("xyz", "<i4", 3), ("intensity", "<u2"), ("returns", "u1"), ("flags", "u1"), ("class", "u1"),
                  ("user", "u1"), ("angle", "<i2"), ("source", "<u2"), ("time", "<f8"), ("rgb", "<u2", 3)])
PIXEL = np.dtype([("xyz", "<f4", 3), ("flags", "u1"), ("rgb", "u1", 3)])
IDENTITY = [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0]  # a pose: 16 values, column by column, and 0


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, check=True).stdout


def read_las(data):
    header = np.frombuffer(data, HEADER, 1)[0]
    points = np.frombuffer(data, POINT, offset=int(header["data_at"]))
    assert HEADER.itemsize == 375 and POINT.itemsize == 36 and len(points) == header["count"]
    return header, points, points["xyz"] * header["scale"] + header["offset"]


def write_scan(path, frames):  # frames: (pose, pixels of shape (sizeY, sizeX))
    records = [np.array(p.shape[::-1], "<i4").tobytes() + np.array(pose, "<f8").tobytes() + p.tobytes()
               for pose, p in frames]
    at = np.cumsum([152 + 8 * len(frames)] + [len(r) for r in records[:-1]]).astype("<u8")
    path.write_bytes(b"QSCN\r\n\x1a\n" + np.array([1, len(frames)], "<i4").tobytes() +
                     np.array(IDENTITY, "<f8").tobytes() + at.tobytes() + b"".join(records))


@pytest.fixture(scope="module")
def d(tmp_path_factory):
    d = tmp_path_factory.mktemp("las")
    run("sample", "-o", d / "s.scan", "--frames", "3", "--width", "40", "--height", "30")
    run("import", d / "s.scan", "-o", d / "s.ply")
    run("import", d / "s.scan", "-o", d / "s.las")
    return d


def test_the_las_holds_the_ply_points_and_their_frames(d):
    header, points, xyz = read_las((d / "s.las").read_bytes())
    ply = (d / "s.ply").read_bytes()
    ply = np.frombuffer(ply, [("xyz", "<f4", 3), ("rgb", "u1", 3)], offset=ply.index(b"end_header\n") + 11)
    frames = json.loads(run("info", "--json", d / "s.scan"))["frames"]
    n = len(ply)
    assert (header["signature"], tuple(header["version"]), header["encoding"]) == (b"LASF", (1, 4), 0b10000)
    assert (header["system"], header["software"], header["source"], *header["date"]) == (b"quarn", b"quarn", 0, 0, 0)
    assert (*header[["header_size", "data_at", "vlrs", "format", "record"]].item(),) == (375, 375, 0, 7, 36)
    assert not header["legacy"].any() and header["guid"].tobytes() == bytes(16)
    assert (header["waveform_at"], header["evlr_at"], header["evlrs"]) == (0, 0, 0)
    assert header["count"] == n > 2000 and list(header["by_return"]) == [n] + [0] * 14
    assert (header["scale"] == 0.0001).all() and len((d / "s.las").read_bytes()) == 375 + 36 * n
    # Where the first frame was taken, in whole metres.
    assert (header["offset"] == np.round(np.array(frames[0]["output_pose"])[:3, 3])).all()
    assert np.abs(xyz - ply["xyz"]).max() <= 0.00005 + 1e-12
    assert (points["rgb"] == ply["rgb"].astype(np.uint16) * 257).all()
    frame = np.repeat(np.arange(len(frames)), [f["with_both"] for f in frames])
    assert (points["source"] == frame).all() and (points["time"] == frame).all()
    assert (points["returns"] == 0x11).all()
    for name in ("intensity", "flags", "class", "user", "angle"):
        assert not points[name].any(), name
    assert (header["max_min"][:, 0] == xyz.max(axis=0)).all() and (header["max_min"][:, 1] == xyz.min(axis=0)).all()


def test_streamed_and_standard_output_are_the_same_bytes(d):
    las = (d / "s.las").read_bytes()
    run("import", d / "s.scan", "--stream", "-o", d / "streamed.las")
    assert (d / "streamed.las").read_bytes() == las and run("import", d / "s.scan", "-o", "-", "--format", "LAS") == las
    for ext in ("las", "laz", "copc.laz"):  # counted first for the picture: the header still comes last
        run("import", d / "s.scan", "-o", d / f"plain.{ext}")
        run("import", d / "s.scan", "-o", d / f"seen.{ext}", "--preview", d / "seen.png")
        assert (d / f"seen.{ext}").read_bytes() == (d / f"plain.{ext}").read_bytes(), ext
    import quarn  # the package writes quarn's bytes, LAS and E57 too
    for ext in ("las", "e57"):
        run("import", d / "s.scan", "-o", d / f"cli.{ext}")
        assert quarn.convert(d / "s.scan", d / f"py.{ext}")["frame_by_frame"]
        assert (d / f"py.{ext}").read_bytes() == (d / f"cli.{ext}").read_bytes(), ext


def test_a_scan_without_points_and_one_too_wide(tmp_path):
    pixels = np.zeros((2, 3), PIXEL)
    write_scan(tmp_path / "empty.scan", [(IDENTITY, pixels)])
    run("import", tmp_path / "empty.scan", "-o", tmp_path / "empty.las")
    header, points, _ = read_las((tmp_path / "empty.las").read_bytes())
    assert header["count"] == len(points) == 0 and not header["by_return"].any() and not header["max_min"].any()
    assert len((tmp_path / "empty.las").read_bytes()) == 375 and header["format"] == 7
    pixels["flags"], pixels["xyz"] = 3, [1, 2, 3]
    far = list(IDENTITY)
    far[12] = 1e6
    write_scan(tmp_path / "far.scan", [(IDENTITY, pixels), (far, pixels)])
    refused = subprocess.run([TOOL, "import", tmp_path / "far.scan", "-o", tmp_path / "far.las"],
                             capture_output=True, text=True)
    assert refused.returncode == 1 and not (tmp_path / "far.las").exists()
    assert refused.stderr == f"quarn: error: cannot write {tmp_path / 'far.las'}: the scan reaches 999999 m along x " \
        "from its first frame, more than LAS holds at 0.1 mm (214 km along an axis)\n", refused.stderr
