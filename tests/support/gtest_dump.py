"""Runs one case of a test program that writes dumps for a cross-check script."""
# The cross-check scripts compare what the library computed with an
# independent computation (scikit-rf, numpy, ngspice). The library side runs as
# a gtest case that writes its results into the folder named by an environment
# variable; the script then reads them.
import os
import subprocess


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
