"""A scanner's scan as numpy arrays, read through the QuarnDotProduct plug-in as a host reads it.

    scan = quarn.read("out/sample.scan")  # scripts/demo writes it
    print(len(scan.points), scan.points.min(axis=0), scan.points.max(axis=0))
    cloud = scan.to_open3d()
    for frame in quarn.frames("out/sample.scan"):  # one frame's memory at a time
        print(frame.index, len(frame.points), frame.pose[:3, 3])
    quarn.convert("out/sample.scan", "out/sample.pcd")  # quarn import's bytes

A point is a pixel with a point and a colour whose three coordinates are finite: read, frames
and convert hand out the same points. With keep_uncoloured=True they also hand out the pixels
with a finite point but no colour, black, flagged in `uncoloured`.
"""

import errno
import math
import numbers
import operator
import os

# Checked before the module loads, which would fail later or in numpy's own words.
try:
    import numpy as _numpy  # noqa: F401
except ImportError as _error:
    raise ImportError("quarn needs numpy: install Debian's python3-numpy for this Python "
                      f"({_error})") from _error

from ._layout import PLUGIN as _PLUGIN, VERSION as __version__
from . import _quarn
from ._quarn import Frames, Scan

# Named as the user imports them, in reprs and tracebacks.
Scan.__module__ = Frames.__module__ = __name__

__all__ = ["read", "frames", "trajectory", "convert", "Scan", "Frame", "Frames", "ScanError",
           "ScanNotFoundError", "ScanIsADirectoryError", "default_plugin"]


class ScanError(OSError):
    """A scan that cannot be read.

    An OSError: filename is the scan, strerror the reason ("no such file", "not a scan file",
    "needs 497 MB of memory, 290 MB available", ...), errno ENOENT, EISDIR or ENOMEM where one
    fits, else None. A missing scan is also a FileNotFoundError, a folder an IsADirectoryError.
    """

    def __str__(self):
        if self.filename is None:  # raised by hand, as OSError("reason")
            return super().__str__()
        return f"cannot read {self.filename}: {self.strerror}"


class ScanNotFoundError(ScanError, FileNotFoundError):
    """A scan that is not there."""


class ScanIsADirectoryError(ScanError, IsADirectoryError):
    """A folder given as the scan."""


def _scan_error(code, reason, filename):  # the module raises its failures through this
    kind = {errno.ENOENT: ScanNotFoundError, errno.EISDIR: ScanIsADirectoryError}.get(code)
    return (kind or ScanError)(code, reason, os.fsdecode(filename))


def default_plugin():
    """The plug-in the build or the install put beside this package."""
    return os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), _PLUGIN))


def _path(value, name):  # as open() takes it: str, bytes or os.PathLike; the file system's bytes
    try:
        return os.fsencode(value)
    except TypeError:
        raise TypeError(f"{name} must be a str, bytes or os.PathLike, not "
                        f"{type(value).__name__}") from None


def _flag(value, name):  # True or False (or 1 or 0), not anything truthy: "no" is not False
    if isinstance(value, (bool, _numpy.bool_)):
        return bool(value)
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}") from None
    if number not in (0, 1):
        raise ValueError(f"{name} must be True or False, not {number}")
    return bool(number)


