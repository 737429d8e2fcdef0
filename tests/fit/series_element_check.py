#!/usr/bin/python3
"""Series-element models are passive and keep the series relations by numpy:
the FitSeriesElement.KeepsTheSeriesRelationsExactlyAndIsPassive case writes
each model's 2 x 2 S matrices at 20,001 frequencies from 0 Hz to 1 THz; the
largest singular value stays below 1 + 1e-12, and S11 = S22, S12 = S21 and
S11 + S21 = 1 hold to 1e-12.

Usage: series_element_check.py <cfit_fit_tests>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import read_matrices, run_dump_case  # noqa: E402


def check(path):
    _, s, _ = read_matrices(path)
    largest = numpy.linalg.svd(s, compute_uv=False)[:, 0].max()
    relations = max(numpy.abs(s[:, 0, 0] - s[:, 1, 1]).max(), numpy.abs(s[:, 0, 1] - s[:, 1, 0]).max(),
                    numpy.abs(s[:, 0, 0] + s[:, 1, 0] - 1).max())
    ok = largest <= 1 + 1e-12 and relations <= 1e-12
    print(f"{'ok  ' if ok else 'FAIL'}  {os.path.basename(path)}: largest singular value "
          f"{largest:.15f}, relations within {relations:.3g}")
    return ok


def main():
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(sys.argv[1], "FitSeriesElement.KeepsTheSeriesRelationsExactlyAndIsPassive",
                             "CFIT_SERIES_DUMP", "", dump):
            return 1
        files = sorted(glob.glob(os.path.join(dump, "*.bin")))
        results = [check(p) for p in files]
        return 0 if len(files) == 2 and all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
