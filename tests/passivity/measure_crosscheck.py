#!/usr/bin/python3
"""The passivity measure of the sampled data against numpy.

Runs the passivity test program's RealFiles.MeasureDump case, which writes,
for every real Touchstone file that reads, each point's matrix and the
library's measure. Then checks every point with numpy:
  S data: the measure equals the square of the largest singular value;
  Y/Z data: the measure equals max(0, 1 - smallest eigenvalue of the
  Hermitian part), that is the smallest eigenvalue likewise;
to 1e-10 relative.

Usage: measure_crosscheck.py <cfit_passivity_tests> <data folder>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

TOLERANCE = 1e-10
MINIMUM_FILES = 20


def check_file(path):
    with open(path) as f:
        ports, data_type, count = (int(v) for v in f.readline().split())
        worst = 0.0
        for line in f:
            values = [float(v) for v in line.split()]
            measure = values[1]
            flat = numpy.array(values[2::2]) + 1j * numpy.array(values[3::2])
            h = flat.reshape(ports, ports)
            if data_type == 1:
                expected = numpy.linalg.svd(h, compute_uv=False)[0] ** 2
            else:
                hermitian = 0.5 * (h + h.conj().T)
                expected = max(0.0, 1.0 - numpy.linalg.eigvalsh(hermitian)[0])
            error = abs(measure - expected) / max(abs(expected), 1e-300)
            worst = max(worst, error)
        return ports, data_type, count, worst


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(program, "RealFiles.MeasureDump", "CFIT_MEASURE_DUMP", folder, dump):
            return 1
        files = sorted(glob.glob(os.path.join(dump, "*.txt")))
        failures = 0
        for path in files:
            ports, data_type, count, worst = check_file(path)
            ok = worst <= TOLERANCE
            failures += 0 if ok else 1
            name = os.path.basename(path)[:-4]
            print(f"{'ok  ' if ok else 'FAIL'}  {name}: type {data_type}, {ports} ports, "
                  f"{count} points, largest relative difference {worst:.2e}")
        print(f"{len(files)} files checked, {failures} disagree")
        if len(files) < MINIMUM_FILES:
            print(f"expected at least {MINIMUM_FILES} files")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
