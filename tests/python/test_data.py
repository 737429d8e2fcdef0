"""Data: reading, scikit-rf interop, the transformations against scikit-rf, and errors
raised before anything reaches the library."""

import numpy as np
import pytest
import skrf

import cfit
from conftest import real

S_FILES = ["coax_line_sim_crlf.s2p", "cpw_sim_port_impedance_crlf.s2p",
           "fourport_measured_75ohm.s4p", "threeport_sim_db_port_impedance.s3p",
           "package_8port_sim.s8p"]


def close(a, b):
    np.testing.assert_allclose(a, b, rtol=1e-9, atol=1e-12)


@pytest.mark.parametrize("name", S_FILES)
def test_skrf_round_trip_is_exact_and_reads_agree(name):
    net = skrf.Network(str(real(name)))
    data = cfit.Data.from_network(net)
    back = data.to_network()
    np.testing.assert_array_equal(back.f, net.f)
    np.testing.assert_array_equal(back.s, net.s)
    np.testing.assert_array_equal(back.z0, net.z0)
    read = cfit.read(real(name))
    close(read.f, net.f)
    close(read.x, net.s)
    close(read.z0, net.z0[0].real)


@pytest.mark.parametrize("name", S_FILES[:3])
def test_transformations_agree_with_skrf(name):
    net = skrf.Network(str(real(name)))
    data = cfit.read(real(name))
    n = data.ports
    z0 = data.z0
    close(data.convert("Z").x, skrf.s2z(net.s, z0, s_def="power"))
    close(data.convert("Y").x, np.linalg.inv(skrf.s2z(net.s, z0, s_def="power")))
    close(data.renormalize(35.0).x, skrf.renormalize_s(net.s, z0, np.full(n, 35.0), s_def="power"))
    order = list(range(n))[::-1]
    reordered = net.copy()
    reordered.renumber(order, list(range(n)))
    close(data.reorder(order).x, reordered.s)
    assert data.kind == "S" and np.array_equal(data.x, cfit.read(real(name)).x)


@pytest.mark.parametrize("name", ["coax_line_sim_crlf.s2p", "lowpass_filter_measured.s2p"])
def test_cascade_agrees_with_skrf(name):
    a = skrf.Network(str(real(name)))
    # The library symmetrises data read from a file when they are symmetric within its
    # tolerance; the second operand is read from a file, so start from the same data.
    a.s = cfit.read(real(name)).x
    data = cfit.Data.from_network(a)
    cascade = data.cascade(data)  # the library gives the cascade in Y
    assert cascade.kind == "Y"
    close(cascade.x, (a ** a).y)


def test_model_sweep_written_by_the_library_matches_evaluate(tmp_path):
    data = cfit.read(real("fourport_measured_75ohm.s4p"))
    model = cfit.fit(data)
    model.write_touchstone(tmp_path / "m.s4p")
    written = skrf.Network(str(tmp_path / "m.s4p"))
    np.testing.assert_allclose(written.f, data.f, rtol=1e-12)
    np.testing.assert_allclose(written.s, model.evaluate(data.f), rtol=1e-6, atol=1e-9)
    np.testing.assert_array_equal(model.to_network(data.f).s, model.evaluate(data.f))


def test_from_arrays_and_time_response_of_a_closed_form():
    """A one-pole S11 = a / (1 + s/w) fits exactly; its step response is a (1 - exp(-w t))."""
    a, w = 0.5, 2 * np.pi * 1e9
    f = np.linspace(0, 2e10, 401)
    x = (a / (1 + 2j * np.pi * f / w)).reshape(-1, 1, 1)
    model = cfit.fit(cfit.Data.from_arrays(f, x, z0=50), delays=False)
    close(model.evaluate(f), x)
    t, v = model.time_response(0, 0, "step", t=np.linspace(0, 2e-9, 41))
    np.testing.assert_allclose(v, a * (1 - np.exp(-w * t)), atol=1e-6)


