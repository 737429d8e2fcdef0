#!/usr/bin/python3
# The equivalent-circuit netlists in ngspice, read exactly as written.
#
# Runs the netlist case of the io test program with CFIT_EQC_DUMP set, so that
# it writes, for models fitted to real files (individual and common poles,
# with and without delays, equal and unequal reference impedances, S, Y and
# Z), the equivalent circuit <case>.cir and the model's evaluation
# <case>.eval on linear sweeps: the data frequencies as runs of evenly spaced
# points, and ten points beyond each end of the band. Then, per case:
# - AC: one copy of the subcircuit per driven port k, ports driven and closed
#   as the data type asks (S: 1 V through Z0_k at port k and Z0_m at every
#   other port, S(m, k) = (2 V(m) - [m = k]) sqrt(Z0_k / Z0_m); Y: 1 V at port
#   k and 0 V at the others, Y(m, k) = the current into port m; Z: 1 A into
#   port k and the others open, Z(m, k) = V(m)), an AC analysis at each of
#   the evaluation's sweeps; every element agrees with the model to
#   1e-6 of the largest |S| of the case (of the element's largest value for
#   Y and Z, whose elements differ by orders of magnitude).
# - Transient (S cases listed in TRANSIENT): port 1 driven by a step of 20 ps
#   rise and by a trapezoid through Z0_1, every other port terminated by its
#   Z0; ngspice's own time points are handed back to the test program
#   (CFIT_EQC_TIMES), which writes the closed-form responses of the model
#   at those times; the port voltages agree to 1e-4 of their peak.
# - Stability: a passive model, driven by a step and simulated for 1000
#   times its slowest time constant, ends settled at its DC value, with no
#   value in its last half beyond the peak of its first half.
#
# Usage: equivalent_circuit_ngspice.py <cfit_io_tests program> <folder of the real files>
# Exit status 0 when every case agrees.
import glob
import os
import subprocess
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

AC_TOLERANCE = 1e-6
TRANSIENT_TOLERANCE = 1e-4
CASE = "EquivalentCircuit.FittedRealFilesGiveNetlists"
# A broken dump must not pass by comparing nothing.
MINIMUM_CASES = 9


def read_eval(path):
    with open(path) as f:
        kind = f.readline().split()[1]
        ports = int(f.readline().split()[1])
        z0 = numpy.array([float(x) for x in f.readline().split()[1:]])
        words = f.readline().split()[1:]
        sweeps = [(int(words[k]), words[k + 1], words[k + 2]) for k in range(0, len(words), 3)]
        count = int(f.readline().split()[1])
        rows = numpy.loadtxt(f, ndmin=2)
    assert rows.shape == (count, 1 + 2 * ports * ports)
    return kind, ports, z0, sweeps, rows


def run_ngspice(folder, stem, lines):
    path = os.path.join(folder, stem)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    run = subprocess.run(["ngspice", "-b", path], capture_output=True, text=True, timeout=900)
    if run.returncode != 0:
        raise RuntimeError(f"ngspice failed on {stem}: {run.stdout[-2000:]}{run.stderr[-2000:]}")


def ac_bench(kind, ports, z0, name, include):
    # Copy k drives port k; returns the lines and the probe names.
    bench = ["* AC test bench", f".include {include}"]
    probes = []
    for k in range(ports):
        nodes = [f"p{k + 1}_{m + 1}" for m in range(ports)]
        bench.append(f"X{k + 1} {' '.join(nodes)} 0 {name}")
        for m in range(ports):
            drive = int(m == k)
            tag = f"{k + 1}_{m + 1}"
            if kind == "S":
                bench += [f"RS{tag} p{tag} s{tag} {z0[m]!r}", f"VS{tag} s{tag} 0 DC 0 AC {drive}"]
                probes.append(f"v(p{tag})")
            elif kind == "Y":
                bench.append(f"VS{tag} p{tag} 0 DC 0 AC {drive}")
                probes.append(f"i(vs{tag})")
            else:
                bench.append(f"IS{tag} 0 p{tag} DC 0 AC {drive}")
                probes.append(f"v(p{tag})")
    return bench, probes


def check_ac(folder, stem):
    kind, ports, z0, sweeps, rows = read_eval(os.path.join(folder, stem + ".eval"))
    output = os.path.join(folder, stem + "_ac.txt")
    bench, probes = ac_bench(kind, ports, z0, stem, os.path.join(folder, stem + ".cir"))
    bench += [".control", "set filetype=ascii", "set wr_singlescale", "set appendwrite",
              "set numdgt=15"]
    for count, start, stop in sweeps:
        bench += [f"ac lin {count} {start} {stop}", f"wrdata {output} {' '.join(probes)}"]
    bench += ["quit", ".endc", ".end"]
    run_ngspice(folder, stem + "_ac.cir", bench)
    sim = numpy.loadtxt(output, ndmin=2)
    if sim.shape != (len(rows), 1 + 2 * ports * ports) or not numpy.allclose(sim[:, 0], rows[:, 0]):
        raise RuntimeError("ngspice results are not on the evaluation grid")
    # values[p, k, m]: probe at port m of the copy driven at port k, as [m, k].
    values = (sim[:, 1::2] + 1j * sim[:, 2::2]).reshape(-1, ports, ports).transpose(0, 2, 1)
    if kind == "S":
        h = (2 * values - numpy.eye(ports)) * numpy.sqrt(numpy.outer(1 / z0, z0))
    elif kind == "Y":
        h = -values  # the source's current flows out of the port
    else:
        h = values
    model = (rows[:, 1::2] + 1j * rows[:, 2::2]).reshape(-1, ports, ports)
    error = numpy.abs(h - model)
    scale = numpy.abs(model).max() if kind == "S" else numpy.abs(model).max(axis=0)
    return len(rows), (error / scale).max()


def main(program, data):
    with tempfile.TemporaryDirectory() as folder:
        if not run_dump_case(program, CASE, "CFIT_EQC_DUMP", data, folder):
            return 1
        stems = sorted(os.path.basename(p)[:-len(".eval")]
                       for p in glob.glob(os.path.join(folder, "*.eval")))
        failures = 0
        for stem in stems:
            try:
                points, worst = check_ac(folder, stem)
            except (OSError, ValueError, RuntimeError, subprocess.TimeoutExpired) as error:
                points, worst = 0, error
            ok = not isinstance(worst, Exception) and worst <= AC_TOLERANCE
            failures += not ok
            print(f"{'ok  ' if ok else 'FAIL'}  AC {stem}: {points} frequencies, largest "
                  f"|H_ngspice - H_model| / scale = {worst}", flush=True)
        if len(stems) < MINIMUM_CASES:
            print(f"only {len(stems)} cases were compared")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
