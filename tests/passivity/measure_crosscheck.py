#!/usr/bin/python3
"""The passivity measure of the sampled data of every real file that reads,
against numpy: for S data the square of the largest singular value, for Y/Z
data max(0, 1 - the smallest eigenvalue of the Hermitian part), to 1e-10
relative at every point.

Usage: measure_crosscheck.py <cfit_passivity_tests> <data folder>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import passivity_measure, run_dump_case  # noqa: E402


def worst_difference(path):
    with open(path) as f:
        ports, data_type, _ = (int(v) for v in f.readline().split())
        rows = numpy.array([[float(v) for v in line.split()] for line in f])
    h = (rows[:, 2::2] + 1j * rows[:, 3::2]).reshape(-1, ports, ports)
    expected = passivity_measure(h, data_type)
    return numpy.max(numpy.abs(rows[:, 1] - expected) / numpy.maximum(numpy.abs(expected), 1e-300))


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(program, "RealFiles.MeasureDump", "CFIT_MEASURE_DUMP", folder, dump):
            return 1
        files = sorted(glob.glob(os.path.join(dump, "*.txt")))
        bad = [p for p in files if not worst_difference(p) <= 1e-10]
        for path in bad:
            print(f"FAIL  {os.path.basename(path)[:-4]}: {worst_difference(path):.2e}")
        print(f"{len(files)} files checked, {len(bad)} disagree")
        return 1 if bad or len(files) < 20 else 0


if __name__ == "__main__":
    sys.exit(main())
