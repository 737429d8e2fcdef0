#!/usr/bin/python3
"""The exact certificate against an independent dense numpy check on models
fitted to real files (S, Y and Z; individual and common poles):
- every one of 20,000 log-spaced frequencies over the poles' span where
  numpy finds the delay-free model not passive (largest singular value above
  1 + 1e-9, or an eigenvalue of the Hermitian part below -1e-9 times the
  largest |H|) lies in a band the certificate reported: 0 missed;
- after the residue perturbation the model (with its delays, where the
  certificate covers them) is passive by numpy: sigma_max^2 <= 1 + 1e-6, or
  every eigenvalue of the Hermitian part >= -1e-6 times the largest |H|.

Usage: certificate_crosscheck.py <cfit_passivity_tests> <data folder>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import read_matrices as load, run_dump_case  # noqa: E402


def violating(values, data_type, tolerance):
    if data_type == 1:
        return numpy.linalg.svd(values, compute_uv=False)[:, 0] ** 2 > 1.0 + tolerance
    hermitian = 0.5 * (values + numpy.conj(numpy.transpose(values, (0, 2, 1))))
    return numpy.linalg.eigvalsh(hermitian)[:, 0] < -tolerance * numpy.max(numpy.abs(values))


def main():
    program, folder = sys.argv[1], sys.argv[2]
    failures = 0
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(program, "RealFileCertificate.CoversTheSampledViolationsAndPerturbationEndsPassive", "CFIT_CERTIFICATE_DUMP", folder,
                             dump):
            return 1
        frees = sorted(glob.glob(os.path.join(dump, "*.free.bin")))
        for path in frees:
            base = path[:-len(".free.bin")]
            freqs, values, data_type = load(path)
            bad = violating(values, data_type, 1e-9)
            inside = numpy.zeros(len(freqs), dtype=bool)
            with open(base + ".bands") as f:
                for line in f:
                    lo, hi = (float(x) for x in line.split())
                    inside |= (freqs >= lo * (1 - 1e-9)) & (freqs <= hi * (1 + 1e-9))
            missed = int(numpy.sum(bad & ~inside))
            enforced = "not dumped (delays the certificate leaves out)"
            ok = missed == 0
            if os.path.exists(base + ".enforced.bin"):
                _, after, _ = load(base + ".enforced.bin")
                still = int(numpy.sum(violating(after, data_type, 1e-6)))
                enforced = f"{still} violating points after the perturbation"
                ok = ok and still == 0
            failures += not ok
            print(f"{'ok  ' if ok else 'FAIL'}  {os.path.basename(base)}: {int(numpy.sum(bad))} "
                  f"violating points, {missed} outside the certified bands; {enforced}")
        return 0 if frees and failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
