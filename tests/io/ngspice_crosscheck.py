#!/usr/bin/python3
# Cross-check of the subcircuit netlist writer against ngspice.
#
# Runs the netlist test of the io test program with CFIT_NGSPICE_DUMP set, so
# that it writes, for every case (models fitted to real files, with and
# without delays, individual and common poles, equal and unequal reference
# impedances), the netlist <case>.sp and the model's own evaluation
# <case>.eval on a linear frequency grid. Then, per case:
# 1. rewrites the two source forms ngspice does not read, and only those:
#    "G.. n+ n- LAPLACE c+ c- num... / den..." (ascending powers of s) becomes
#    an XSPICE s_xfer block from V(c+, c-) to a node of its own, driving the
#    unchanged G source with gain 1; "E.. n+ n- DELAY c+ c- TD=t" becomes a
#    buffer into a lossless 1 ohm line of delay t, terminated by 1 ohm, whose
#    far end drives the E source with gain 1;
# 2. wraps the subcircuit in a test bench with one copy per driven port k:
#    port k is fed by a 1 V AC source through Z0_k, every other port m is
#    terminated by Z0_m;
# 3. runs an AC analysis on the evaluation grid in ngspice (batch mode) and
#    forms S(m, k) = (2 V(m) - [m = k]) sqrt(Z0_k / Z0_m) (power waves);
# 4. compares with the model's evaluation: every element at every frequency
#    agrees to 1e-4.
#
# Usage: ngspice_crosscheck.py <cfit_io_tests program> <folder of the real files>
# Exit status 0 when every case agrees.
import glob
import os
import re
import subprocess
import sys
import tempfile

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

TOLERANCE = 1e-4
# A broken dump must not pass by comparing nothing; this many cases must
# hold delay lines.
MINIMUM_CASES, MINIMUM_DELAYED = 8, 3


def rewrite_for_ngspice(netlist):
    out, laplace, delays = [], 0, 0
    for line in netlist.splitlines():
        words = line.split()
        kind = words[3].upper() if len(words) > 3 else ""
        if kind == "LAPLACE":
            name, plus, minus, _, cplus, cminus = words[:6]
            slash = words.index("/")
            num, den = " ".join(reversed(words[6:slash])), " ".join(reversed(words[slash + 1:]))
            states = " ".join(["0"] * (len(words) - slash - 2))
            out += [f"A{name} %vd({cplus} {cminus}) %vd(ls_{name} {cminus}) m_{name}",
                    f".model m_{name} s_xfer(num_coeff=[{num}] den_coeff=[{den}] int_ic=[{states}])",
                    f"{name} {plus} {minus} ls_{name} {cminus} 1"]
            laplace += 1
        elif kind == "DELAY":
            name, plus, minus, _, cplus, cminus, td = words[:7]
            delay = re.fullmatch(r"TD=(\S+)", td, re.IGNORECASE).group(1)
            out += [f"EB{name} tdi_{name} {minus} {cplus} {cminus} 1",
                    f"T{name} tdi_{name} {minus} tdo_{name} {minus} Z0=1 TD={delay}",
                    f"RT{name} tdo_{name} {minus} 1", f"{name} {plus} {minus} tdo_{name} {minus} 1"]
            delays += 1
        else:
            out.append(line)
    return "\n".join(out) + "\n", laplace, delays


def check_case(folder, stem):
    # Returns the Laplace and delay source counts and the largest |S_ngspice - S_model|.
    with open(os.path.join(folder, stem + ".eval")) as f:
        ports = int(f.readline().split()[1])
        z0 = numpy.array([float(x) for x in f.readline().split()[1:]])
        count = int(f.readline().split()[1])
        rows = numpy.loadtxt(f, ndmin=2)
    with open(os.path.join(folder, stem + ".sp")) as f:
        netlist = f.read()
    subcircuit, laplace, delays = rewrite_for_ngspice(netlist)
    name = re.search(r"^\.subckt (\S+)", netlist, re.MULTILINE | re.IGNORECASE).group(1)
    output, bench = os.path.join(folder, stem + "_ac.txt"), ["* S-parameter test bench", subcircuit]
    for k in range(ports):
        bench.append(f"X{k + 1} {' '.join(f'p{k + 1}_{m + 1}' for m in range(ports))} 0 {name}")
        for m in range(ports):
            bench += [f"RS{k + 1}_{m + 1} p{k + 1}_{m + 1} s{k + 1}_{m + 1} {z0[m]!r}",
                      f"VS{k + 1}_{m + 1} s{k + 1}_{m + 1} 0 DC 0 AC {int(m == k)}"]
    probes = " ".join(f"v(p{k + 1}_{m + 1})" for k in range(ports) for m in range(ports))
    bench += [".control", "set filetype=ascii", "set wr_singlescale", "set wr_vecnames",
              "set numdgt=15", f"ac lin {count} {rows[0, 0]!r} {rows[-1, 0]!r}",
              f"wrdata {output} {probes}", "quit", ".endc", ".end"]
    with open(os.path.join(folder, stem + "_bench.cir"), "w") as f:
        f.write("\n".join(bench) + "\n")
    subprocess.run(["ngspice", "-b", f.name], capture_output=True, timeout=600)
    sim = numpy.loadtxt(output, skiprows=1, ndmin=2)
    if sim.shape != (count, 1 + 2 * ports * ports) or not numpy.allclose(sim[:, 0], rows[:, 0]):
        raise RuntimeError("ngspice results are not on the evaluation grid")
    # volts[p, k, m]: voltage at port m of the copy driven at port k.
    volts = (sim[:, 1::2] + 1j * sim[:, 2::2]).reshape(-1, ports, ports)
    s = (2 * volts.transpose(0, 2, 1) - numpy.eye(ports)) * numpy.sqrt(numpy.outer(1 / z0, z0))
    model = (rows[:, 1::2] + 1j * rows[:, 2::2]).reshape(-1, ports, ports)
    return laplace, delays, numpy.abs(s - model).max()


def main(program, data):
    with tempfile.TemporaryDirectory() as folder:
        if not run_dump_case(program, "SimulatorNetlists.FittedRealFilesGiveCompleteNetlists",
                             "CFIT_NGSPICE_DUMP", data, folder):
            return 1
        stems = sorted(os.path.basename(p)[:-len(".eval")]
                       for p in glob.glob(os.path.join(folder, "*.eval")))
        failures = delayed = 0
        for stem in stems:
            try:
                laplace, delays, worst = check_case(folder, stem)
            except (OSError, ValueError, RuntimeError, subprocess.TimeoutExpired) as error:
                laplace, delays, worst = 0, 0, error
            ok = not isinstance(worst, Exception) and worst <= TOLERANCE
            failures, delayed = failures + (not ok), delayed + (delays > 0)
            print(f"{'ok  ' if ok else 'FAIL'}  {stem}: {laplace} Laplace and {delays} delay "
                  f"sources, largest |S_ngspice - S_model| = {worst}")
        if len(stems) < MINIMUM_CASES or delayed < MINIMUM_DELAYED:
            print(f"only {len(stems)} cases ({delayed} with delays) were compared")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
