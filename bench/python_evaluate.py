#!/usr/bin/python3
"""Python overhead of Model.evaluate: the 16-port model of cfit_evaluate_bench (8 pole
terms per element) at 10,000 frequencies through the Python package, against the same
element-by-element evaluation in C++ (goal: within 1.5x). Best of five runs each.

Usage: python_evaluate.py <cfit_evaluate_bench> (PYTHONPATH=build/python)
"""

import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import cfit

with tempfile.TemporaryDirectory() as folder:
    poles = os.path.join(folder, "model16.pls")
    out = subprocess.run([sys.argv[1], poles], check=True, capture_output=True, text=True).stdout
    cpp = float(out.split()[-1])
    model = cfit.read_model(poles)
f = 1e6 + 2e6 * np.arange(10000)
best = float("inf")
for _ in range(5):
    start = time.perf_counter()
    values = model.evaluate(f)
    best = min(best, time.perf_counter() - start)
print(f"16-port model, 10000 frequencies, {values.size} values: C++ {cpp:.4f} s,"
      f" Python {best:.4f} s, ratio {best / cpp:.2f}")
