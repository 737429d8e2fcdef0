"""Paths the Python tests share: the real Touchstone files and the fingerprints of the
fits made through the C++ host interface (tests/host/fit_fingerprints.txt)."""

import os
import pathlib

import numpy
import pytest

if not hasattr(numpy, "complex"):  # Debian's scikit-rf 0.15 still uses the alias
    numpy.complex = complex

DATA = pathlib.Path(os.environ.get("CFIT_TEST_DATA", "/work/shared/data/touchstone"))
FINGERPRINTS = pathlib.Path(__file__).resolve().parent.parent / "host" / "fit_fingerprints.txt"


def real(name):
    path = DATA / name
    if not path.exists():
        pytest.skip(f"real file {name} not found")
    return path


@pytest.fixture(scope="session")
def host_prints():
    """{(file, variant): fingerprint} of the C++ host's fits."""
    prints = {}
    for line in FINGERPRINTS.read_text().splitlines():
        if line and not line.startswith("#"):
            name, variant, value = line.split()
            prints[(name, variant)] = value
    return prints