BAD_ARRAYS = [
    (dict(f=[1.0, 2.0], x=np.zeros((2, 2, 3))), ValueError),
    (dict(f=[1.0, 2.0], x=np.zeros((3, 1, 1))), ValueError),
    (dict(f=[[1.0, 2.0]], x=np.zeros((2, 1, 1))), ValueError),
    (dict(f=[1.0], x=np.zeros((1, 2, 2)), z0=[50, 50, 50]), ValueError),
    (dict(f=[1.0], x=np.zeros((1, 1, 1)), kind="H"), ValueError),
    (dict(f=["a"], x=np.zeros((1, 1, 1))), TypeError),
    (dict(f=[1j], x=np.zeros((1, 1, 1))), TypeError),
    (dict(f=[1.0], x=np.array([[["x"]]])), TypeError),
]


@pytest.mark.parametrize("arguments,error", BAD_ARRAYS)
def test_malformed_arrays_are_refused_before_the_library(arguments, error):
    with pytest.raises(error):
        cfit.Data.from_arrays(**arguments)


def test_library_failures_raise_cfit_error_with_its_text(tmp_path):
    with pytest.raises(cfit.Error) as caught:
        cfit.read(real("reject_no_data.s3p"))
    assert caught.value.message.endswith("Invalid touchstone syntax")
    assert caught.value.code == 1001 and cfit.error_text(1001) == "Invalid touchstone syntax"
    fitter = cfit.Fitter()
    with pytest.raises(cfit.Error) as caught:
        fitter.Fit()
    assert caught.value.message == fitter.GetErrorMessage()
    with pytest.raises(cfit.Error):
        cfit.read_model(real("coax_line_sim_crlf.s2p"))
    model = cfit.fit(real("coax_line_sim_crlf.s2p"))
    with pytest.raises(cfit.Error):
        model.fitter.EvaluateModelElement(5, 0, 1e9)
    # Wrong shapes and types stop in the binding.
    with pytest.raises(ValueError):
        model.fitter.EvaluateModel(np.zeros((2, 2)))
    with pytest.raises(ValueError):
        model.fitter.ChangeReferenceImpedances([50.0])
    with pytest.raises(TypeError):
        model.fitter.EvaluateModelElement("0", 0, 1e9)
    with pytest.raises(TypeError):
        cfit.fit(real("coax_line_sim_crlf.s2p"), no_such_option=1)
    with pytest.raises(TypeError):
        cfit.fit(42)


@pytest.mark.parametrize("name", ["coax_line_sim_crlf.s2p", "fourport_measured_75ohm.s4p",
                                  "power_splitter_2way_measured.s3p"])
def test_data_passivity_measure_is_numpys_largest_singular_value_squared(name):
    data = cfit.read(real(name))
    passive, measure, at, bands = data.check_passivity()
    sigma = np.linalg.svd(data.x, compute_uv=False).max(axis=1) ** 2
    k = int(np.argmax(sigma))
    np.testing.assert_allclose(measure, sigma[k], rtol=1e-9)
    assert at == data.f[k] and passive == (sigma[k] <= 1)
    inside = np.zeros(len(data.f), bool)
    for lo, hi, peak, _ in bands:
        inside |= (data.f >= lo) & (data.f <= hi)
        assert peak <= measure
    assert np.all(inside[sigma > 1])


def test_model_transformations_return_new_models():
    model = cfit.fit(real("fourport_measured_75ohm.s4p"))
    f = np.linspace(5e8, 4.5e9, 23)
    before = model.evaluate(f)
    order = [2, 0, 3, 1]
    reordered = model.reorder(order)
    close(reordered.evaluate(f), before[:, order][:, :, order])
    z = model.convert("Z")
    assert z.kind == "Z" and model.kind == "S"
    np.testing.assert_array_equal(model.evaluate(f), before)
