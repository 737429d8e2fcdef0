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
#   port k and the others open, Z(m, k) = V(m)), AC analyses on the
#   evaluation's sweeps; every element agrees with the model to
#   1e-6 of the largest |S| of the case (of the element's largest value for
#   Y and Z, whose elements differ by orders of magnitude).
# - Transient (the S cases in TRANSIENT: a 1-port, a 2-port with delays and
#   unequal impedances, a 4-port with common poles): port 1 driven through
#   Z0_1 by a step of 20 ps rise and by a trapezoid, every other port
#   terminated by its Z0; ngspice's own time points go back to the test
#   program as <case>.times, which writes the closed-form responses of the
#   model (timedomain) at those times; the port voltages agree to 1e-4 of
#   their peak.
# - Stability: a passive model (enforced after the fit), driven by a step for
#   1000 times its slowest time constant, shows no value in the last half
#   beyond the peak of the first half and ends settled (its last tenth
#   changes by at most 1e-3 of that peak).
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
MINIMUM_CASES = 11


def read_eval(path):
    with open(path) as f:
        kind = f.readline().split()[1]
        ports = int(f.readline().split()[1])
        z0 = numpy.array([float(x) for x in f.readline().split()[1:]])
        words = f.readline().split()[1:]
        sweeps = [(int(words[k]), words[k + 1], words[k + 2]) for k in range(0, len(words), 3)]
        slowest = float(f.readline().split()[1])
        count = int(f.readline().split()[1])
        rows = numpy.loadtxt(f, ndmin=2)
    assert rows.shape == (count, 1 + 2 * ports * ports)
    return kind, ports, z0, sweeps, slowest, rows


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
    kind, ports, z0, sweeps, _, rows = read_eval(os.path.join(folder, stem + ".eval"))
    output = os.path.join(folder, stem + "_ac.txt")
    bench, probes = ac_bench(kind, ports, z0, stem, os.path.join(folder, stem + ".cir"))
    bench += [".control", "set filetype=ascii", "set wr_singlescale", "set appendwrite",
              "set numdgt=15"]
    for count, start, stop in sweeps:
        # ngspice gives one point fewer for a two-point linear sweep: ask for
        # its ends one at a time.
        runs = [(1, start, start), (1, stop, stop)] if count == 2 else [(count, start, stop)]
        for n, a, b in runs:
            bench += [f"ac lin {n} {a} {b}", f"wrdata {output} {' '.join(probes)}"]
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


# The transient cases and their end times: a 1-port, a 2-port with delays and
# a 4-port with common poles.
TRANSIENT = {"ring1": 2e-9, "microstrip2_delay_z": 4e-9, "measured4_common": 4e-9}
RISE, WIDTH, FALL = 20e-12, 100e-12, 30e-12
# Tight tolerances for ngspice's time-step control, the trapezoidal rule
# (gear damps the resonances) and a step of at most 0.2 ps, so that the
# integration error stays well below the comparison's.
TRANSIENT_OPTIONS = ".options reltol=1e-7 abstol=1e-15 vntol=1e-12 chgtol=1e-22 trtol=1 method=trap"


def source(t, trapezoid):
    # The source waveforms: a 1 V step of RISE rise; a trapezoid of RISE rise
    # whose fall of FALL begins at WIDTH.
    up = numpy.clip(t / RISE, 0.0, 1.0)
    return up - numpy.clip((t - WIDTH) / FALL, 0.0, 1.0) if trapezoid else up


def transient_bench(ports, z0, name, include, copies):
    # One copy per waveform in `copies`, port 1 driven through Z0_1 and every
    # other port terminated by its Z0; returns the lines and the probes.
    bench, probes = ["* transient test bench", f".include {include}", TRANSIENT_OPTIONS], []
    for c, wave in enumerate(copies):
        bench.append(f"X{c} {' '.join(f'q{c}_{m + 1}' for m in range(ports))} 0 {name}")
        bench += [f"RS{c}_1 q{c}_1 s{c} {z0[0]!r}", f"VS{c} s{c} 0 {wave}"]
        bench += [f"RS{c}_{m + 1} q{c}_{m + 1} 0 {z0[m]!r}" for m in range(1, ports)]
        probes += [f"v(q{c}_{m + 1})" for m in range(ports)]
    return bench, probes


