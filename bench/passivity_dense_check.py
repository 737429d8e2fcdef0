#!/usr/bin/python3
"""Independent dense passivity check of enforced models, and timing.

Runs cfit_passivity_bench (which fits every real file and the tiled 16- and
32-port networks, times CheckModelPassivity and EnforceModelPassivity and
dumps every model before and after enforcement at 20,000 log-spaced
frequencies), then computes the largest singular value at every dumped
frequency with numpy's SVD, timing that dense sweep, and prints one row per
fit: the largest measure (sigma_max^2) found densely before and after, and
where the library's own adaptive check did not see a violation the dense one
finds.

Usage: passivity_dense_check.py <cfit_passivity_bench> [data-folder]
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy


def load(path):
    with open(path, "rb") as f:
        ports, count, data_type = numpy.frombuffer(f.read(12), dtype=numpy.int32)
        raw = numpy.frombuffer(f.read(), dtype=numpy.float64).reshape(count, 1 + 2 * ports * ports)
    freqs = raw[:, 0]
    values = (raw[:, 1::2] + 1j * raw[:, 2::2]).reshape(count, ports, ports)
    return freqs, values, data_type


def dense(path):
    """Largest passivity measure over the dump: sigma_max^2 for S data,
    1 - the smallest eigenvalue of the Hermitian part for Y and Z data."""
    freqs, values, data_type = load(path)
    start = time.perf_counter()
    if data_type == 1:
        measure = numpy.linalg.svd(values, compute_uv=False)[:, 0] ** 2
    else:
        hermitian = 0.5 * (values + numpy.conj(numpy.transpose(values, (0, 2, 1))))
        measure = numpy.maximum(0.0, 1.0 - numpy.linalg.eigvalsh(hermitian)[:, 0])
    seconds = time.perf_counter() - start
    k = int(numpy.argmax(measure))
    return measure[k], freqs[k], seconds


def main():
    program = sys.argv[1]
    extra = sys.argv[2:3]
    with tempfile.TemporaryDirectory() as dump:
        run = subprocess.run([program, dump] + extra, stdout=subprocess.PIPE, text=True)
        rows = [line for line in run.stdout.splitlines() if line.startswith("| ") and
                not line.startswith("| file")]
        print("| file | poles | ports | check s | enforce s | result | adaptive after | dense "
              "before | dense after (at Hz) | numpy SVD s | rel. RMS before -> after |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for row in rows:
            cells = [c.strip() for c in row.strip("|").split("|")]
            if len(cells) < 10:
                print(row)
                continue
            name, mode, ports, check, largest, enforce, result, after, rms0, rms1 = cells[:10]
            base = os.path.join(dump, f"{name}.{mode}")
            m0, _, _ = dense(base + ".before.bin")
            m1, f1, seconds = dense(base + ".after.bin")
            flag = " (missed by the adaptive check)" if result == "1" and m1 > 1 + 1e-6 else ""
            print(f"| {name} | {mode} | {ports} | {check} | {enforce} | {result} | {after} | "
                  f"{m0:.6g} | {m1:.9g} ({f1:.4g}){flag} | {seconds:.3f} | {rms0} -> {rms1} |")


if __name__ == "__main__":
    sys.exit(main())
