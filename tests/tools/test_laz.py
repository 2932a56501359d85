# quarn's LAZ read back by two decoders that share no code with it or each other, LAZperf and
# laz-rs (WebAssembly from npm, which scripts/test installs beside the build): every record byte
# for byte against the LAS quarn writes of the same scan, the header, the LASzip record and the
# chunk table; and fixed record sequences through the coder and the compressors.
import os, pathlib, struct, subprocess

import numpy as np, pytest
from test_las import IDENTITY, PIXEL, POINT, write_scan

TOOL = os.environ["QUARN_TOOL"]
FIXED = pathlib.Path(TOOL).with_name("laz_fixed_records")
NPM = pathlib.Path(TOOL).parents[1] / "npm"
RS = NPM / "node_modules/@loaders.gl/las/dist/libs/laz-rs-wasm/laz_rs_wasm"
DECODE = """
import {readFileSync, writeFileSync} from 'fs'; import {createRequire} from 'module';
const [npm, rs, file] = process.argv.slice(1), data = readFileSync(file);
const lazperf = await createRequire(npm + '/node_modules/')('laz-perf').create();
const at = lazperf._malloc(data.length), reader = new lazperf.LASZip();
lazperf.HEAPU8.set(data, at); reader.open(at, data.length);
const n = reader.getCount(), size = reader.getPointLength(), point = lazperf._malloc(size);
const perf = new Uint8Array(n * size);
for (let i = 0; i < n; ++i) { reader.getPoint(point); perf.set(lazperf.HEAPU8.subarray(point, point + size), i * size); }
writeFileSync(file + '.lazperf', perf);
const lazrs = await import(rs + '.js'); lazrs.initSync({module: readFileSync(rs + '_bg.wasm')});
const decoder = new lazrs.WasmLasZipDecompressor(new Uint8Array(data)), header = decoder.header;
const out = new Uint8Array(Number(header.num_points) * header.point_size); decoder.decompress_many(out);
writeFileSync(file + '.lazrs', out);
"""
needs_decoders = pytest.mark.skipif(not (NPM / "node_modules/laz-perf").is_dir() or not RS.with_suffix(".js").exists(),
                                    reason="laz-perf and @loaders.gl/las not installed beside the build")


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, check=True).stdout


def decoded(path):  # the records as each decoder reads them
    subprocess.run(["/usr/bin/node", "--input-type=module", "-e", DECODE, NPM, RS, path], check=True)
    return [pathlib.Path(f"{path}.{name}").read_bytes() for name in ("lazperf", "lazrs")]