def simulate_transient(folder, stem, end):
    # Runs the step and trapezoid copies and leaves ngspice's time points in
    # <stem>.times for the closed forms; returns the port voltages.
    _, ports, z0, _, _, _ = read_eval(os.path.join(folder, stem + ".eval"))
    output = os.path.join(folder, stem + "_tran.txt")
    waves = [f"PWL(0 0 {RISE!r} 1)",
             f"PWL(0 0 {RISE!r} 1 {WIDTH!r} 1 {WIDTH + FALL!r} 0)"]
    bench, probes = transient_bench(ports, z0, stem, os.path.join(folder, stem + ".cir"), waves)
    bench += [".control", "set filetype=ascii", "set wr_singlescale", "set numdgt=15",
              f"tran 0.1p {end!r} 0 0.2p", f"wrdata {output} {' '.join(probes)}", "quit", ".endc",
              ".end"]
    run_ngspice(folder, stem + "_tran.cir", bench)
    sim = numpy.loadtxt(output, ndmin=2)
    numpy.savetxt(os.path.join(folder, stem + ".times"), sim[:, 0], fmt="%.17g")
    return sim


def compare_transient(folder, stem, sim):
    # The port voltages of the step and trapezoid copies against the closed
    # forms, relative to each waveform's peak.
    _, ports, z0, _, _, _ = read_eval(os.path.join(folder, stem + ".eval"))
    closed = numpy.loadtxt(os.path.join(folder, stem + ".resp"), ndmin=2)
    t, worst = sim[:, 0], 0.0
    for c, trapezoid in enumerate([False, True]):
        # V_m = sqrt(Z0_m / Z0_1) / 2 response_m1 + [m = 1] source / 2.
        want = closed[:, c * ports:(c + 1) * ports] * numpy.sqrt(z0 / z0[0]) / 2
        want[:, 0] += source(t, trapezoid) / 2
        got = sim[:, 1 + c * ports:1 + (c + 1) * ports]
        worst = max(worst, numpy.abs(got - want).max() / numpy.abs(want).max())
    return len(t), worst


def check_stability(folder, stem):
    # A step at port 1 of the passive model for 1000 slowest time constants:
    # no value in the last half beyond the peak of the first half, and the end
    # settled within 1e-3 of that peak.
    _, ports, z0, _, slowest, _ = read_eval(os.path.join(folder, stem + ".eval"))
    output = os.path.join(folder, stem + "_long.txt")
    bench, probes = transient_bench(ports, z0, stem, os.path.join(folder, stem + ".cir"),
                                    [f"PWL(0 0 {RISE!r} 1)"])
    end = 1000 * slowest
    bench += [".control", "set filetype=ascii", "set wr_singlescale", "set numdgt=15",
              f"tran {end / 1e5!r} {end!r}", f"wrdata {output} {' '.join(probes)}", "quit",
              ".endc", ".end"]
    run_ngspice(folder, stem + "_long.cir", bench)
    sim = numpy.loadtxt(output, ndmin=2)
    t, v = sim[:, 0], sim[:, 1:]
    first, last = numpy.abs(v[t <= end / 2]).max(), numpy.abs(v[t > end / 2]).max()
    settled = numpy.abs(v[-1] - v[-len(v) // 10]).max()
    return end, last <= first and settled <= 1e-3 * first, first, last, settled


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
        # The transients: ngspice first, then the closed forms at its times.
        sims, results = {}, {}
        for stem, end in TRANSIENT.items():
            try:
                sims[stem] = simulate_transient(folder, stem, end)
            except (OSError, ValueError, RuntimeError, subprocess.TimeoutExpired) as error:
                results[stem] = (0, error)
        if not run_dump_case(program, CASE, "CFIT_EQC_DUMP", data, folder):
            return 1
        for stem in TRANSIENT:
            try:
                points, worst = results.get(stem) or compare_transient(folder, stem, sims[stem])
            except (OSError, ValueError) as error:
                points, worst = 0, error
            ok = not isinstance(worst, Exception) and worst <= TRANSIENT_TOLERANCE
            failures += not ok
            print(f"{'ok  ' if ok else 'FAIL'}  transient {stem}: {points} time points, largest "
                  f"|v_ngspice - v_closed form| / peak = {worst}", flush=True)
        try:
            end, ok, first, last, settled = check_stability(folder, "ring1_passive")
            text = (f"{end:.3g} s: peak {first:.6g} in the first half, {last:.6g} in the last, "
                    f"change over the last tenth {settled:.3g}")
        except (OSError, ValueError, RuntimeError, subprocess.TimeoutExpired) as error:
            ok, text = False, str(error)
        failures += not ok
        print(f"{'ok  ' if ok else 'FAIL'}  stability ring1_passive over {text}", flush=True)
        if len(stems) < MINIMUM_CASES:
            print(f"only {len(stems)} cases were compared")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
