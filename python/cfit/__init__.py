"""cfit: rational macromodels of sampled N-port network parameters, from Python.

Element (i, j) of an N-port's S, Y or Z matrix is modelled as

    H(f) = [d + j f e + sum_real R / (1 + j f / P)
            + sum_pairs (R / (1 + j f / P) + conj(R) / (1 + j f / conj(P))) / 2]
           * exp(-j 2 pi f tau)

with f in Hz, poles P (Hz) and residues R as the library holds them (Model.poles,
Model.residues), constant d, proportional term e (per Hz) and delay tau (seconds); a real
term has Im P = 0, a complex pair is held once. Reference impedances are in ohms.

    import cfit
    data = cfit.read("line.s2p")                 # Data: f, x (F x N x N), z0, kind
    model = cfit.fit(data, passive=True)         # Model
    s = model.evaluate(data.f)                   # F x N x N complex
    model.write_pls("line.pls"); model.write_netlist("line.cir")

`cfit.Fitter` is the library's fitter itself, every host operation under its own name.
"""

from ._cfit import (
    LARGE_CERTIFICATE_ORDER,
    Fitter,
    Params,
    Solver,
    TimeResponseParameters,
    error_text,
)
from . import _cfit
from .core import (
    Certificate,
    Data,
    Error,
    Model,
    StateSpace,
    fit,
    read,
    read_model,
)
from .batch import fit_many

_cfit._set_error_class(Error)

__all__ = [
    "Certificate",
    "Data",
    "Error",
    "Fitter",
    "LARGE_CERTIFICATE_ORDER",
    "Model",
    "Params",
    "Solver",
    "StateSpace",
    "TimeResponseParameters",
    "error_text",
    "fit",
    "fit_many",
    "read",
    "read_model",
]
