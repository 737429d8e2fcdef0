#!/usr/bin/python3
"""Mixed-mode conversion of the real 4-port files against scikit-rf's
generalized mixed-mode conversion (Debian's python3-scikit-rf, se2gmm).

The network test program's real-file case writes, per file and port
assignment (a, b, c, d), the single-ended values and ConvertToMixedMode's
result. scikit-rf pairs ports (0, 1) and (2, 3), the first of each pair the
positive terminal, and orders its result differential 1, differential 2,
common 1, common 2 -- the same order -- so the ports are first renumbered to
a, b, c, d. With the reference impedances 2 z0 (differential) and z0 / 2
(common), its conversion is the plain change of basis. Every value must agree
to 1e-12 relative to the largest entry of its point.

Usage: skrf_mixed_mode.py <cfit_network_tests> <folder of the real files>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

# Debian's scikit-rf 0.15 still uses the aliases numpy 1.24 removed.
if not hasattr(numpy, "complex"):
    numpy.complex = complex
if "bool" not in numpy.__dict__:
    numpy.bool = bool
import skrf  # noqa: E402


def read_dump(path):
    with open(path, "rb") as f:
        header = numpy.frombuffer(f.read(20), numpy.int32)
        ports, points = [int(v) - 1 for v in header[:4]], int(header[4])
        z0 = float(numpy.frombuffer(f.read(8), numpy.float64)[0])
        values = numpy.frombuffer(f.read(), dtype=numpy.complex128).reshape(2, points, 4, 4)
    return ports, z0, values[0], values[1]


def reference(ports, z0, x):
    ordered = x[:, ports][:, :, ports]
    network = skrf.Network(frequency=skrf.Frequency.from_f(numpy.arange(1, len(x) + 1), unit="hz"),
                           s=ordered, z0=z0)
    z0_mm = numpy.array([[2 * z0, 2 * z0, z0 / 2, z0 / 2]] * len(x))
    network.se2gmm(p=2, z0_mm=z0_mm)
    return network.s


def main():
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump_folder:
        if not run_dump_case(program, "RealFileMixedMode.EveryFourPortFile", "CFIT_SKRF_DUMP",
                             folder, dump_folder):
            return 1
        dumps = sorted(glob.glob(os.path.join(dump_folder, "*.bin")))
        failures, largest = 0, 0.0
        for dump in dumps:
            ports, z0, x, got = read_dump(dump)
            want = reference(ports, z0, x)
            scale = numpy.abs(want).max(axis=(1, 2))
            error = (numpy.abs(got - want).max(axis=(1, 2)) / numpy.where(scale > 0, scale, 1)).max()
            largest = max(largest, error)
            name = os.path.basename(dump)
            if not error <= 1e-12:
                failures += 1
                print(f"FAIL  {name} pairs {[p + 1 for p in ports]}: relative difference {error:.3g}")
        print(f"{len(dumps)} conversions compared, largest relative difference {largest:.3g}, "
              f"{failures} disagree")
        return 1 if failures or len(dumps) < 8 else 0


if __name__ == "__main__":
    sys.exit(main())
