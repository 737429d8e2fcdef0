#!/usr/bin/python3
"""The S/Y/Z/ABCD conversions of every real file that reads, against
scikit-rf (Debian's python3-scikit-rf: s2y, s2z, s2a, y2s, z2s, y2z, z2y).

The network test program's real-file case writes the input and output of each
conversion (unequal impedances per port). Per point, the largest difference
relative to the largest entry of the reference must be at most 1e-9, and
Y -> S and Z -> S must give back the S matrices they came from. Points whose
system has a condition number above 1e6 are not compared (two correct
solvers may differ there); every value but ABCD's must be finite. At
points with S entries of exactly 1 or -1, which scikit-rf moves by 1e-12,
Y and Z are compared with numpy's direct solve instead.

Usage: skrf_conversion.py <cfit_network_tests> <folder of the real files>
"""
import glob
import os
import sys
import tempfile

import numpy  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

if not hasattr(numpy, "complex"):  # Debian's scikit-rf 0.15 still uses the alias
    numpy.complex = complex
import skrf  # noqa: E402

S, Y, Z, ABCD = 1, 2, 3, 4


def read_dump(path):
    with open(path, "rb") as f:
        source, target, ports, points = (int(v) for v in numpy.frombuffer(f.read(16), numpy.int32))
        z0 = numpy.frombuffer(f.read(8 * ports), dtype=numpy.float64)
        values = numpy.frombuffer(f.read(), dtype=numpy.complex128).reshape(2, points, ports, ports)
    return source, target, z0, values[0], values[1]


def reference(source, target, z0, x):
    """scikit-rf's conversion of x at the regular points, and the singular ones."""
    eye = numpy.eye(x.shape[1])
    root = numpy.outer(numpy.sqrt(z0), numpy.sqrt(z0))
    system = {(S, Y): eye + x, (S, Z): eye - x, (Y, S): eye + x * root, (Z, S): eye + x / root,
              (S, ABCD): None}.get((source, target), x)
    singular = x[:, 1, 0] == 0 if target == ABCD else ~(numpy.linalg.cond(system) <= 1e6)
    convert = {(S, Y): skrf.s2y, (S, Z): skrf.s2z, (S, ABCD): skrf.s2a, (Y, S): skrf.y2s,
               (Z, S): skrf.z2s, (Y, Z): lambda v, _: skrf.y2z(v),
               (Z, Y): lambda v, _: skrf.z2y(v)}[(source, target)]
    want = numpy.zeros_like(x)
    if (~singular).any():
        want[~singular] = convert(x[~singular], z0)
    exact = ~singular & ((x == 1) | (x == -1)).any(axis=(1, 2))
    if source == S and target in (Y, Z) and exact.any():
        # scikit-rf moves such entries; numpy's direct solve of (I + S) Y' = I - S
        # and (I - S) Z' = I + S instead.
        sign = 1 if target == Y else -1
        direct = numpy.linalg.solve(eye + sign * x[exact], eye - sign * x[exact])
        want[exact] = direct / root if target == Y else direct * root
    return want, singular


def point_errors(got, want):
    scale = numpy.abs(want).max(axis=(1, 2))
    return numpy.abs(got - want).max(axis=(1, 2)) / numpy.where(scale > 0, scale, 1)


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump_folder:
        if not run_dump_case(program, "RealFileConversions.EveryFileConvertsInEveryDirection",
                             "CFIT_SKRF_DUMP", folder, dump_folder):
            return 1
        dumps = sorted(glob.glob(os.path.join(dump_folder, "*.bin")))
        inputs, failures = {}, 0  # (file, type) -> S values that type was made from
        for dump in dumps:
            name = os.path.basename(dump).rsplit(".", 2)[0]
            source, target, z0, x, got = read_dump(dump)
            with numpy.errstate(all="ignore"):
                want, singular = reference(source, target, z0, x)
            if source == S:
                inputs[(name, target)] = (x, singular)
            regular = ~singular
            problems = []
            worst = point_errors(got[regular], want[regular]).max(initial=0.0)
            if not worst <= 1e-9:
                problems.append(f"relative difference {worst:.3g}")
            if target != ABCD and not numpy.isfinite(got).all():
                problems.append("non-finite values")
            if target == S and (name, source) in inputs:
                original, before = inputs[(name, source)]
                kept = regular & ~before
                if not point_errors(got[kept], original[kept]).max(initial=0.0) <= 1e-9:
                    problems.append("the round trip differs")
            if problems:
                failures += 1
                print(f"FAIL  {name} {source}->{target}: " + "; ".join(problems))
        print(f"{len(dumps)} conversions compared, {failures} disagree")
        return 1 if failures or len(dumps) < 150 else 0


if __name__ == "__main__":
    sys.exit(main())
