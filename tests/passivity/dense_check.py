#!/usr/bin/python3
"""Enforced models of real files are passive by an independent dense check:
numpy's largest singular value squared (S data) of each model at the 20,000
frequencies the passivity test program's RealFiles.EnforcedModelDump case
writes stays below 1 + 1e-6.

Usage: dense_check.py <cfit_passivity_tests> <data folder>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import passivity_measure, read_matrices, run_dump_case  # noqa: E402


def largest_measure(path):
    _, values, data_type = read_matrices(path)
    return numpy.max(passivity_measure(values, data_type))


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(program, "RealFiles.EnforcedModelDump", "CFIT_DENSE_DUMP", folder,
                             dump):
            return 1
        files = sorted(glob.glob(os.path.join(dump, "*.bin")))
        for path in files:
            measure = largest_measure(path)
            print(f"{'ok  ' if measure <= 1.0 + 1e-6 else 'FAIL'}  {os.path.basename(path)[:-4]}: "
                  f"largest measure {measure:.9f}")
        return 0 if files and all(largest_measure(p) <= 1.0 + 1e-6 for p in files) else 1


if __name__ == "__main__":
    sys.exit(main())
