# quarn's COPC read back by copc.js (npm `copc`, which decodes each node through LAZperf) as a
# viewer reads it: the header, the info record, the whole hierarchy and every node's points; and
# by LAZperf alone as one flat LAZ. Against the LAS quarn writes of the same scan: the same
# records, each node's inside its cube, the root a thin sample of the whole extent.
import json, os, pathlib, resource, signal, struct, subprocess

import numpy as np, pytest
from test_las import HEADER, IDENTITY, PIXEL, POINT, run, write_scan

TOOL = os.environ["QUARN_TOOL"]
NPM = pathlib.Path(TOOL).parents[1] / "npm"
READ = """
import {readFileSync, writeFileSync} from 'fs'; import {createRequire} from 'module';
const [npm, file] = process.argv.slice(1), require = createRequire(npm + '/node_modules/');
const {Copc} = require('copc'), lazperf = await require('laz-perf').create();
const copc = await Copc.create(file), nodes = {}, points = [];
for (let pages = [copc.info.rootHierarchyPage]; pages.length;) {
  const page = await Copc.loadHierarchyPage(file, pages.pop());
  pages.push(...Object.values(page.pages));
  for (const [key, node] of Object.entries(page.nodes)) {
    nodes[key] = node;
    if (node.pointCount > 0) points.push(await Copc.loadPointDataBuffer(file, copc.header, node, lazperf));
  }
}
writeFileSync(file + '.nodes', Buffer.concat(points));
const data = readFileSync(file), at = lazperf._malloc(data.length), flat = new lazperf.LASZip();
lazperf.HEAPU8.set(data, at); flat.open(at, data.length);
const n = flat.getCount(), size = flat.getPointLength(), point = lazperf._malloc(size), all = new Uint8Array(n * size);
for (let i = 0; i < n; ++i) { flat.getPoint(point); all.set(lazperf.HEAPU8.subarray(point, point + size), i * size); }
writeFileSync(file + '.flat', all);
console.log(JSON.stringify({header: copc.header, info: copc.info, vlrs: copc.vlrs, nodes}, (k, v) => typeof v === 'bigint' ? Number(v) : v));
"""
needs_copc = pytest.mark.skipif(not (NPM / "node_modules/copc").is_dir(), reason="copc (copc.js) not installed beside the build")


def read_copc(path, point=POINT):
    """What copc.js reads: the header, info, records and nodes (each with its records), and LAZperf's flat read."""
    out = json.loads(subprocess.run(["/usr/bin/node", "--input-type=module", "-e", READ, NPM, path],
                                    capture_output=True, check=True).stdout)
    records, at = np.frombuffer(pathlib.Path(f"{path}.nodes").read_bytes(), point), 0
    nodes = {}
    for key, node in out["nodes"].items():
        nodes[tuple(map(int, key.split("-")))] = node, records[at:at + node["pointCount"]]
        at += node["pointCount"]
    return out, nodes, np.frombuffer(pathlib.Path(f"{path}.flat").read_bytes(), point)


def sorted_rows(records):
    return np.sort(records.view(np.dtype((np.void, POINT.itemsize))))


