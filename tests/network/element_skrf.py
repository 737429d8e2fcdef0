#!/usr/bin/python3
"""The element extractions against scikit-rf (Debian's python3-scikit-rf):
the SeriesShuntElements.CircuitsRoundTripThroughExtractionAndSeriesTwoPort
case writes, per circuit, the 2-port S data (equal and unequal reference
impedances) and the extracted 1-port values. A series element has an
admittance matrix, whose -Y12 is its admittance (skrf.s2y); a shunt element
has an impedance matrix, whose Z12 is its impedance (skrf.s2z). The
extraction agrees to 1e-9 relative.

Usage: element_skrf.py <cfit_network_tests>
"""
import glob
import os
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

if not hasattr(numpy, "complex"):  # Debian's scikit-rf 0.15 still uses the alias
    numpy.complex = complex
import skrf  # noqa: E402

Y, Z = 2, 3


def worst_difference(path):
    with open(path, "rb") as f:
        series, target, count = numpy.frombuffer(f.read(12), dtype=numpy.int32)
        z0 = numpy.frombuffer(f.read(16), dtype=numpy.float64)
        rows = numpy.frombuffer(f.read(), dtype=numpy.complex128).reshape(count, 5)
    s = rows[:, :4].reshape(count, 2, 2)
    if series:
        element_y = -skrf.s2y(s, z0)[:, 0, 1]
        want = element_y if target == Y else 1 / element_y
    else:
        element_z = skrf.s2z(s, z0)[:, 0, 1]
        want = element_z if target == Z else 1 / element_z
    return numpy.max(numpy.abs(rows[:, 4] - want) / numpy.abs(want))


def main():
    with tempfile.TemporaryDirectory() as dump:
        if not run_dump_case(sys.argv[1],
                             "SeriesShuntElements.CircuitsRoundTripThroughExtractionAndSeriesTwoPort",
                             "CFIT_ELEMENT_DUMP", "", dump):
            return 1
        files = sorted(glob.glob(os.path.join(dump, "*.bin")))
        failures = 0
        for path in files:
            worst = worst_difference(path)
            if not worst <= 1e-9:
                failures += 1
                print(f"FAIL  {os.path.basename(path)}: relative difference {worst:.3g}")
        print(f"{len(files)} extractions compared with scikit-rf, {failures} disagree")
        return 0 if len(files) == 24 and failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