def check_structure(laz, las):
    """The LAS header but for the format's top bit, the VLR count and where the points are; the LAS's
    ExtraBytes record (normals), if any, then the LASzip record, whose third item, BYTE14, holds the
    extra bytes; the chunk table where the 8 bytes before the points say, of one chunk per 50,000
    points. The count, and where the LAS's records start."""
    (count,), (start, vlrs), (size,) = (struct.unpack_from(f, las, at) for f, at in (("<Q", 247), ("<II", 96), ("<H", 105)))
    items = (10, 30, 3, 11, 6, 3) + ((14, size - 36, 3) if size > 36 else ())
    data = 34 + 2 * len(items)
    assert laz[:96] + laz[105:375] == las[:96] + las[105:375] and laz[375:start] == las[375:start]
    assert struct.unpack_from("<IIB", laz, 96) == (start + 54 + data, vlrs + 1, 135)
    assert laz[start:start + 54] == b"\0\0laszip encoded\0\0" + struct.pack("<HH", 22204, data) + b"quarn".ljust(32, b"\0")
    assert struct.unpack_from(f"<HHBBHIIqqH{len(items)}H", laz, start + 54) == (3, 0, 3, 4, 3, 0, 50000, -1, -1,
                                                                                len(items) // 3, *items)
    table = struct.unpack_from("<Q", laz, start + 54 + data)[0]
    assert struct.unpack_from("<II", laz, table) == (0, -(-count // 50000))
    return count, start


def tiles(pose, values):  # a frame of one row of pixels with these points and colours; none: two without
    pixels = np.zeros((1, max(len(values), 2)), PIXEL)
    if values:
        pixels["flags"], pixels["xyz"], pixels["rgb"] = 3, [v[0] for v in values], [v[1] for v in values]
    return pose, pixels


def moved(dx):
    pose = list(IDENTITY)
    pose[12] = dx
    return pose


rng = np.random.default_rng(7)
SCANS = {  # name: frames (or None for the sample scan) and the import's options
    "sample, six chunks, the last short": (None, []),
    "sample kept uncoloured": (None, ["--keep-uncoloured"]),
    "sample thinned": (None, ["--voxel", "0.05"]),
    "sample with normals, in extra bytes": (None, ["--normals"]),
    "a point repeated, every difference 0": ([tiles(IDENTITY, [([1, 2, 3], [9, 9, 9])] * 3000)], []),
    "jumps across the whole range": ([tiles(IDENTITY, [((rng.integers(0, 2, 3) * 2 - 1) * 107374, (1, 2, 3))
                                                       for _ in range(3000)])], []),
    "colour changes and grey runs": ([tiles(moved(i), [([0, j / 100, 0], rng.integers(0, 256, 3) if j % 50 < 7
                                                        else [j // 50] * 3) for j in range(2000)]) for i in range(3)], []),
    "frames without points, and none": ([tiles(IDENTITY, []), tiles(moved(5), [([1, 1, 1], [1, 2, 3])]),
                                         tiles(IDENTITY, [])], []),
    "no points at all": ([tiles(IDENTITY, [])], []),
}


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    path = tmp_path_factory.mktemp("laz") / "s.scan"
    run("sample", "-o", path, "--frames", "3", "--width", "400", "--height", "300")
    return path


@needs_decoders
@pytest.mark.parametrize("name", SCANS)
def test_both_decoders_read_the_las_records(name, sample, tmp_path):
    frames, options = SCANS[name]
    scan = sample if frames is None else tmp_path / "s.scan"
    if frames is not None:
        write_scan(scan, frames)
    run("import", scan, "-o", tmp_path / "s.las", *options)
    run("import", scan, "-o", tmp_path / "s.laz", *options)
    las, laz = (tmp_path / "s.las").read_bytes(), (tmp_path / "s.laz").read_bytes()
    count, start = check_structure(laz, las)
    if "--normals" in options:  # 48-byte records, the ExtraBytes record kept beside LASzip's
        assert (las[105], laz[375 + 2:375 + 11], laz[375 + 54 + 4:375 + 54 + 11]) == (48, b"LASF_Spec", b"NormalX")
    for records in decoded(tmp_path / "s.laz"):
        assert records == las[start:], name
    if frames is None and not options:  # six chunks, at most a third of the LAS
        assert count > 250000 and len(laz) < 0.35 * len(las)


@pytest.mark.parametrize("options", [[], ["--normals"]])
def test_whole_streamed_piped_and_from_python_the_same_bytes(options, sample, tmp_path):
    run("import", sample, "-o", tmp_path / "whole.laz", *options)
    run("import", sample, "--stream", "-o", tmp_path / "streamed.laz", *options)
    whole = (tmp_path / "whole.laz").read_bytes()
    assert (tmp_path / "streamed.laz").read_bytes() == whole == run("import", sample, "-o", "-", "--format", "laz", *options)
    import quarn
    quarn.convert(sample, tmp_path / "py.laz", normals=bool(options))
    assert (tmp_path / "py.laz").read_bytes() == whole


def test_a_scan_too_wide_leaves_no_file(tmp_path):
    pixels = np.zeros((2, 3), PIXEL)
    pixels["flags"], pixels["xyz"] = 3, [1, 2, 3]
    write_scan(tmp_path / "far.scan", [(IDENTITY, pixels)] * 60000 + [(moved(1e6), pixels)])
    refused = subprocess.run([TOOL, "import", tmp_path / "far.scan", "-o", tmp_path / "far.laz"],
                             capture_output=True, text=True)
    assert refused.returncode == 1 and not (tmp_path / "far.laz").exists()
    assert refused.stderr == f"quarn: error: cannot write {tmp_path / 'far.laz'}: the scan reaches 999999 m along x " \
        "from its first frame, more than LAS holds at 0.1 mm (214 km along an axis)\n", refused.stderr


def records(n, width=0, **fields):  # n format 7 records, `width` extra bytes: 0 but return 1 of 1, and the fields given
    r = np.zeros(n, np.dtype(POINT.descr + [("extra", "u1", width)]) if width else POINT)
    r["returns"] = 0x11
    for name, values in fields.items():
        r[name] = values
    return r


def gps_times():  # steps regular, multiplied, negative, 0, far, back to earlier sequences
    steps = [1e-6] * 20 + [3e-6, 7e-6, 0.02, 2e-4, -5e-6, -1e-3, 0, 0, 0, 0, 0] + [1e-6] * 5
    t = list(np.cumsum(steps) + 1000.0)
    return t + [5e8, 5e8 + 1e-6, t[-1] + 1e-6, -3.5, 5e8 + 2e-6, 1e300, 2.0, t[-1] + 2e-6] * 3


FIXED_RECORDS = {
    "one point": records(1, xyz=[5, 6, 7]),
    "a repeat": records(500, xyz=[-5, 6, 1 << 30], rgb=[65535, 0, 257]),
    "the corrector's widest cases": records(600, xyz=rng.choice([-2**31, 2**31 - 1, 0, 1, -1, 2**30], (600, 3))),
    "every POINT14 field": records(3000, xyz=rng.integers(-3000, 3000, (3000, 3)).cumsum(0),
                                   intensity=rng.integers(0, 65536, 3000) // rng.choice([1, 4096], 3000),
                                   returns=rng.integers(0, 256, 3000) & rng.choice([0x11, 0xFF, 0x33], 3000),
                                   flags=rng.integers(0, 256, 3000) & 0xCF * rng.integers(0, 2, 3000),
                                   **{"class": rng.integers(0, 4, 3000) * 60, "user": rng.integers(0, 256, 3000) % 7,
                                      "angle": rng.integers(-30000, 30000, 3000) // 1000 * rng.integers(0, 2, 3000),
                                      "source": rng.integers(0, 65536, 3000) // 60000}),
    "GPS time's sequences": records(len(gps_times()), time=gps_times(), xyz=[1, 2, 3]),
    "colours": records(4000, rgb=np.where(rng.integers(0, 3, (4000, 1)) == 0, rng.integers(0, 65536, (4000, 3)),
                                          np.repeat(rng.integers(0, 256, (4000, 1)) * 257, 3, 1))),
    "three chunks, the last of one point": records(100001, xyz=rng.integers(-9, 9, (100001, 3)).cumsum(0),
                                                   time=np.arange(100001) // 7000, source=np.arange(100001) // 9000),
    # By byte: never changing; changing in the first chunk only; once, at the last point; runs of steps
    # wrapping below 0; then two floats turning, their low bytes noise.
    "extra bytes, two chunks": records(60001, 12, xyz=[1, 2, 3], extra=np.column_stack([
        np.full(60001, 77), np.arange(60001) % 5 * (np.arange(60001) < 50000), np.arange(60001) == 60000,
        np.arange(60001) // 900 * -3 % 256,
        np.stack([np.cos(np.arange(60001) / 1e4), np.sin(np.arange(60001) / 1e4)], 1).astype("<f4").view("u1")])),
}


@needs_decoders
@pytest.mark.parametrize("name", FIXED_RECORDS)
def test_fixed_records_through_the_coder_decoded_by_both(name, tmp_path):
    fixed = FIXED_RECORDS[name]
    data, normals = fixed.tobytes(), ["--normals"] * (fixed.itemsize == 48)
    laz = subprocess.run([FIXED, *normals], input=data, capture_output=True, check=True).stdout
    (tmp_path / "f.laz").write_bytes(laz)
    for records in decoded(tmp_path / "f.laz"):
        assert records == data, name
    # Each chunk: the raw record, the count, the layer sizes (POINT14's 9, RGB14's, BYTE14's 12), the
    # layers; a byte's layer empty where that byte never changes in the chunk.
    at = struct.unpack_from("<I", laz, 96)[0] + 8
    for first in range(0, len(fixed), 50000) if normals else ():
        sizes, extra = struct.unpack_from("<22I", laz, at + 52), fixed["extra"][first:first + 50000]
        assert [size > 0 for size in sizes[10:]] == list((extra[1:] != extra[:-1]).any(0)), first
        at += 52 + 88 + sum(sizes)
