#!/usr/bin/python3
"""Enforced models of real files are passive by an independent dense check.

Runs the passivity test program's RealFiles.EnforcedModelDump case (fit,
EnforceModelPassivity, then the model at 20,000 log-spaced frequencies from
the smallest pole magnitude / 100 to 100 times the largest) and checks with
numpy that the largest singular value squared (S data) stays below 1 + 1e-6
at every frequency.

Usage: dense_check.py <cfit_passivity_tests> <data folder>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

LIMIT = 1.0 + 1e-6


def largest_measure(path):
    with open(path, "rb") as f:
        ports, count, data_type = numpy.frombuffer(f.read(12), dtype=numpy.int32)
        raw = numpy.frombuffer(f.read(), dtype=numpy.float64).reshape(count, 1 + 2 * ports * ports)
    values = (raw[:, 1::2] + 1j * raw[:, 2::2]).reshape(count, ports, ports)
    if data_type == 1:
        measure = numpy.linalg.svd(values, compute_uv=False)[:, 0] ** 2
    else:
        hermitian = 0.5 * (values + numpy.conj(numpy.transpose(values, (0, 2, 1))))
        measure = numpy.maximum(0.0, 1.0 - numpy.linalg.eigvalsh(hermitian)[:, 0])
    k = int(numpy.argmax(measure))
    return measure[k], raw[k, 0]


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(program, "RealFiles.EnforcedModelDump", "CFIT_DENSE_DUMP", folder,
                             dump):
            return 1
        files = sorted(glob.glob(os.path.join(dump, "*.bin")))
        failures = 0
        for path in files:
            measure, where = largest_measure(path)
            ok = measure <= LIMIT
            failures += 0 if ok else 1
            print(f"{'ok  ' if ok else 'FAIL'}  {os.path.basename(path)[:-4]}: largest measure "
                  f"{measure:.9f} at {where:.4g} Hz")
        if not files:
            print("nothing was dumped")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
