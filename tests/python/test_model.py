"""The engine's certificate, enforcement by residue perturbation, state-space realisation
and equivalent-circuit netlist as the package exposes them, checked against numpy."""

import os
import subprocess

import numpy as np
import pytest

import cfit
from conftest import real


def largest_measure(model, f):
    """The square of the largest singular value of an S model at f, by numpy."""
    return np.linalg.svd(model.evaluate(f), compute_uv=False).max(axis=1) ** 2


@pytest.mark.parametrize("name, common", [("coax_line_sim_crlf.s2p", False),
                                          ("bandpass_filter_lumped_sim.s2p", True)])
def test_certificate_agrees_with_a_dense_svd_sweep(name, common):
    model = cfit.fit(real(name), common_poles=common)
    cert = model.certificate()
    assert not cert.passive and cert.bands and not cert.delays_ignored
    assert cert.order > 0
    f = np.geomspace(1e5, 1e12, 20001)
    measure = largest_measure(model, f)
    inside = np.zeros(f.shape, bool)
    for lo, hi, worst, at in cert.bands:
        assert lo <= at <= hi and worst > 1
        band = (f >= lo) & (f <= hi)
        inside |= band
        assert largest_measure(model, [at])[0] == pytest.approx(worst, rel=1e-9)
        assert measure[band].max(initial=0) <= worst * (1 + 1e-9)
        for edge in (lo, hi):
            if 0 < edge < np.inf:
                assert largest_measure(model, [edge])[0] == pytest.approx(1, abs=1e-6)
    # No violation outside the certified bands, and the sampled check sees the worst band.
    assert measure[~inside].max() <= 1 + 1e-9
    assert model.check_passivity()[1] <= max(b[2] for b in cert.bands) * (1 + 1e-9)


def test_perturbation_ends_passive_by_the_certificate(tmp_path):
    name = "bandpass_filter_lumped_sim.s2p"
    model = cfit.fit(real(name), common_poles=True)
    assert not model.certificate().passive and model.enforcement is None
    enforced = model.enforce_passivity()
    assert enforced.certificate().passive
    assert enforced.enforcement["method"] == "perturbation" and enforced.enforcement["steps"] >= 1
    assert 0 < enforced.enforcement["relative_change"] < 0.05
    assert not model.certificate().passive  # the original is unchanged
    # The fitted poles stay (damped ones may join them beyond the band); the
    # change stays small over the data band.
    data = cfit.read(real(name))
    kept = enforced.poles(0, 0)
    assert len(kept) == len(model.poles(0, 0)) + enforced.enforcement["added_poles"]
    assert all(p in kept for p in model.poles(0, 0))
    change = np.abs(enforced.evaluate(data.f) - model.evaluate(data.f)).max()
    assert change < 0.05
    assert largest_measure(enforced, np.geomspace(1e5, 1e12, 5001)).max() <= 1
    # fit(passive=True) runs the same enforcement.
    fitted = cfit.fit(data, common_poles=True, passive=True)
    assert fitted.enforcement == enforced.enforcement
    np.testing.assert_array_equal(fitted.evaluate(data.f), enforced.evaluate(data.f))
    # The cfit program's fit --passive writes the same pole file.
    if os.environ.get("CFIT_TOOL"):
        subprocess.run([os.environ["CFIT_TOOL"], "fit", "--common-poles", "--passive",
                        "--outputs", "pls", "--output-dir", str(tmp_path), "--name", "program",
                        str(real(name))], check=True, capture_output=True)
        fitted.write_pls(tmp_path / "python.pls")
        assert (tmp_path / "python.pls").read_bytes() == (tmp_path / "program.pls").read_bytes()
    with pytest.raises(ValueError):
        model.enforce_passivity(threshold=0.9)
    with pytest.raises(ValueError):
        model.enforce_passivity(method="loops")


def delayed_model(tmp_path):
    """A fitted 2-port with a different delay on every element, through a pole file."""
    fitted = cfit.fit(real("coax_line_sim_crlf.s2p"))
    fitter = cfit.Fitter()
    fitter.DefineModel(2, 1, fitted.z0, False)
    for i in range(2):
        for j in range(2):
            fitter.SetElementModel(i, j, fitted.constant[i, j], 0.0, 1e-10 * (1 + 2 * i + j),
                                   fitted.poles(i, j), fitted.residues(i, j))
    fitter.WritePoles(str(tmp_path / "delayed.pls"))
    return cfit.read_model(tmp_path / "delayed.pls")


def test_state_space_evaluates_as_the_model(tmp_path):
    """C (s I - A)^-1 B + D + s E with the delays, against Model.evaluate, for common poles
    with a proportional term (a Z fit) and for individual poles with delays."""
    z = cfit.fit(cfit.read(real("threeport_sim_db_port_impedance.s3p")).convert("Z"),
                 common_poles=True)
    delayed = delayed_model(tmp_path)
    assert np.abs(z.proportional).max() > 0 and np.abs(delayed.delay).max() > 0
    for model in (z, delayed):
        ss = model.state_space()
        n, k = model.ports, ss.A.shape[0]
        assert ss.B.shape == (k, n) and ss.C.shape == (n, k) and ss.D.shape == (n, n)
        assert all(m.dtype == float for m in ss)
        np.testing.assert_array_equal(ss.tau, model.delay)
        f = np.geomspace(1e6, 1e11, 41)
        h = np.empty((len(f), n, n), complex)
        for t, fk in enumerate(f):
            s = 2j * np.pi * fk
            h[t] = (ss.C @ np.linalg.solve(s * np.eye(k) - ss.A, ss.B) + ss.D + s * ss.E) \
                * np.exp(-s * ss.tau)
        expected = model.evaluate(f)
        scale = np.abs(expected).max(axis=(1, 2))[:, None, None]
        assert (np.abs(h - expected) <= 1e-10 * scale).all()


def test_netlists_are_written_in_each_form(tmp_path):
    model = cfit.fit(real("coax_line_sim_crlf.s2p"))
    assert model.write_netlist(tmp_path / "line.cir") == [str(tmp_path / "line.cir")]
    text = (tmp_path / "line.cir").read_text()
    assert ".subckt line p_1 p_2 ref" in text and text.rstrip().endswith(".ends")
    written = model.write_netlist(tmp_path / "both.cir", form="both", name="coax")
    assert written == [str(tmp_path / "both.cir"), str(tmp_path / "both_laplace.cir")]
    assert ".subckt coax p_1 p_2 ref" in (tmp_path / "both.cir").read_text()
    assert "LAPLACE" in (tmp_path / "both_laplace.cir").read_text().upper()
    y = model.convert("Y")
    y.write_netlist(tmp_path / "y.cir")
    assert ".subckt y p_1 p_2 ref" in (tmp_path / "y.cir").read_text()
    with pytest.raises(ValueError):
        y.write_netlist(tmp_path / "y2.cir", form="laplace")
    with pytest.raises(ValueError):
        model.write_netlist(tmp_path / "x.cir", form="subcircuit")


def test_passive_fit_holds_a_violating_constant():
    """The 8-port package's free constant has a singular value of 7.4: before the
    perturbation the fit holds it passive, and the plain fit leaves it free."""
    path = real("package_8port_sim.s8p")
    assert not cfit.fit(path, common_poles=True).fit_record["constant_held"]
    model = cfit.fit(path, common_poles=True, passive=True)
    assert model.fit_record["constant_held"] and model.certificate().passive
    data = cfit.read(path)
    error = np.linalg.norm(model.evaluate(data.f) - data.x) / np.linalg.norm(data.x)
    assert error < 7.2e-4  # twice the fit's error plus 1e-4
