#!/usr/bin/python3
# Cross-check of the Touchstone reader against scikit-rf (Debian's
# python3-scikit-rf). Runs the real-file test of the io test program with
# CFIT_SKRF_DUMP set, so that it writes the frequencies, values and reference
# impedances of every file it reads, reads the same files with scikit-rf and
# compares: frequencies, every complex value and the reference impedances
# agree to 1e-12 relative.
#
# Usage: skrf_crosscheck.py <cfit_io_tests program> <folder of the real files>
# Exit status 0 when every file agrees.
import glob
import os
import sys
import tempfile
import warnings

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

warnings.filterwarnings("ignore")
import skrf  # noqa: E402

# scikit-rf 0.15 reads S parameters only; it does not look at the line after
# the [Reference] keyword, which holds these impedances; it cannot open a
# file that starts with a byte-order mark, so it reads a copy without it.
SKRF_CANNOT_READ = {"zparam_spec_example.s1p"}
Z0_FROM_FILE = {"v2_sixport_per_port_reference.ts": [50, 75, 0.01, 1, 2, 3]}
STARTS_WITH_BOM = {"edge_utf8_bom.s2p"}
# A broken dump must not pass by comparing nothing.
MINIMUM_COMPARED = 25


def relative_error(a, b):
    scale = numpy.maximum(numpy.abs(a), numpy.abs(b))
    return float(numpy.max(numpy.abs(a - b) / numpy.where(scale > 0, scale, 1.0), initial=0.0))


def compare(dump, folder, dump_folder):
    name = os.path.basename(dump)[:-len(".dump")]
    with open(dump) as f:
        ports, _, z0 = f.readline().split()[1], f.readline(), f.readline().split()[1:]
        rows = numpy.loadtxt(f, ndmin=2)
    ports, z0 = int(ports), numpy.array(z0, float)
    source = os.path.join(folder, name)
    if name in STARTS_WITH_BOM:
        source = os.path.join(dump_folder, name)
        with open(os.path.join(folder, name), "rb") as f, open(source, "wb") as copy:
            copy.write(f.read()[3:])
    network = skrf.Network(source)
    if name in Z0_FROM_FILE:
        network.z0 = numpy.broadcast_to(numpy.array(Z0_FROM_FILE[name], complex), network.z0.shape)
    if (network.nports, len(network.f)) != (ports, len(rows)):
        return f"FAIL  {name}: ports/points {network.nports}/{len(network.f)} != {ports}/{len(rows)}"
    values = (rows[:, 1::2] + 1j * rows[:, 2::2]).reshape(-1, ports, ports)
    error = max(relative_error(rows[:, 0], network.f), relative_error(values, network.s),
                relative_error(numpy.broadcast_to(z0, network.z0.shape), network.z0))
    return f"{'FAIL' if error > 1e-12 else 'ok  '}  {name}: {ports} ports, {len(rows)} points, " \
        f"largest relative error {error:.3g}"


def main(program, folder):
    with tempfile.TemporaryDirectory() as dump_folder:
        if not run_dump_case(program, "TouchstoneRealFiles.EachFileReadsOrFailsAsExpected",
                             "CFIT_SKRF_DUMP", folder, dump_folder):
            return 1
        lines = [compare(d, folder, dump_folder)
                 for d in sorted(glob.glob(os.path.join(dump_folder, "*.dump")))
                 if os.path.basename(d)[:-len(".dump")] not in SKRF_CANNOT_READ]
        print("\n".join(lines) + f"\n{len(lines)} files compared")
        return 1 if len(lines) < MINIMUM_COMPARED or any(x.startswith("FAIL") for x in lines) else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
