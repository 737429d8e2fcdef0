#!/usr/bin/python3
# ngspice transient time of the 8-port package model: its equivalent circuit,
# read as written, against its LAPLACE form rewritten into XSPICE blocks (as
# tests/io/ngspice_crosscheck.py rewrites it), in the same run. Port 1 takes
# a 1 V step of 20 ps rise through 50 ohms, the other ports are terminated
# by 50 ohms; 5 ns with a step of at most 1 ps, the best of three runs each,
# and the largest difference between the two port-voltage results.
#
# Usage: netlist_transient_bench.py <cfit program> <folder of the real files>
import os
import subprocess
import sys
import tempfile
import time

import numpy
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "io"))
from ngspice_crosscheck import rewrite_for_ngspice  # noqa: E402

PORTS = 8


def bench(folder, name, subcircuit):
    lines = ["* transient bench", subcircuit,
             f"X1 {' '.join(f'q{m + 1}' for m in range(PORTS))} 0 {name}",
             "RS1 q1 s1 50", "VS1 s1 0 PWL(0 0 20p 1)"]
    lines += [f"RS{m + 1} q{m + 1} 0 50" for m in range(1, PORTS)]
    output = os.path.join(folder, name + ".txt")
    lines += [".control", "set filetype=ascii", "set wr_singlescale", "tran 1p 5n 0 1p",
              f"wrdata {output} {' '.join(f'v(q{m + 1})' for m in range(PORTS))}", "quit",
              ".endc", ".end"]
    path = os.path.join(folder, name + "_bench.cir")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    best = 1e300
    for _ in range(3):
        start = time.monotonic()
        subprocess.run(["ngspice", "-b", path], capture_output=True, check=True)
        best = min(best, time.monotonic() - start)
    return best, numpy.loadtxt(output)


def main(program, data):
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([program, "fit", "-o", folder, "--netlist", "both", "--no-progress",
                        os.path.join(data, "package_8port_sim.s8p")], capture_output=True,
                       check=True)
        with open(os.path.join(folder, "package_8port_sim.cir")) as f:
            equivalent = f.read()
        with open(os.path.join(folder, "package_8port_sim_laplace.cir")) as f:
            laplace, _, _ = rewrite_for_ngspice(f.read())
        eq_time, eq = bench(folder, "package_8port_sim", equivalent)
        lp_time, lp = bench(folder, "package_8port_sim_laplace", laplace)
        common = min(len(eq), len(lp))
        grid = eq[:common, 0]
        difference = max(numpy.abs(numpy.interp(grid, lp[:, 0], lp[:, 1 + m]) - eq[:common, 1 + m])
                         .max() for m in range(PORTS))
        print(f"8-port package, 5 ns transient: equivalent circuit {eq_time:.2f} s, XSPICE "
              f"rewrite of the LAPLACE form {lp_time:.2f} s (ratio {lp_time / eq_time:.2f}); "
              f"largest difference of the port voltages {difference:.2e} V")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
