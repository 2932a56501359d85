"""A memory cgroup for a child process, in the Python tests."""
import contextlib, os

import pytest


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
