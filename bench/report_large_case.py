#!/usr/bin/env python3
"""The HTML report of a large fit: tiles the 8-port package file four times
(1 % coupling between the copies, as the fit benchmark does) into a 32-port
network, resamples it to 10,000 points, fits it with `cfit fit --report` and
loads the report in headless Chromium. Prints the sizes and times.

Usage: report_large_case.py CFIT DATA_FOLDER WORK_FOLDER
"""
import os
import subprocess
import sys
import time

import numpy as np
import skrf


def write_touchstone(path, f, s):
    """A version 1 Touchstone file in RI form: per point the rows of the
    matrix, four values to a line."""
    points, n, _ = s.shape
    with open(path, "w") as out:
        out.write("# HZ S RI R 50\n")
        for k in range(points):
            pairs = np.stack([s[k].real, s[k].imag], axis=-1).reshape(n, n // 4, 8)
            lines = ["\n".join(" ".join(f"{v:.9e}" for v in row) for row in rows)
                     for rows in pairs]
            out.write(f"{f[k]:.9e} " + "\n".join(lines) + "\n")


def main():
    cfit, data, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    package = skrf.Network(os.path.join(data, "package_8port_sim.s8p"))
    n, copies, points = 8, 4, 10000
    f = np.linspace(package.f[0], package.f[-1], points)
    s = np.empty((points, n, n), complex)
    for i in range(n):
        for j in range(n):
            s[:, i, j] = np.interp(f, package.f, package.s[:, i, j].real) + 1j * np.interp(
                f, package.f, package.s[:, i, j].imag)
    big = np.empty((points, n * copies, n * copies), complex)
    for a in range(copies):
        for b in range(copies):
            big[:, a * n:(a + 1) * n, b * n:(b + 1) * n] = s * (1.0 if a == b else 0.01)
    path = os.path.join(work, "tiled32.s32p")
    write_touchstone(path, f, big)
    start = time.monotonic()
    fit = subprocess.run([cfit, "fit", "--report", "--no-progress", "--max-points", "10000",
                          "--outputs", "pls", "-o", work, path],
                         capture_output=True, text=True)
    fitted = time.monotonic() - start
    if fit.returncode != 0:
        sys.exit(fit.stderr)
    report = os.path.join(work, "tiled32_report.html")
    start = time.monotonic()
    dom = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                          "--virtual-time-budget=60000", "--dump-dom", "file://" + report],
                         capture_output=True, text=True).stdout
    loaded = time.monotonic() - start
    charts = dom.count('class="chart"')
    print(f"32 ports, {points} points: fit and report {fitted:.1f} s; report "
          f"{os.path.getsize(report) / 1e6:.2f} MB; headless Chromium loads and draws its "
          f"{charts} charts in {loaded:.1f} s (rendered: {'data-charts=' in dom})")


if __name__ == "__main__":
    main()
