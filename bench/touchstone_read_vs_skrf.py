#!/usr/bin/python3
"""ReadTouchstone against scikit-rf on the benchmark's generated files.

Runs cfit_touchstone_bench (which generates a 16-port RI file of 5,000 points
and a 4-port DB file, and times ReadTouchstone on them), then times
scikit-rf's skrf.Network(path) on the same files in this process, and prints
both speeds, their ratio and the reader's peak memory relative to the file
size.

Usage: touchstone_read_vs_skrf.py <cfit_touchstone_bench program>
Needs Debian's python3-scikit-rf (run with /usr/bin/python3).
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import warnings

warnings.filterwarnings("ignore")
import skrf  # noqa: E402


def time_skrf(path, repeats=3):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        skrf.Network(path)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        run = subprocess.run([program, "--benchmark_format=json"],
                             env=dict(os.environ, CFIT_BENCH_DIR=folder),
                             stdout=subprocess.PIPE, text=True, check=True)
        results = json.loads(run.stdout)["benchmarks"]
        print(f"{'file':18s} {'MB':>7s} {'cfit MB/s':>10s} {'skrf MB/s':>10s} {'ratio':>6s} "
              f"{'peak mem/file':>14s}")
        for result in results:
            name = result["name"].split("/")[1]
            path = os.path.join(folder, name)
            size = os.path.getsize(path)
            cfit_speed = result["bytes_per_second"] / 1e6
            skrf_speed = size / time_skrf(path) / 1e6
            peak = float(subprocess.run([program, "--peak-memory", path], stdout=subprocess.PIPE,
                                        text=True, check=True).stdout)
            print(f"{name:18s} {size / 1e6:7.1f} {cfit_speed:10.0f} {skrf_speed:10.0f} "
                  f"{cfit_speed / skrf_speed:6.1f} {peak:14.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
