#!/usr/bin/python3
"""Cross-check of the Touchstone reader against scikit-rf.

Runs the real-file test of the io test program with CFIT_SKRF_DUMP set, so
that it writes the frequencies, values and reference impedances of every file
it reads, then reads the same files with scikit-rf (Debian's
python3-scikit-rf) and compares: frequencies, every complex value and the
reference impedances must agree to 1e-12 relative.

Usage: skrf_crosscheck.py <cfit_io_tests program> <folder of the real files>
Exit status 0 when every file agrees.
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

try:
    import skrf  # noqa: E402
except ImportError:
    print("scikit-rf is not installed (Debian package python3-scikit-rf)")
    sys.exit(1)

TOLERANCE = 1e-12

# Files the fitter reads but scikit-rf 0.15 cannot: it reads S parameters
# only.
SKRF_CANNOT_READ = {"zparam_spec_example.s1p"}

# Files scikit-rf 0.15 misreads, with what the file itself says instead:
# the reference impedances of the [Reference] keyword are on the line after
# it, which scikit-rf does not look at.
Z0_FROM_FILE = {"v2_sixport_per_port_reference.ts": [50, 75, 0.01, 1, 2, 3]}

# Files scikit-rf 0.15 cannot open because they start with a byte-order mark;
# it reads a copy without the mark.
STARTS_WITH_BOM = {"edge_utf8_bom.s2p"}

# At least this many files must be compared, so that a broken dump cannot
# pass by comparing nothing.
MINIMUM_COMPARED = 25


def read_dump(path):
    with open(path) as f:
        ports = int(f.readline().split()[1])
        data_type = int(f.readline().split()[1])
        z0 = numpy.array([float(x) for x in f.readline().split()[1:]])
        rows = [numpy.array([float(x) for x in line.split()]) for line in f if line.strip()]
    freq = numpy.array([r[0] for r in rows])
    values = numpy.array([(r[1::2] + 1j * r[2::2]).reshape(ports, ports) for r in rows])
    return ports, data_type, z0, freq, values


def relative_error(a, b):
    scale = numpy.maximum(numpy.abs(a), numpy.abs(b))
    diff = numpy.abs(a - b)
    with numpy.errstate(invalid="ignore", divide="ignore"):
        rel = numpy.where(scale > 0, diff / scale, 0.0)
    return float(numpy.max(rel)) if rel.size else 0.0


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as dump_folder:
        if not run_dump_case(program, "TouchstoneRealFiles.EachFileReadsOrFailsAsExpected",
                             "CFIT_SKRF_DUMP", folder, dump_folder):
            return 1
        failures = 0
        compared = 0
        dumps = sorted(glob.glob(os.path.join(dump_folder, "*.dump")))
        for dump in dumps:
            name = os.path.basename(dump)[:-len(".dump")]
            if name in SKRF_CANNOT_READ:
                print(f"skip  {name}: scikit-rf 0.15 cannot read it")
                continue
            ports, data_type, z0, freq, values = read_dump(dump)
            source = os.path.join(folder, name)
            if name in STARTS_WITH_BOM:
                source = os.path.join(dump_folder, name)
                with open(os.path.join(folder, name), "rb") as f:
                    text = f.read()
                with open(source, "wb") as f:
                    f.write(text[3:])
            network = skrf.Network(source)
            if name in Z0_FROM_FILE:
                network.z0 = numpy.broadcast_to(numpy.array(Z0_FROM_FILE[name], dtype=complex),
                                                network.z0.shape).copy()
            problems = []
            if network.nports != ports:
                problems.append(f"ports {network.nports} != {ports}")
            elif len(network.f) != len(freq):
                problems.append(f"points {len(network.f)} != {len(freq)}")
            else:
                f_err = relative_error(freq, network.f)
                v_err = relative_error(values, network.s)
                z_err = relative_error(numpy.broadcast_to(z0, network.z0.shape), network.z0)
                if max(f_err, v_err, z_err) > TOLERANCE:
                    problems.append(f"relative errors f {f_err:.3g} values {v_err:.3g} z0 {z_err:.3g}")
            compared += 1
            if problems:
                failures += 1
                print(f"FAIL  {name}: " + "; ".join(problems))
            else:
                print(f"ok    {name}: {ports} ports, {len(freq)} points")
        print(f"{compared} files compared, {failures} disagree")
        if compared < MINIMUM_COMPARED:
            print(f"expected at least {MINIMUM_COMPARED} files")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
