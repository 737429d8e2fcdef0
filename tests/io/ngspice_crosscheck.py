#!/usr/bin/python3
"""Cross-check of the subcircuit netlist writer against ngspice.

Runs the netlist test of the io test program with CFIT_NGSPICE_DUMP set, so
that it writes, for every case (models fitted to real files, with and without
delays, individual and common poles, equal and unequal reference
impedances), the netlist <case>.sp and the model's own evaluation
<case>.eval on a linear frequency grid. Then, per case:

1. rewrites the two source forms ngspice does not read, and only those:
   - "G.. n+ n- LAPLACE c+ c- num... / den..." (coefficients in ascending
     powers of s) becomes an XSPICE s_xfer block from V(c+, c-) to a node of
     its own, driving the unchanged G source with gain 1;
   - "E.. n+ n- DELAY c+ c- TD=t" becomes a buffer into a lossless line of
     1 ohm with delay t, terminated by 1 ohm, whose far end drives the E
     source with gain 1;
2. wraps the subcircuit in a test bench with one copy of it per driven port
   k: port k is fed by a 1 V AC source through its reference impedance Z0_k,
   every other port m is terminated by Z0_m;
3. runs an AC analysis on the evaluation grid in ngspice (batch mode) and
   forms S(m, k) = (2 V(m) - [m = k]) * sqrt(Z0_k / Z0_m) (power waves with
   the port reference impedances);
4. compares it with the model's evaluation: every element at every
   frequency must agree to 1e-4.

Usage: ngspice_crosscheck.py <cfit_io_tests program> <folder of the real files>
Exit status 0 when every case agrees.
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from gtest_dump import run_dump_case  # noqa: E402

TOLERANCE = 1e-4
# A broken dump must not pass by comparing nothing.
MINIMUM_CASES = 8
# Cases whose netlist must hold delay lines.
MINIMUM_DELAYED = 3


def read_evaluation(path):
    with open(path) as f:
        ports = int(f.readline().split()[1])
        z0 = [float(x) for x in f.readline().split()[1:]]
        count = int(f.readline().split()[1])
        rows = [[float(x) for x in line.split()] for line in f if line.strip()]
    if len(rows) != count or len(z0) != ports:
        raise ValueError(f"{path}: malformed evaluation dump")
    freq = [r[0] for r in rows]
    values = [[[complex(r[1 + 2 * (i * ports + j)], r[2 + 2 * (i * ports + j)])
                for j in range(ports)] for i in range(ports)] for r in rows]
    return ports, z0, freq, values


def ascending_to_descending(coefficients):
    return " ".join(reversed(coefficients))


def rewrite_for_ngspice(netlist):
    """Rewrites the LAPLACE and DELAY lines; every other line stays."""
    out = []
    laplace = delays = 0
    for line in netlist.splitlines():
        words = line.split()
        if len(words) > 3 and words[3].upper() == "LAPLACE":
            name, plus, minus, _, cplus, cminus = words[:6]
            rest = words[6:]
            slash = rest.index("/")
            numerator, denominator = rest[:slash], rest[slash + 1:]
            node = f"ls_{name}"
            states = " ".join(["0"] * (len(denominator) - 1))
            out.append(f"A{name} %vd({cplus} {cminus}) %vd({node} {cminus}) m_{name}")
            out.append(f".model m_{name} s_xfer(num_coeff=[{ascending_to_descending(numerator)}]"
                       f" den_coeff=[{ascending_to_descending(denominator)}] int_ic=[{states}])")
            out.append(f"{name} {plus} {minus} {node} {cminus} 1")
            laplace += 1
        elif len(words) > 3 and words[3].upper() == "DELAY":
            name, plus, minus, _, cplus, cminus, td = words[:7]
            match = re.fullmatch(r"TD=(\S+)", td, re.IGNORECASE)
            if match is None:
                raise ValueError(f"unexpected delay line: {line}")
            near, far = f"tdi_{name}", f"tdo_{name}"
            out.append(f"EB{name} {near} {minus} {cplus} {cminus} 1")
            out.append(f"T{name} {near} {minus} {far} {minus} Z0=1 TD={match.group(1)}")
            out.append(f"RT{name} {far} {minus} 1")
            out.append(f"{name} {plus} {minus} {far} {minus} 1")
            delays += 1
        else:
            out.append(line)
    return "\n".join(out) + "\n", laplace, delays


def subcircuit_name(netlist):
    for line in netlist.splitlines():
        if line.lower().startswith(".subckt "):
            return line.split()[1]
    raise ValueError("no .subckt line")


def test_bench(subcircuit, name, z0, freq, output):
    ports = len(z0)
    lines = ["* S-parameter test bench", subcircuit]
    probes = []
    for k in range(ports):
        nodes = [f"p{k + 1}_{m + 1}" for m in range(ports)]
        lines.append(f"X{k + 1} {' '.join(nodes)} 0 {name}")
        for m in range(ports):
            drive = 1 if m == k else 0
            lines.append(f"RS{k + 1}_{m + 1} {nodes[m]} s{k + 1}_{m + 1} {z0[m]!r}")
            lines.append(f"VS{k + 1}_{m + 1} s{k + 1}_{m + 1} 0 DC 0 AC {drive}")
        probes += [f"v({node})" for node in nodes]
    lines += [
        ".control",
        "set filetype=ascii",
        "set wr_singlescale",
        "set wr_vecnames",
        "set numdgt=15",
        f"ac lin {len(freq)} {freq[0]!r} {freq[-1]!r}",
        f"wrdata {output} {' '.join(probes)}",
        "quit",
        ".endc",
        ".end",
    ]
    return "\n".join(lines) + "\n"


def simulate(bench_path, output, ports, count):
    run = subprocess.run(["ngspice", "-b", bench_path], stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, timeout=600)
    if not os.path.exists(output):
        raise RuntimeError("ngspice wrote no results:\n" + run.stdout[-3000:])
    with open(output) as f:
        f.readline()  # vector names
        rows = [[float(x) for x in line.split()] for line in f if line.strip()]
    if len(rows) != count or any(len(r) != 1 + 2 * ports * ports for r in rows):
        raise RuntimeError(f"ngspice results have an unexpected shape:\n{run.stdout[-3000:]}")
    # v[k][m]: voltage at port m of the copy driven at port k.
    freq = [r[0] for r in rows]
    volts = [[[complex(r[1 + 2 * (k * ports + m)], r[2 + 2 * (k * ports + m)])
               for m in range(ports)] for k in range(ports)] for r in rows]
    return freq, volts


def check_case(folder, stem):
    ports, z0, freq, model = read_evaluation(os.path.join(folder, stem + ".eval"))
    with open(os.path.join(folder, stem + ".sp")) as f:
        netlist = f.read()
    rewritten, laplace, delays = rewrite_for_ngspice(netlist)
    bench = os.path.join(folder, stem + "_bench.cir")
    output = os.path.join(folder, stem + "_ac.txt")
    with open(bench, "w") as f:
        f.write(test_bench(rewritten, subcircuit_name(netlist), z0, freq, output))
    sim_freq, volts = simulate(bench, output, ports, len(freq))
    worst = 0.0
    where = None
    for p, f in enumerate(freq):
        if abs(sim_freq[p] - f) > 1e-9 * f:
            raise RuntimeError(f"ngspice frequency {sim_freq[p]} differs from {f}")
        for m in range(ports):
            for k in range(ports):
                s = (2 * volts[p][k][m] - (1 if m == k else 0)) * (z0[k] / z0[m]) ** 0.5
                error = abs(s - model[p][m][k])
                if error > worst:
                    worst, where = error, (m + 1, k + 1, f)
    return ports, laplace, delays, worst, where


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    if shutil.which("ngspice") is None:
        print("ngspice is not installed (Debian package ngspice)")
        return 1
    program, data = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        if not run_dump_case(program, "SimulatorNetlists.FittedRealFilesGiveCompleteNetlists",
                             "CFIT_NGSPICE_DUMP", data, folder):
            return 1
        stems = sorted(os.path.basename(p)[:-len(".eval")]
                       for p in glob.glob(os.path.join(folder, "*.eval")))
        failures = delayed = 0
        for stem in stems:
            try:
                ports, laplace, delays, worst, where = check_case(folder, stem)
            except (OSError, ValueError, RuntimeError, subprocess.TimeoutExpired) as error:
                print(f"FAIL  {stem}: {error}")
                failures += 1
                continue
            delayed += delays > 0
            verdict = "ok  " if worst <= TOLERANCE else "FAIL"
            failures += worst > TOLERANCE
            print(f"{verdict}  {stem}: {ports} ports, {laplace} Laplace and {delays} delay "
                  f"sources, largest |S_ngspice - S_model| = {worst:.3g} at S{where[0]}{where[1]}, "
                  f"{where[2]:.6g} Hz")
        if len(stems) < MINIMUM_CASES or delayed < MINIMUM_DELAYED:
            print(f"only {len(stems)} cases ({delayed} with delays) were compared")
            return 1
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
