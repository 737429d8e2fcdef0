#!/usr/bin/python3
"""Cross-check of the S/Y/Z/ABCD conversions against scikit-rf.

Runs the real-file conversion test of the network test program with
CFIT_SKRF_DUMP set, so that it writes the input and output of every
conversion of every real file that reads (with unequal reference impedances
per port), then converts the same inputs with scikit-rf (Debian's
python3-scikit-rf: s2y, s2z, s2a, y2s, z2s, y2z, z2y) and compares point by
point: the largest difference over a point's matrix, relative to the largest
entry of the reference matrix, must be at most 1e-9. The Y -> S and Z -> S
outputs must also give back the S matrices they came from (round trips).

Points whose system is singular or nearly so (condition number above 1e6,
where two correct solvers may already differ by more than 1e-9) are not
compared; they are counted, and the fitter's values there must be finite.
At points with S entries of exactly 1 or -1, which scikit-rf moves by 1e-12
before converting, Y and Z are compared with numpy's direct solve instead.

Usage: skrf_conversion.py <cfit_network_tests program> <folder of the real files>
Exit status 0 when every comparison agrees.
"""
import glob
import os
import sys
import tempfile
import warnings

warnings.filterwarnings("ignore")
import numpy  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

# Debian's scikit-rf 0.15 still uses the alias numpy.complex, which its numpy
# no longer has.
if not hasattr(numpy, "complex"):
    numpy.complex = complex

try:
    import skrf  # noqa: E402
except ImportError:
    print("scikit-rf is not installed (Debian package python3-scikit-rf)")
    sys.exit(1)

TOLERANCE = 1e-9
CONDITION_LIMIT = 1e6
MINIMUM_DUMPS = 150

S, Y, Z, ABCD = 1, 2, 3, 4
NAMES = {S: "S", Y: "Y", Z: "Z", ABCD: "ABCD"}


def read_dump(path):
    with open(path, "rb") as f:
        source, target, ports, points = numpy.frombuffer(f.read(16), dtype=numpy.int32)
        z0 = numpy.frombuffer(f.read(8 * ports), dtype=numpy.float64)
        freq = numpy.frombuffer(f.read(8 * points), dtype=numpy.float64)
        count = points * ports * ports
        values = numpy.frombuffer(f.read(16 * count * 2), dtype=numpy.complex128)
    shape = (points, ports, ports)
    return (int(source), int(target), z0, freq, values[:count].reshape(shape),
            values[count:].reshape(shape))


def reference(source, target, z0, x):
    """scikit-rf's conversion of x."""
    conversions = {
        (S, Y): lambda: skrf.s2y(x, z0),
        (S, Z): lambda: skrf.s2z(x, z0),
        (S, ABCD): lambda: skrf.s2a(x, z0),
        (Y, S): lambda: skrf.y2s(x, z0),
        (Z, S): lambda: skrf.z2s(x, z0),
        (Y, Z): lambda: skrf.y2z(x),
        (Z, Y): lambda: skrf.z2y(x),
    }
    return conversions[(source, target)]()


def singular_points(source, target, z0, x):
    """Points whose system is singular or nearly so: I + S (to Y), I - S (to
    Z), I + y or I + z with y, z normalised (to S), the matrix itself (Y <->
    Z), S21 = 0 (ABCD)."""
    if target == ABCD:
        return x[:, 1, 0] == 0
    eye = numpy.eye(x.shape[1])
    root = numpy.outer(numpy.sqrt(z0), numpy.sqrt(z0))
    system = {(S, Y): lambda: eye + x, (S, Z): lambda: eye - x,
              (Y, S): lambda: eye + x * root, (Z, S): lambda: eye + x / root,
              (Y, Z): lambda: x, (Z, Y): lambda: x}[(source, target)]()
    with numpy.errstate(all="ignore"):
        condition = numpy.linalg.cond(system)
    return ~(condition <= CONDITION_LIMIT)


def direct(target, z0, s):
    """Y or Z from S by numpy's solve of (I + S) Y' = I - S and
    (I - S) Z' = I + S, denormalised by sqrt(Z0i Z0j)."""
    eye = numpy.eye(s.shape[1])
    root = numpy.outer(numpy.sqrt(z0), numpy.sqrt(z0))
    if target == Y:
        return numpy.linalg.solve(eye + s, eye - s) / root
    return numpy.linalg.solve(eye - s, eye + s) * root


def point_errors(got, want):
    """Largest |got - want| per point over the largest |want| of the point."""
    diff = numpy.abs(got - want).max(axis=(1, 2))
    scale = numpy.abs(want).max(axis=(1, 2))
    return numpy.where(scale > 0, diff / numpy.where(scale > 0, scale, 1), diff)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump_folder:
        if not run_dump_case(program, "RealFileConversions.EveryFileConvertsInEveryDirection",
                             "CFIT_SKRF_DUMP", folder, dump_folder):
            return 1
        dumps = sorted(glob.glob(os.path.join(dump_folder, "*.bin")))
        inputs = {}  # (file, type) -> values that type was made from, for round trips
        failures = 0
        largest = 0.0
        for dump in dumps:
            name, _ = os.path.basename(dump)[:-len(".bin")].rsplit(".", 1)
            source, target, z0, freq, x, got = read_dump(dump)
            singular = singular_points(source, target, z0, x)
            if source == S:
                inputs[(name, target)] = (x, singular)
            regular = ~singular
            want = numpy.zeros_like(got)
            if regular.any():
                want[regular] = reference(source, target, z0, x[regular])
            # scikit-rf moves S entries of exactly 1 or -1 by 1e-12 before it
            # converts; there the reference is numpy's direct solve instead.
            exact = None
            if source == S and target in (Y, Z):
                exact = regular & ((x == 1) | (x == -1)).any(axis=(1, 2))
            if exact is not None and exact.any():
                want[exact] = direct(target, z0, x[exact])
            errors = point_errors(got[regular], want[regular]) if regular.any() else numpy.zeros(0)
            worst = float(errors.max()) if errors.size else 0.0
            problems = []
            if worst > TOLERANCE:
                problems.append(f"relative difference {worst:.3g}")
            if target != ABCD and not numpy.isfinite(got[singular]).all():
                problems.append("non-finite values at singular points")
            # Round trip: back to the S matrices the Y or Z data came from.
            if target == S and (name, source) in inputs:
                original, before = inputs[(name, source)]
                kept = regular & ~before
                back = point_errors(got[kept], original[kept])
                if back.size and back.max() > TOLERANCE:
                    problems.append(f"round trip differs by {back.max():.3g}")
            largest = max(largest, worst)
            label = f"{name} {NAMES[source]}->{NAMES[target]}"
            note = f", {int(singular.sum())} singular" if singular.any() else ""
            if exact is not None and exact.any():
                note += f", {int(exact.sum())} with entries of exactly 1 or -1"
            if problems:
                failures += 1
                print(f"FAIL  {label}: " + "; ".join(problems))
            else:
                print(f"ok    {label}: {x.shape[1]} ports, {len(freq)} points{note}, "
                      f"largest difference {worst:.2g}")
        print(f"{len(dumps)} conversions compared, {failures} disagree, "
              f"largest relative difference {largest:.3g}")
        if len(dumps) < MINIMUM_DUMPS:
            print(f"expected at least {MINIMUM_DUMPS} conversions")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
