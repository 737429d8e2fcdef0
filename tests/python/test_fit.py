"""Fits through Python match the C++ host interface bit for bit; models, pole files and
Ctrl-C behave as a host of the library expects."""

import os
import signal
import struct
import subprocess
import threading

import numpy as np
import pytest

import cfit
from conftest import real

FILES = ["coax_line_sim_crlf.s2p", "aperture_waveguide_port_sim.s1p",
         "bandpass_filter_lumped_sim.s2p", "coupled_lines_diff_2xthru.s4p",
         "fourport_measured_75ohm.s4p", "threeport_sim_db_port_impedance.s3p"]
# The host's fits: the library's Fit, and its enforcement by the classic loops.
VARIANTS = {"individual": {"single_pass": True},
            "common": {"common_poles": True, "single_pass": True},
            "enforced": {"single_pass": True, "passive": True, "enforcement": "classic"}}


def fingerprint(fitter):
    """FNV-1a over the model numbers a host can read, as tests/host computes it."""
    value = 14695981039346656037

    def add(data):
        nonlocal value
        for byte in data:
            value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF

    n = fitter.GetPortCount()
    add(struct.pack("<ii", n, fitter.GetDataType()))
    for i in range(n):
        for j in range(n):
            count, constant, proportional, delay = fitter.GetElementModelInfo(i, j)
            add(struct.pack("<iddd", count, constant, proportional, delay))
            if count > 0:
                poles, residues = fitter.GetElementPolesResidues(i, j)
                for array in (poles, residues):
                    add(np.column_stack([array.real, array.imag]).astype("<f8").tobytes())
    return f"{value:016x}"


@pytest.mark.parametrize("variant", VARIANTS)
@pytest.mark.parametrize("name", FILES)
def test_python_fits_equal_the_host_fits(name, variant, host_prints):
    path = real(name)
    expected = host_prints[(name, variant)]
    from_path = cfit.fit(path, **VARIANTS[variant])
    from_data = cfit.fit(cfit.read(path), **VARIANTS[variant])
    assert fingerprint(from_path.fitter) == expected
    assert fingerprint(from_data.fitter) == expected


@pytest.mark.parametrize("name, options", [
    ("bandpass_filter_lumped_sim.s2p", {}),
    ("bandpass_filter_lumped_sim.s2p", {"max_order": 8}),
    ("fourport_measured_75ohm.s4p", {"common_poles": True, "iterations": 2, "target_error": 2e-3})])
def test_iterated_fits_equal_the_engine_call(name, options):
    """The default fit is the engine's iterated fit with the same settings, bit for bit
    (the C++ call made by tests/python/fit_print.cpp)."""
    if not os.environ.get("CFIT_FIT_PRINT"):
        pytest.skip("CFIT_FIT_PRINT (the C++ fit printer) is not set")
    path = real(name)
    command = [os.environ["CFIT_FIT_PRINT"], str(path), str(int(options.get("common_poles", 0))),
               str(options.get("iterations", 20)), repr(options.get("target_error", 0.0)),
               str(options.get("max_order", 0))]
    printed = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    expected = printed.split()[-1]
    from_path = cfit.fit(path, **options)
    from_data = cfit.fit(cfit.read(path), **options)
    assert fingerprint(from_path.fitter) == fingerprint(from_data.fitter) == expected
    record = from_path.fit_record
    assert not record["single_pass"] and 0 <= record["settled"] <= record["quantities"] > 0
    assert record["fewest_iterations"] <= record["most_iterations"] <= record["iterations"]
    assert fingerprint(cfit.fit(path, single_pass=True, **{
        k: v for k, v in options.items() if k == "common_poles"}).fitter) != expected
    with pytest.raises(ValueError):
        cfit.fit(path, single_pass=True, target_error=1e-3)


