#!/usr/bin/python3
"""The cascade of real 2-port files against scikit-rf's (Debian's
python3-scikit-rf: Network ** Network, then its Y parameters).

The network test program's real-file case cascades pairs of real 2-port S
files (read as written, without symmetrising) and writes each result in Y.
At every frequency both files hold (where their grids coincide), the largest
difference relative to the largest entry of scikit-rf's Y matrix must be at
most 1e-9. Points where I + S of either file has a condition number above
1e6 are not compared (two correct solvers may differ there).

Usage: skrf_cascade.py <cfit_network_tests> <folder of the real files>
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


def read_dump(path):
    with open(path, "rb") as f:
        ports, points = (int(v) for v in numpy.frombuffer(f.read(8), numpy.int32))
        rows = numpy.frombuffer(f.read(), dtype=numpy.float64).reshape(points, 1 + 2 * ports * ports)
    y = rows[:, 1::2] + 1j * rows[:, 2::2]
    return rows[:, 0], y.reshape(points, ports, ports)


def at(network, index):
    frequency = skrf.Frequency.from_f(network.f[index], unit="hz")
    return skrf.Network(frequency=frequency, s=network.s[index], z0=network.z0[index])


def common(fa, fb):
    """Indices into fa and fb of the frequencies both hold."""
    ia, ib = [], []
    for k, f in enumerate(fa):
        match = numpy.nonzero(numpy.abs(fb - f) <= 1e-12 * max(f, 1.0))[0]
        if match.size:
            ia.append(k)
            ib.append(match[0])
    return numpy.array(ia, dtype=int), numpy.array(ib, dtype=int)


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump_folder:
        if not run_dump_case(program, "RealFileCascades.EveryTwoPortPairCascades",
                             "CFIT_SKRF_DUMP", folder, dump_folder):
            return 1
        dumps = sorted(glob.glob(os.path.join(dump_folder, "*.bin")))
        failures, compared, worst = 0, 0, 0.0
        for dump in dumps:
            first, second = os.path.basename(dump)[:-4].split("+")
            a = skrf.Network(os.path.join(folder, first))
            b = skrf.Network(os.path.join(folder, second))
            f, got = read_dump(dump)
            ia, ib = common(a.f, b.f)
            eye = numpy.eye(2)
            regular = (numpy.linalg.cond(eye + a.s[ia]) <= 1e6) & (numpy.linalg.cond(eye + b.s[ib]) <= 1e6)
            ia, ib = ia[regular], ib[regular]
            if ia.size == 0:
                continue
            want = (at(a, ia) ** at(b, ib)).y
            _, ig = common(a.f[ia], f)
            if ig.size != ia.size:
                print(f"{first} + {second}: {ia.size - ig.size} common frequencies missing")
                failures += 1
                continue
            scale = numpy.abs(want).max(axis=(1, 2))
            error = numpy.abs(got[ig] - want).max(axis=(1, 2)) / scale
            compared += ia.size
            worst = max(worst, error.max())
            if not (error <= 1e-9).all():
                k = int(numpy.argmax(error))
                print(f"{first} + {second}: relative difference {error[k]:.3g} at {a.f[ia][k]:.6g} Hz")
                failures += 1
        print(f"{len(dumps)} cascades, {compared} points compared, "
              f"largest relative difference {worst:.3g}")
        return 1 if failures or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
