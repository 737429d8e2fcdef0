#!/usr/bin/python3
"""Fits a Touchstone file with the Python package cfit, makes the model passive, writes the
pole file and the netlist, and plots data against model when matplotlib is installed.

Usage: fit_with_python.py [file.sNp] [output folder]
(with the package from the build tree: PYTHONPATH=build/python)
"""

import os
import sys

import numpy as np

import cfit

here = os.path.dirname(os.path.abspath(__file__))
path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "ring_slot_sim.s2p")
out = sys.argv[2] if len(sys.argv) > 2 else "python-fit"
os.makedirs(out, exist_ok=True)
stem = os.path.join(out, os.path.splitext(os.path.basename(path))[0])

data = cfit.read(path)
model = cfit.fit(data, progress=lambda p: print(f"\rfit {100 * p:5.1f}%", end="", file=sys.stderr))
passive, measure, at, bands = model.check_passivity()
print(f"\n{data}: largest passivity measure {measure:.6g} at {at:.6g} Hz,"
      f" {len(bands)} violation band(s)", file=sys.stderr)
certificate = model.certificate()
print(f"exact certificate: {'passive' if certificate.passive else 'not passive'},"
      f" {len(certificate.bands)} violation band(s)", file=sys.stderr)
if not certificate.passive:
    model = model.enforce_passivity()
    print(f"enforced by residue perturbation in {model.enforcement['steps']} step(s):"
          f" largest measure {model.check_passivity()[1]:.6g},"
          f" certificate {'passive' if model.certificate().passive else 'not passive'}",
          file=sys.stderr)

error = np.abs(model.evaluate(data.f) - data.x).max()
print(f"largest deviation from the data: {error:.3g}", file=sys.stderr)
model.write_pls(stem + ".pls")
model.write_netlist(stem + ".cir")
model.write_touchstone(stem + f"_model.s{data.ports}p")

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    sys.exit(0)
f = np.linspace(data.f[0], data.f[-1], 2000)
values = model.evaluate(f)
figure, axes = plt.subplots(data.ports, data.ports, squeeze=False, figsize=(8, 6))
for i in range(data.ports):
    for j in range(data.ports):
        axes[i, j].plot(data.f / 1e9, 20 * np.log10(np.abs(data.x[:, i, j])), ".", ms=2,
                        label="data")
        axes[i, j].plot(f / 1e9, 20 * np.log10(np.abs(values[:, i, j])), label="model")
        axes[i, j].set_title(f"{data.kind}{i + 1}{j + 1} (dB)")
        axes[i, j].set_xlabel("GHz")
axes[0, 0].legend()
figure.tight_layout()
figure.savefig(stem + ".png", dpi=120)