def check(copc_path, las_path, one_node=False):
    las = las_path.read_bytes()
    header = np.frombuffer(las, HEADER, 1)[0]
    las_records = np.frombuffer(las, POINT, offset=375)
    out, nodes, flat = read_copc(copc_path)
    data = copc_path.read_bytes()
    # The LAS header but for the format's compression bit, the records before the points and the EVLR.
    assert data[:96] + data[105:235] + data[247:375] == las[:96] + las[105:235] + las[247:375]
    assert struct.unpack_from("<IIB", data, 96) == (375 + 54 + 160 + 54 + 46, 2, 135)
    assert [(v["userId"], v["recordId"]) for v in out["vlrs"]] == [("copc", 1), ("laszip encoded", 22204), ("copc", 1000)]
    assert struct.unpack_from("<I", data, 429 + 160 + 54 + 12)[0] == 0xFFFFFFFF  # variable chunks
    info, (*centre, half, spacing) = out["info"], struct.unpack_from("<5d", data, 429)
    cube = np.array([np.subtract(centre, half), np.add(centre, half)])
    assert np.allclose(info["cube"], cube.ravel(), rtol=0, atol=1e-9) and info["spacing"] == spacing == half / 64
    # The cube holds the points, within twice their extent.
    low, high = header["max_min"][:, 1], header["max_min"][:, 0]
    assert (cube[0] <= low).all() and (high < cube[1]).all() and half <= max(high - low) + 0.21
    times = las_records["time"]
    assert info["gpsTimeRange"] == ([times.min(), times.max()] if len(times) else [0, 0])
    page = info["rootHierarchyPage"]
    assert struct.unpack_from("<QI", data, 235) == (page["pageOffset"] - 60, 1) and page["pageOffset"] + page["pageLength"] == len(data)
    # Together the nodes hold the LAS's records; LAZperf reads them all, node by node in file order.
    assert sorted_rows(np.concatenate([r for _, r in nodes.values()])).tobytes() == sorted_rows(las_records).tobytes()
    by_offset = sorted((node["pointDataOffset"], k) for k, (node, _) in nodes.items() if node["pointCount"])
    assert flat.tobytes() == b"".join(nodes[k][1].tobytes() for _, k in by_offset)
    # Each node inside its cube (in steps from the header's offset), none over 100,000 points nor
    # empty, and reachable from the root.
    steps = np.rint((cube[0] - header["offset"]) / 0.0001).astype(np.int64)
    side = int(round(2 * half / 0.0001))
    for (level, *xyz), (node, records) in nodes.items():
        assert 0 < node["pointCount"] <= 100000 and len(records) == node["pointCount"]
        assert level == 0 or (level - 1, *(c // 2 for c in xyz)) in nodes
        size = side >> level
        node_low = steps + np.array(xyz) * size
        assert ((records["xyz"] >= node_low) & (records["xyz"] < node_low + size)).all(), (level, xyz)
    levels = max(k[0] for k in nodes) + 1
    if one_node:
        assert list(nodes) == [(0, 0, 0, 0)]
    else:  # the root thin, over the whole extent: within a 20th of each bound
        root = nodes[(0, 0, 0, 0)][1]["xyz"] * 0.0001 + header["offset"]
        assert len(root) < len(las_records) / 8 and levels >= 2
        assert (abs(root.min(0) - low) < (high - low) / 20).all() and (abs(root.max(0) - high) < (high - low) / 20).all()
    return nodes, levels


def tiles(pose, values, width=None):  # a frame of one row of pixels with these points and colours
    pixels = np.zeros((1, width or max(len(values), 2)), PIXEL)
    if len(values):
        pixels["flags"][0, :len(values)], pixels["xyz"][0, :len(values)], pixels["rgb"][0, :len(values)] = 3, *zip(*values)
    return pose, pixels


rng = np.random.default_rng(5)
SCANS = {  # name: sample size (frames, width, height) or frames, the import's options, one node
    "sample, 1.2 M points: several subtrees and levels": ((5, 640, 480), [], False),
    "sample kept uncoloured, one node": ((3, 200, 150), ["--keep-uncoloured"], True),
    "sample thinned, one node": ((3, 200, 150), ["--voxel", "0.05"], True),
    "a small scan, one node": ([tiles(IDENTITY, [((1, 2, 3), (9, 9, 9)), ((-1, 0, 5), (1, 2, 3))])], [], True),
    "a cloud of 300,000 at random": ([tiles(IDENTITY, list(zip(rng.uniform(-50, 50, (300000, 3)), rng.integers(0, 256, (300000, 3)))))], [], False),
}


@needs_copc
@pytest.mark.parametrize("name", SCANS)
def test_copcjs_reads_every_node_and_they_hold_the_las(name, tmp_path):
    scan, options, one_node = SCANS[name]
    if isinstance(scan, tuple):
        run("sample", "-o", tmp_path / "s.scan", *(f"--{o}={v}" for o, v in zip(("frames", "width", "height"), scan)))
    else:
        write_scan(tmp_path / "s.scan", scan)
    run("import", tmp_path / "s.scan", "-o", tmp_path / "s.las", *options)
    run("import", tmp_path / "s.scan", "-o", tmp_path / "s.copc.laz", *options)
    check(tmp_path / "s.copc.laz", tmp_path / "s.las", one_node)


@needs_copc
def test_no_points_is_a_root_without_points(tmp_path):
    write_scan(tmp_path / "s.scan", [tiles(IDENTITY, [])])
    run("import", tmp_path / "s.scan", "-o", tmp_path / "s.copc.laz")
    out, nodes, flat = read_copc(tmp_path / "s.copc.laz")
    assert out["header"]["pointCount"] == len(flat) == 0 and {k: n["pointCount"] for k, (n, _) in nodes.items()} == {(0, 0, 0, 0): 0}


def test_whole_streamed_piped_and_from_python_the_same_bytes(tmp_path):
    run("sample", "-o", tmp_path / "s.scan", "--frames", "3", "--width", "200", "--height", "150")
    run("import", tmp_path / "s.scan", "-o", tmp_path / "whole.copc.laz")
    run("import", tmp_path / "s.scan", "--stream", "-o", tmp_path / "streamed.copc.laz")
    whole = (tmp_path / "whole.copc.laz").read_bytes()
    assert (tmp_path / "streamed.copc.laz").read_bytes() == whole == run("import", tmp_path / "s.scan", "-o", "-", "--format", "copc")
    import quarn
    quarn.convert(tmp_path / "s.scan", tmp_path / "py.dat", format="copc")
    assert (tmp_path / "py.dat").read_bytes() == whole


def test_a_full_disk_leaves_no_temporary_file_nor_output(tmp_path):
    run("sample", "-o", tmp_path / "s.scan", "--frames", "3", "--width", "200", "--height", "150")
    (tmp_path / "tmp").mkdir()

    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # the write fails instead
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
    failed = subprocess.run([TOOL, "import", tmp_path / "s.scan", "-o", tmp_path / "out.copc.laz"], preexec_fn=limited,
                            capture_output=True, text=True, env={**os.environ, "TMPDIR": str(tmp_path / "tmp")})
    assert failed.returncode == 1 and failed.stderr == \
        f"quarn: error: cannot write {tmp_path / 'out.copc.laz'}: its temporary file in {tmp_path / 'tmp'}: File too large\n"
    assert sorted(os.listdir(tmp_path)) == ["s.scan", "tmp"] and not os.listdir(tmp_path / "tmp")


@needs_copc
def test_normals_ride_in_extra_bytes_as_in_the_las(tmp_path):
    run("sample", "-o", tmp_path / "s.scan", "--frames", "3", "--width", "200", "--height", "150")
    for ext in ("las", "copc.laz"):
        run("import", tmp_path / "s.scan", "-o", tmp_path / f"n.{ext}", "--normals")
    record = np.dtype((np.void, 48))
    las = (tmp_path / "n.las").read_bytes()
    out, nodes, flat = read_copc(tmp_path / "n.copc.laz", record)
    data = (tmp_path / "n.copc.laz").read_bytes()
    assert struct.unpack_from("<IBH", data, 100) == (3, 135, 48) and b"NormalX" in data[375:2000]
    want = np.sort(np.frombuffer(las, record, offset=struct.unpack_from("<I", las, 96)[0]))
    assert np.array_equal(np.sort(np.concatenate([r for _, r in nodes.values()])), want) and np.array_equal(np.sort(flat), want)