def _voxel(value):  # a cell size in metres: a real number, positive and finite
    if value is None:
        return None
    if isinstance(value, (bool, _numpy.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"voxel must be a number of metres, not {type(value).__name__}")
    size = float(value)
    if not (size > 0 and math.isfinite(size)):
        raise ValueError(f"voxel must be a positive finite number of metres, not {value!r}")
    return size


def _format(value):  # a format's name, or None for the output's extension
    if value is None:
        return ""
    if not isinstance(value, str):
        raise TypeError(f"format must be a str or None, not {type(value).__name__}")
    if not value:  # which the module would take for "by the extension"
        raise ValueError(f"format must be one of {', '.join(_quarn.FORMATS)} or None, not ''")
    return value


def read(path, plugin=None, quiet=False, keep_uncoloured=False):
    """Reads the scan at `path` through the plug-in (by default default_plugin()).

    Returns a Scan whose points (n x 3 float64) and colours (n x 3 uint8) are the scan's n
    points (pixels with a point and a colour, all three coordinates finite), viewed in place in
    the plug-in's output (moved up in place where a non-finite point is left out); transform is 4 x 4 and pixels the scan's
    pixel count. A Scan pickles as copies of its arrays. quiet=True mutes the plug-in's console
    lines for this read (what Python threads print still shows). keep_uncoloured=True also
    keeps the pixels with a finite point but no colour, in their place among the others, black,
    and True in uncoloured (n bool; all False otherwise); the plug-in leaves them out, so the
    scan is then read frame by frame, without it, into arrays of the same size, and a plugin
    named with it is a ValueError. Raises ScanError (an OSError) with the reason when it cannot
    be read, TypeError for an argument of the wrong type (a path that is not a path, a flag
    that is not True or False).
    """
    path = _path(path, "path")
    quiet, keep_uncoloured = _flag(quiet, "quiet"), _flag(keep_uncoloured, "keep_uncoloured")
    if keep_uncoloured and plugin is not None:
        raise ValueError("plugin: keep_uncoloured is read frame by frame, without the plug-in")
    plugin = default_plugin() if plugin is None else _path(plugin, "plugin")
    return _quarn.read(path, plugin, quiet, keep_uncoloured)


class Frame:
    """One frame of a scan, from frames(); its arrays are its own.

    index: the frame's number, from 0. points (m x 3 float64) and colours (m x 3 uint8): the
    frame's points (pixels with both, finite), x outer and y inner, already in the scan's
    output coordinates, exactly as read() gives them. pose (4 x 4 float64): the homogeneous matrix
    (rotation block, translation in column 3, last row 0 0 0 1) that maps the frame's own
    coordinates into the output's, so pose[:3, 3] is where the scanner stood. uncoloured (m
    bool): the points without a colour, kept by frames(keep_uncoloured=True). normals (m x 3
    float64, made by frames(normals=True), else None): each point's unit surface normal from
    the frame's pixel grid, in output coordinates, facing where the scanner stood; (0, 0, 0)
    where the grid gives none. A Frame pickles as its arrays.
    """

    __slots__ = ("index", "points", "colours", "pose", "uncoloured", "normals")

    def __init__(self, index, points, colours, pose, uncoloured=None, normals=None):
        self.index, self.points, self.colours, self.pose = index, points, colours, pose
        self.uncoloured = _numpy.zeros(len(points), bool) if uncoloured is None else uncoloured
        self.normals = normals

    def __repr__(self):
        return f"<quarn.Frame {self.index}: {len(self.points)} points>"

    def __reduce__(self):
        return Frame, (self.index, self.points, self.colours, self.pose, self.uncoloured, self.normals)


def frames(path, quiet=False, keep_uncoloured=False, normals=False):
    """The frames of the scan at `path`, as an iterator of Frames, one frame's memory at a time.

    Their points and colours, concatenated in order, are read(path)'s to the bit: each frame's
    points are computed by the plug-in's own code, compiled into this package (no plug-in is
    loaded). len() of the iterator is the scan's frame count. The scan is opened here, so a
    scan that cannot be opened raises ScanError (an OSError) at this call; a frame whose pose
    is refused (singular, mirrored or not finite) raises it when that frame is next, and the next call goes on with the
    frame after. Frames print nothing, so quiet (accepted as read() accepts it) mutes nothing.
    The GIL is released while a frame is read; one iterator serves one thread at a time.
    keep_uncoloured=True also keeps the points without a colour, as read() does. normals=True
    also makes each point's normal (Frame.normals).
    """
    _flag(quiet, "quiet")  # nothing to mute
    return Frames(_path(path, "path"), Frame, _flag(keep_uncoloured, "keep_uncoloured"),
                  _flag(normals, "normals"))


def trajectory(path):
    """Every frame's pose of the scan at `path`: F x 4 x 4 float64, read without any pixels.

    trajectory(path)[f] is frame f's Frame.pose, so trajectory(path)[:, :3, 3] is the path the
    scanner took, in the scan's output coordinates. Raises ScanError (an OSError) when the
    scan cannot be opened or a frame's pose is refused (singular, mirrored or not finite).
    """
    return _quarn.trajectory(_path(path, "path"))


def convert(scan, output, preview=None, stream=None, plugin=None, format=None,
            keep_uncoloured=False, voxel=None, merge_frames=False, normals=False):
    """Converts the scan at `scan` to the point file `output` as `quarn import` does, byte for
    byte: PLY, PCD, XYZ, E57, LAS, LAZ or COPC by its extension or by `format` ("ply", "pcd",
    "xyz", "e57", "las", "laz", "copc"; for "-" and names of any other extension), and a PNG
    picture at `preview` when given.

    stream=None reads the scan through the plug-in (by default default_plugin()), or frame by
    frame when that does not fit in memory; True always frame by frame, False always through
    the plug-in. keep_uncoloured=True also writes the points without a colour (black; E57 marks
    them), read frame by frame. voxel=SIZE writes one point per occupied cube of SIZE metres
    (the mean point and colour of each cell), as quarn import --voxel. merge_frames=True
    writes an E57's points as one scan in output coordinates rather than a scan (pose and
    grid) for each frame, as quarn import --merge-frames; other formats keep each point's frame.
    The output is written complete or not at all, by quarn's rules for a user's files (links
    followed, a FIFO or device written straight through, "-" standard output). Returns a dict:
    frames, pixels, points (written), non_finite (left out), without_colour (pixels with a
    point but no colour: those written where they are kept, else all of them, left out),
    frame_by_frame and scans (the E57 scans of their own, one for each frame with points). The
    plug-in's console lines are muted.

    Raises ScanError for the scan; for an output that cannot be written, the OSError open()
    would raise (PermissionError, IsADirectoryError, FileNotFoundError, ...), with errno,
    strerror and filename; TypeError for an argument of the wrong type; ValueError for a
    request that cannot be done (an unknown extension, an output that is the scan, a plugin
    named for a read that does not load it, a voxel too fine to number the scan's cells,
    points beyond what the format holds).
    """
    if preview is not None and not _path(preview, "preview"):  # as open("") refuses it
        raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), preview)
    if stream is not None:
        stream = _flag(stream, "stream")
    read = {None: 0, False: 1, True: 2}[stream]
    return _quarn.convert(_path(scan, "scan"), _path(output, "output"),
                          b"" if preview is None else _path(preview, "preview"),
                          _path(default_plugin() if plugin is None else plugin, "plugin"),
                          plugin is not None, read, _format(format),
                          _flag(keep_uncoloured, "keep_uncoloured"), _voxel(voxel),
                          _flag(merge_frames, "merge_frames"), _flag(normals, "normals"))


def _to_open3d(self):
    """The points as an open3d.geometry.PointCloud, colours scaled to 0-1 (copies both)."""
    try:
        import open3d
    except ImportError as error:
        raise ImportError("Scan.to_open3d needs open3d: install Debian's python3-open3d "
                          f"({error})") from error
    cloud = open3d.geometry.PointCloud()
    cloud.points = open3d.utility.Vector3dVector(self.points)
    cloud.colors = open3d.utility.Vector3dVector(self.colours / 255.0)
    return cloud


Scan.to_open3d = _to_open3d
