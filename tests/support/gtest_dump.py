"""Runs one case of a test program that writes dumps for a cross-check script."""
# The cross-check scripts compare what the library computed with an
# independent computation (scikit-rf, numpy, ngspice). The library side runs as
# a gtest case that writes its results into the folder named by an environment
# variable; the script then reads them.
import os
import subprocess

import numpy


def run_dump_case(program, case, variable, data_folder, dump_folder):
    # Runs `case` of `program` with `variable` naming `dump_folder` and
    # CFIT_TEST_DATA naming `data_folder`. Prints the program's output and
    # returns False when the case fails.
    env = dict(os.environ, CFIT_TEST_DATA=data_folder, **{variable: dump_folder})
    run = subprocess.run([program, f"--gtest_filter={case}"], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True)
    if run.returncode != 0:
        print(f"{run.stdout}\n{case} failed")
    return run.returncode == 0


def read_matrices(path):
    # A binary dump: ports, point count and data type as int32, then per point
    # the frequency and the matrix's values (real, imaginary, row by row) as
    # float64. Returns the frequencies, the matrices and the data type.
    with open(path, "rb") as f:
        ports, count, data_type = numpy.frombuffer(f.read(12), dtype=numpy.int32)
        raw = numpy.frombuffer(f.read(), dtype=numpy.float64).reshape(count, 1 + 2 * ports * ports)
    return raw[:, 0], (raw[:, 1::2] + 1j * raw[:, 2::2]).reshape(count, ports, ports), data_type


def passivity_measure(values, data_type):
    # Per point: the largest singular value squared (S data), or max(0, 1 -
    # the smallest eigenvalue of the Hermitian part) (Y/Z data).
    if data_type == 1:
        return numpy.linalg.svd(values, compute_uv=False)[:, 0] ** 2
    hermitian = 0.5 * (values + numpy.conj(numpy.transpose(values, (0, 2, 1))))
    return numpy.maximum(0.0, 1.0 - numpy.linalg.eigvalsh(hermitian)[:, 0])
