#!/usr/bin/python3
# The port solver against an ngspice transient of the same circuit.
#
# For models fitted to real files (a 1-port whose data are first delayed by
# 0.5 ns, so that the fit carries a delay, and a 2-port), runs the example
# host (examples/port_solver_host.cpp) with fixed and with variable steps:
# every port terminated by its reference impedance, port 1 driven through it
# by a trapezoidal source. The same circuit is simulated by ngspice around
# the subcircuit netlist cfit writes for the model (its Laplace and delay
# sources rewritten for ngspice as tests/io/ngspice_crosscheck.py does).
# ngspice integrates its Laplace blocks to first order only: at the host's
# step of 0.5 ps its voltages are off by several % of the peak, and they
# approach the host's as its step shrinks, halving with it. So ngspice runs
# at a tenth and a twentieth of the host's step and its two results are
# extrapolated (2 v(h/2) - v(h)). Every port voltage agrees to 1e-3 of the
# largest one, at every time the host writes. The step
# response of the 1-port's S11 follows too: a unit step behind Z0 into the
# port gives V = (1 + S) / 2 in the time domain, so
# V(t) = (1 + step response of S11 at t) / 2 for t > 0, which the file of
# `cfit response` must match.
#
# Usage: ngspice_transient.py <cfit program> <example host> <folder of the real files>
import os
import re
import subprocess
import sys
import tempfile

import numpy
import skrf

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "io"))
from ngspice_crosscheck import rewrite_for_ngspice  # noqa: E402

TOLERANCE = 1e-3
STEP, END = 5e-13, 1e-9
RISE, WIDTH, FALL = 20e-12, 200e-12, 30e-12


def run(words):
    done = subprocess.run(words, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(words)} failed:\n{done.stderr}")
    return done.stdout


def ngspice(folder, stem, netlist, z0, source, step):
    subcircuit, _, _ = rewrite_for_ngspice(netlist)
    name = re.search(r"^\.subckt (\S+)", netlist, re.MULTILINE | re.IGNORECASE).group(1)
    ports = len(z0)
    bench = ["* transient test bench", subcircuit,
             f"X1 {' '.join(f'p{k + 1}' for k in range(ports))} 0 {name}"]
    for k in range(ports):
        bench.append(f"R{k + 1} p{k + 1} s{k + 1} {z0[k]!r}")
        bench.append(f"V{k + 1} s{k + 1} 0 " + (source if k == 0 else "DC 0"))
    output = os.path.join(folder, stem + "_tran.txt")
    bench += [".control", "set filetype=ascii", "set wr_singlescale", "set wr_vecnames",
              "set numdgt=15", f"tran {step!r} {END!r} 0 {step!r}",
              f"wrdata {output} {' '.join(f'v(p{k + 1})' for k in range(ports))}", "quit",
              ".endc", ".end"]
    path = os.path.join(folder, stem + "_tran.cir")
    with open(path, "w") as f:
        f.write("\n".join(bench) + "\n")
    subprocess.run(["ngspice", "-b", path], capture_output=True, timeout=600)
    return numpy.loadtxt(output, skiprows=1, ndmin=2)


def extrapolated(folder, stem, netlist, z0, source, times):
    # ngspice's port voltages at `times`, from steps of STEP / 10 and / 20.
    coarse, fine = (ngspice(folder, stem, netlist, z0, source, STEP / n) for n in (10, 20))
    return [2 * numpy.interp(times, fine[:, 0], fine[:, 1 + k]) -
            numpy.interp(times, coarse[:, 0], coarse[:, 1 + k]) for k in range(len(z0))]


def check(cfit, host, folder, stem, source_file, delay):
    touchstone = os.path.join(folder, stem + os.path.splitext(source_file)[1])
    network = skrf.Network(source_file)
    if delay:
        network.s = network.s * numpy.exp(-2j * numpy.pi * network.f * delay)[:, None, None]
    network.write_touchstone(touchstone[:-len(os.path.splitext(touchstone)[1])], form="ri")
    run([cfit, "fit", "-o", folder, "--outputs", "pls,cir", touchstone])
    with open(os.path.join(folder, stem + ".pls")) as f:
        text = f.read()
    z0 = [float(x) for x in re.search(r"^R0:(.*)$", text, re.MULTILINE).group(1).split()]
    fitted_delay = max([float(x) for x in re.findall(r"delay:\s*(\S+)", text)] or [0.0])
    with open(os.path.join(folder, stem + ".cir")) as f:
        netlist = f.read()
    source = f"PWL(0 0 {RISE!r} 1 {WIDTH!r} 1 {WIDTH + FALL!r} 0)"
    worst, sim = 0.0, None
    for mode in ("fixed", "variable"):
        out = os.path.join(folder, f"{stem}_{mode}.txt")
        run([host, os.path.join(folder, stem + ".pls"), out, mode, repr(STEP), repr(END),
             repr(RISE), repr(WIDTH), repr(FALL), "1"])
        rows = numpy.loadtxt(out, ndmin=2)
        rows = rows[rows[:, 0] <= END]
        sim = sim or extrapolated(folder, stem, netlist, z0, source, rows[:, 0])
        peak = numpy.abs(rows[:, 1:]).max()
        for k in range(len(z0)):
            spice = sim[k]
            error = numpy.abs(rows[:, 1 + k] - spice).max() / peak
            worst = max(worst, error)
            print(f"  {mode:8s} V({k + 1}): largest difference {error:.2e} of the peak {peak:.3f}")
    return worst, fitted_delay


def check_step_response(cfit, folder, stem, z0):
    # A unit step behind Z0 into S11: V = (1 + S) / 2, sampled by ngspice.
    with open(os.path.join(folder, stem + ".cir")) as f:
        netlist = f.read()
    out = os.path.join(folder, stem + "_step.txt")
    run([cfit, "response", "--element", "1,1", "--kind", "trapezoid", "--rise", repr(STEP),
         "--width", "1", "--fall", "1", "--end", repr(END), "--step", repr(STEP), "-o", out,
         os.path.join(folder, stem + ".pls")])
    rows = numpy.loadtxt(out, ndmin=2)
    expected = 0.5 * (numpy.minimum(rows[:, 0] / STEP, 1.0) + rows[:, 1])
    spice = extrapolated(folder, stem + "_step", netlist, z0, f"PWL(0 0 {STEP!r} 1)", rows[:, 0])[0]
    error = numpy.abs(expected - spice).max()
    print(f"  step response of S11 against ngspice: largest difference {error:.2e}")
    return error


def main(cfit, host, data):
    cases = [("ring1_delayed", "ring_slot_measured.s1p", 5e-10),
             ("microstrip2", "microstrip_line_sim_lowercase_option.s2p", 0.0)]
    failures, delayed = 0, 0
    with tempfile.TemporaryDirectory() as folder:
        for stem, name, delay in cases:
            print(f"{stem}:")
            try:
                worst, fitted_delay = check(cfit, host, folder, stem, os.path.join(data, name), delay)
                if stem == "ring1_delayed":
                    worst = max(worst, check_step_response(cfit, folder, stem, [50.0]))
            except (OSError, ValueError, RuntimeError, subprocess.TimeoutExpired) as error:
                worst, fitted_delay = error, 0.0
            ok = not isinstance(worst, Exception) and worst <= TOLERANCE
            failures += not ok
            delayed += fitted_delay > 0
            print(f"{'ok  ' if ok else 'FAIL'}  {stem}: delay {fitted_delay}, worst {worst}")
    if delayed == 0:
        print("no case carried a delay")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
