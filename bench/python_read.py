"""quarn_bench's Python measure: python_read.py SCAN PLUGIN RUNS.

Prints `python_read_seconds: S pixels: N`, S the best of RUNS quarn.read calls of SCAN through
PLUGIN. Each Scan is freed after its clock stops, as the import's matrices are. The plug-in's
own lines also reach stdout; quarn_bench looks for this one.
"""

import sys
import time

import quarn


def main():
    scan, plugin, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    best, pixels = float("inf"), 0
    for _ in range(runs):
        start = time.perf_counter()
        read = quarn.read(scan, plugin)
        best = min(best, time.perf_counter() - start)
        pixels = read.pixels
        del read
    sys.stdout.flush()
    print(f"python_read_seconds: {best!r} pixels: {pixels}", flush=True)


if __name__ == "__main__":
    main()
