"""A scanner's scan as numpy arrays, read through the QuarnDotProduct plug-in as a host reads it.

    scan = quarn.read("room.scan")
    print(len(scan.points), scan.points.min(axis=0), scan.points.max(axis=0))
    cloud = scan.to_open3d()
"""

import errno
import os

# Checked before the module loads, which would fail later or in numpy's own words.
try:
    import numpy as _numpy  # noqa: F401
except ImportError as _error:
    raise ImportError("quarn needs numpy: install Debian's python3-numpy for this Python "
                      f"({_error})") from _error

from ._layout import PLUGIN as _PLUGIN, VERSION as __version__
from . import _quarn
from ._quarn import Scan

# Named as the user imports it, in reprs and tracebacks.
Scan.__module__ = __name__

__all__ = ["read", "Scan", "ScanError", "ScanNotFoundError", "ScanIsADirectoryError",
           "default_plugin"]


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
    return (kind or ScanError)(code, reason, filename)


def default_plugin():
    """The plug-in the build or the install put beside this package."""
    return os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), _PLUGIN))


def _path(value, name):
    try:
        return os.fsdecode(os.fspath(value))
    except TypeError:
        raise TypeError(f"{name} must be a str, bytes or os.PathLike, not "
                        f"{type(value).__name__}") from None


def read(path, plugin=None, quiet=False):
    """Reads the scan at `path` through the plug-in (by default default_plugin()).

    Returns a Scan whose points (n x 3 float64) and colours (n x 3 uint8) are the n valid
    pixels, viewed in place in the plug-in's output; transform is 4 x 4 and pixels the scan's
    pixel count. A Scan pickles as copies of its arrays. quiet=True mutes the plug-in's console
    lines for this read (what Python threads print still shows). Raises ScanError (an OSError)
    with the reason when it cannot be read, TypeError for an argument that is not a path.
    """
    path = _path(path, "path")
    plugin = default_plugin() if plugin is None else _path(plugin, "plugin")
    return _quarn.read(path, plugin, bool(quiet))


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