def test_fitter_reaches_the_host_operations_directly(host_prints):
    path = real("coax_line_sim_crlf.s2p")
    fitter = cfit.Fitter()
    assert fitter.ReadTouchstone(str(path)) == 2
    fitter.Fit()
    assert fitter.HasFit()
    assert fingerprint(fitter) == host_prints[("coax_line_sim_crlf.s2p", "individual")]
    value = fitter.EvaluateModelElement(1, 0, 1e9)
    assert fitter.EvaluateModel([1e9])[0, 1, 0] == value


def test_model_parts_rebuild_the_evaluation():
    """H(f) = [d + j f e + sum over terms of R / (1 + j f / P), a pair's term averaged with
    its conjugate] exp(-j 2 pi f tau), from the model's own parts."""
    model = cfit.fit(real("bandpass_filter_lumped_sim.s2p"), delays=True)
    f = np.linspace(1e6, 5e9, 37)
    values = model.evaluate(f)
    for i in range(model.ports):
        for j in range(model.ports):
            p, r = model.poles(i, j), model.residues(i, j)
            term = r[None, :] / (1 + 1j * f[:, None] / p[None, :])
            paired = (term + np.conj(r)[None, :] / (1 + 1j * f[:, None] / np.conj(p)[None, :])) / 2
            terms = np.where(p.imag[None, :] == 0, term, paired).sum(axis=1)
            h = model.constant[i, j] + 1j * f * model.proportional[i, j] + terms
            h = h * np.exp(-2j * np.pi * f * model.delay[i, j])
            np.testing.assert_allclose(values[:, i, j], h, rtol=1e-9, atol=1e-12)


def test_pole_file_round_trip_keeps_the_evaluation(tmp_path):
    model = cfit.fit(real("fourport_measured_75ohm.s4p"))
    model.write_pls(tmp_path / "m.pls")
    again = cfit.read_model(tmp_path / "m.pls")
    f = np.geomspace(1e6, 2e10, 50)
    np.testing.assert_allclose(again.evaluate(f), model.evaluate(f), rtol=1e-9, atol=1e-12)
    np.testing.assert_array_equal(again.z0, model.z0)


def test_classic_enforcement_returns_a_new_passive_model():
    model = cfit.fit(real("coax_line_sim_crlf.s2p"))
    passive, measure, _, bands = model.check_passivity()
    enforced = model.enforce_passivity(method="classic")
    assert enforced.enforcement == {"method": "classic"}
    assert not passive and measure > 1 and bands
    assert all(lo <= peak_f <= hi and peak > 1 for lo, hi, peak, peak_f in bands)
    assert enforced.check_passivity()[:1] == (True,)
    assert model.check_passivity()[1] == measure  # the original is unchanged
    # The largest singular value of the enforced model on a dense grid, by numpy.
    f = np.linspace(0, 1e11, 2001)
    sigma = np.linalg.svd(enforced.evaluate(f), compute_uv=False).max()
    assert sigma ** 2 <= 1 + 1e-6


def test_progress_and_ctrl_c():
    path = real("multiport_sim_12.s12p")
    seen = []

    def interrupt(p):
        seen.append(p)
        if len(seen) == 1:
            os.kill(os.getpid(), signal.SIGINT)

    with pytest.raises(KeyboardInterrupt):
        cfit.fit(path, progress=interrupt)
    values = []
    model = cfit.fit(path, progress=values.append)
    assert values and values[-1] == model.fitter.progress
    assert all(0 <= v <= 1 for v in values)


def test_two_threads_fit_concurrently_and_as_in_sequence(host_prints):
    name = "multiport_sim_12.s12p"
    path = real(name)
    both_running = threading.Barrier(2, timeout=120)
    results, met = {}, {}

    def work(key, variant):
        def progress(p):
            # Polls made while the library is still fitting meet the other thread's.
            if key not in met and p < 1:
                both_running.wait()
                met[key] = True
        results[key] = cfit.fit(path, progress=progress, **VARIANTS[variant]).fitter

    threads = [threading.Thread(target=work, args=(v, v)) for v in ("individual", "common")]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert met == {"individual": True, "common": True}
    for variant, fitter in results.items():
        assert fingerprint(fitter) == host_prints[(name, variant)]
