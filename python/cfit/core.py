"""The Pythonic layer: Data (sampled network parameters) and Model (a fitted rational model).

The library works in place on one fitter; every transformation here works on a fresh fitter
loaded with a copy, so the object it is called on never changes.
"""

import collections
import os
import tempfile

import numpy as np

from . import _cfit

KINDS = {1: "S", 2: "Y", 3: "Z", 4: "ABCD", 5: "pulse"}
CODES = {"S": 1, "Y": 2, "Z": 3}
FORMATS = {"ri": 0, "ma": 1, "db": 2}
WAVEFORMS = {"impulse": 0, "step": 1, "bit": 2, "trapezoid": 3}
NETLIST_FORMS = ("equivalent", "laplace", "both")

Certificate = collections.namedtuple("Certificate", "passive bands order delays_ignored")
Certificate.__doc__ = """The exact passivity certificate of a model.

passive: no violation at any frequency. bands: (from Hz, to Hz, worst measure, its frequency
Hz) for each band where the model is not passive (to is inf for a band reaching infinite
frequency; the measure as in Model.check_passivity). order: the order of the matrix
whose eigenvalues give the band edges (the Hamiltonian, or for a symmetric model a matrix of
half its order); 0 when an S model is passive by a
bound on its response's size alone (sum over each element's terms of |R| |P| / Re P plus
|d|, whose Frobenius norm is below 1: exact, delays included). delays_ignored: the model's
delays do not factor per port, and the delay-free model was certified."""

StateSpace = collections.namedtuple("StateSpace", "A B C D E tau")
StateSpace.__doc__ = """A real realisation of a model: with s = j 2 pi f (rad/s),
H(s)[i, j] = (C (s I - A)^-1 B + D + s E)[i, j] * exp(-s tau[i, j]).
A (states x states, block diagonal), B (states x N), C (N x states), D, E (seconds) and tau
(seconds) N x N; E is the model's proportional term over 2 pi."""


class Error(Exception):
    """A failure reported by the library: `message` is its recorded text and `code` its
    error number (0 when the library recorded none)."""

    def __init__(self, message, code=0):
        super().__init__(message)
        self.message = message
        self.code = code

    def __str__(self):
        return f"{self.message} (code {self.code})" if self.code else self.message


def _params(**options):
    """A Params record from readable option names (the cFitParams fields)."""
    params = _cfit.Params()
    for name, value in options.items():
        if not hasattr(params, name):
            raise TypeError(f"unknown fit option {name!r}")
        setattr(params, name, value)
    return params


def _real_vector(values, name):
    array = np.asarray(values)
    if array.dtype.kind not in "fiu":
        raise TypeError(f"{name} must hold real numbers, not {array.dtype}")
    return np.asarray(array, dtype=float)


def _per_port(values, n, name):
    array = _real_vector(values, name)
    if array.ndim == 0:
        array = np.full(n, float(array))
    if array.shape != (n,):
        raise ValueError(f"{name} needs one value per port ({n}), got shape {array.shape}")
    return array


class Data:
    """Sampled network parameters.

    f: frequencies in Hz, shape (F,). x: complex values, shape (F, N, N), x[k, i, j] the
    element (i, j) at f[k] (S dimensionless, Y in siemens, Z in ohms). z0: reference
    impedances in ohms, shape (N,). kind: 'S', 'Y' or 'Z' (or 'ABCD'). comment: the file's
    header comment. mixed: True when the ports are differential/common-mode pairs.
    """

    def __init__(self, f, x, z0, kind="S", comment="", mixed=False):
        self.f = f
        self.x = x
        self.z0 = z0
        self.kind = kind
        self.comment = comment
        self.mixed = mixed

    @property
    def ports(self):
        return self.x.shape[1]

    def __repr__(self):
        return f"<cfit.Data {self.kind} {self.ports}-port, {len(self.f)} points>"

    @classmethod
    def from_arrays(cls, f, x, z0=50.0, kind="S", comment=""):
        """Data from numpy arrays: f (F,) in Hz, x (F, N, N) complex, z0 scalar or (N,)
        ohms, kind 'S', 'Y' or 'Z'. Shapes and types are checked here (ValueError,
        TypeError); the library checks the values when the data are used."""
        if kind not in CODES:
            raise ValueError(f"kind must be 'S', 'Y' or 'Z', not {kind!r}")
        f = _real_vector(f, "f")
        if f.ndim != 1:
            raise ValueError(f"f must be 1-D, got shape {f.shape}")
        x = np.asarray(x)
        if x.dtype.kind not in "fiuc":
            raise TypeError(f"x must hold numbers, not {x.dtype}")
        x = np.ascontiguousarray(x, dtype=complex)
        if x.ndim != 3 or x.shape[1] != x.shape[2] or x.shape[0] != f.shape[0] or x.shape[1] < 1:
            raise ValueError(f"x must have shape (F, N, N) with F = {f.shape[0]}, got {x.shape}")
        z0 = _per_port(z0, x.shape[1], "z0")
        return cls(f.copy(), x.copy(), z0.copy(), kind, comment)

    @classmethod
    def from_network(cls, network):
        """Data from a scikit-rf Network (S parameters, its z0 per port; a z0 that varies
        with frequency or is complex is refused with ValueError)."""
        z0 = np.asarray(network.z0)
        if np.iscomplexobj(z0):
            if np.any(z0.imag != 0):
                raise ValueError("complex reference impedances are not supported")
            z0 = z0.real
        if z0.ndim == 2:
            if not np.all(z0 == z0[0]):
                raise ValueError("reference impedances that vary with frequency are not supported")
            z0 = z0[0]
        return cls.from_arrays(network.f, network.s, z0, "S", getattr(network, "comments", "") or "")

    def to_network(self, name=None):
        """A scikit-rf Network of these S data (scikit-rf must be importable)."""
        import skrf

        if self.kind != "S":
            raise ValueError("only S data make a scikit-rf Network; convert('S') first")
        net = skrf.Network(frequency=skrf.Frequency.from_f(self.f, unit="hz"), s=self.x.copy(),
                           z0=self.z0.copy(), name=name)
        return net

    # -- the library's operations on a copy -------------------------------------------

    def _fitter(self, params=None):
        fitter = _cfit.Fitter(params)
        fitter.LoadArrays(self.f, self.x, CODES.get(self.kind, 0), self.z0)
        if self.mixed:
            fitter.SetMixedModeFlag()
        return fitter

    @staticmethod
    def _of(fitter, comment=""):
        f, x = fitter.ExportArrays()
        return Data(f, x, np.array(fitter.GetReferenceImpedances()),
                    KINDS.get(fitter.GetDataType(), "?"), comment, fitter.IsMixedMode())

    def _apply(self, operation, *args):
        fitter = self._fitter()
        getattr(fitter, operation)(*args)
        return Data._of(fitter, self.comment)

    def convert(self, kind):
        """The same network as 'S', 'Y' or 'Z' parameters (Y = Z^-1; S = (Z - Z0)(Z + Z0)^-1
        for the reference impedances Z0)."""
        if kind not in CODES:
            raise ValueError(f"kind must be 'S', 'Y' or 'Z', not {kind!r}")
        return self._apply("ConvertDataType", CODES[kind])

    def to_mixed_mode(self, a=1, b=2, c=3, d=4):
        """Mixed-mode S of a 4-port: pairs (a, b) and (c, d) (1-based ports) become the
        differential and common modes of two ports."""
        return self._apply("ConvertToMixedMode", a, b, c, d)

    def to_standard_mode(self, a=1, b=2, c=3, d=4):
        """Single-ended S from mixed-mode data, the inverse of to_mixed_mode."""
        return self._apply("ConvertToStandardMode", a, b, c, d)

    def renormalize(self, z0):
        """S data referred to new reference impedances z0 (ohms, scalar or one per port)."""
        return self._apply("ChangeReferenceImpedances", _per_port(z0, self.ports, "z0"))

    def terminate(self, codes):
        """Ports terminated by their codes (one per port, the library's termination codes);
        the remaining ports keep their order."""
        return self._apply("TerminatePorts", list(codes))

    def combine(self, join, position):
        """Ports flagged in `join` (one 0/1 per port) connected in parallel into one port at
        `position`."""
        return self._apply("CombinePorts", list(join), position)

    def reorder(self, permutation):
        """Ports in a new order: new port k is old port permutation[k] (both 0-based)."""
        return self._apply("ReorderPorts", list(permutation))

    def cascade(self, other):
        """This 2-port followed by `other` (a Data or a Touchstone path)."""
        with _as_touchstone(other) as path:
            return self._apply("CascadeWithTouchstone", path)

    def join(self, other):
        """The modal 2-ports of this and `other` (Data or Touchstone path) joined into a
        4-port."""
        with _as_touchstone(other) as path:
            return self._apply("JoinModalTwoPorts", path)

    def voltage_transfer(self, source_resistance, load_conductance, port_order=0):
        """The voltage transfer V_out/V_source of a 2-port driven through
        `source_resistance` (ohms) and loaded by `load_conductance` (siemens)."""
        return self._apply("VoltageTransferFunction", source_resistance, load_conductance,
                           port_order)

    def check_passivity(self):
        """(passive, largest measure, its frequency in Hz, bands) of the data; see
        Model.check_passivity."""
        fitter = self._fitter()
        return _passivity(fitter, self.kind, model=False)

    def write_touchstone(self, path, format="ri"):
        """Writes the data as a Touchstone file; format 'ri', 'ma' or 'db'."""
        self._fitter().WriteTouchstone(os.fspath(path), FORMATS[format])


class _as_touchstone:
    """A Touchstone path for a Data (written to a temporary file) or a path."""

    def __init__(self, other):
        self.other = other
        self.folder = None

    def __enter__(self):
        if isinstance(self.other, Data):
            self.folder = tempfile.TemporaryDirectory(prefix="cfit-")
            path = os.path.join(self.folder.name, f"other.s{self.other.ports}p")
            self.other.write_touchstone(path)
            return path
        return os.fspath(self.other)

    def __exit__(self, *exc):
        if self.folder is not None:
            self.folder.cleanup()


def _measure_of_margin(margin, kind):
    # Margins are 1 - sqrt(measure) for S data and 1 - measure for Y or Z data.
    return (1.0 - margin) ** 2 if kind == "S" else 1.0 - margin


def _passivity(fitter, kind, model, threshold=1.0):
    check = fitter.CheckModelPassivity if model else fitter.CheckDataPassivity
    measure, frequency = check()
    (fitter.GetModelPassivityMargins if model else fitter.GetDataPassivityMargins)()
    first = fitter.GetFirstModelMargin if model else fitter.GetFirstDataMargin
    following = fitter.GetNextModelMargin if model else fitter.GetNextDataMargin
    bands, band = [], None
    item = first()
    while item is not None:
        f, m = item
        value = _measure_of_margin(m, kind)
        if value > threshold:
            if band is None:
                band = [f, f, value, f]
            band[1] = f
            if value > band[2]:
                band[2], band[3] = value, f
        elif band is not None:
            bands.append(tuple(band))
            band = None
        item = following()
    if band is not None:
        bands.append(tuple(band))
    return measure <= threshold, measure, frequency, bands


def read(path, **options):
    """Reads a Touchstone file (version 1 or 2.0) into a Data. Options are Params fields
    (for example max_frequency_points). A file the library refuses raises cfit.Error."""
    fitter = _cfit.Fitter(_params(**options))
    fitter.ReadAnyTouchstone(os.fspath(path))
    return Data._of(fitter, fitter.GetFileComment() or "")


def fit(data, common_poles=False, delays=True, passive=False, progress=None, single_pass=False,
        iterations=20, target_error=None, max_order=None, enforcement="perturbation", **options):
    """Fits a rational model to `data` (a Data, a Touchstone path or a scikit-rf Network).

    The poles are found by iterated relocation, as the cfit program finds them: relocated
    until they settle, the error stops improving or `iterations` relocations ran, keeping
    the best pole set met. target_error (relative RMS error, 0 to 1) adds and drops poles
    until it is met; max_order caps the order (real poles plus two per pair).
    single_pass=True gives the library's Fit (one relocation pass) instead. The returned
    model's fit_record says what ran.

    common_poles: one pole set for all elements; delays: extract a pure delay per element;
    passive: enforce passivity of the model after the fit, by `enforcement` as in
    Model.enforce_passivity; with the perturbation, S data whose fitted constant has a
    singular value above 1 are fitted again with it held passive, and a model whose
    enforcement would leave it more than twice the fit's error (plus 1e-4) from the data
    is fitted again (with its constant held passive within twice the free fit's error,
    then with its poles below twice the top frequency) and enforced again, the closest
    passive model kept, as the program does (fit_record['constant_held'],
    enforcement['refitted'] and enforcement['refit_held_constant'] say which fits were
    kept). progress: a callable given the progress (0 to 1) while the
    library fits. Other options are Params fields by name (pole_ratio_bound, max_columns,
    ...). Ctrl-C stops the fit and raises KeyboardInterrupt."""
    if not isinstance(data, (Data, str, os.PathLike)):
        if hasattr(data, "s") and hasattr(data, "f"):
            data = Data.from_network(data)
        else:
            raise TypeError("data must be a cfit.Data, a Touchstone path or a scikit-rf Network")
    if enforcement not in ENFORCEMENTS:
        raise ValueError(f"enforcement must be 'perturbation' or 'classic', not {enforcement!r}")
    params = _params(individual_poles=not common_poles, extract_delays=delays, **options)
    if single_pass:
        if target_error is not None or max_order is not None:
            raise ValueError("single_pass takes no target_error or max_order")
        steps = [("Fit", ())]
    else:
        # A model the perturbation makes passive is fitted with its constant held
        # passive where the free one violates, as the program does.
        hold = bool(passive) and enforcement == "perturbation"
        steps = [("FitIterated", (int(iterations), float(target_error or 0.0),
                                  int(max_order or 0), hold))]
    source = data if isinstance(data, Data) else os.fspath(data)
    model = Model._build(source, params, steps, progress)
    return model.enforce_passivity(method=enforcement, progress=progress) if passive else model


ENFORCEMENTS = ("perturbation", "classic")


def read_model(path, **options):
    """A Model from a pole file written by write_pls (or by the cfit program)."""
    return Model._build(("poles", os.fspath(path)), _params(**options), [], None)


class Model:
    """A fitted rational model (see the package docstring for its form).

    Obtained from cfit.fit or cfit.read_model. Transformations return new Models; the
    library's operations run on a fresh fitter rebuilt from the model's recipe (its source
    and the operations that made it), which gives the same numbers bit for bit."""

    def __init__(self, fitter, source, params, steps, fit_record=None, enforcement=None):
        self.fitter = fitter
        self._source = source
        self._params = params
        self._steps = list(steps)
        #: What the fit ran: {'single_pass': True} for the library's Fit; for the iterated
        #: fit the relocations' record: 'iterations' (all of them), 'settled' of
        #: 'quantities' (element or pole sets fitted), 'fewest_iterations',
        #: 'most_iterations', 'constant_held', 'poles_in_band'. None for a model read from a
        #: pole file.
        self.fit_record = fit_record
        #: The last passivity enforcement: {'method': 'perturbation', 'steps',
        #: 'relative_change', 'added_poles', 'refitted', 'refit_held_constant'} or
        #: {'method': 'classic'}; None when none ran. 'added_poles' counts the damped
        #: poles added to each pole list where the model violated beyond the data band
        #: (0: none); 'refitted': the fit was made again, as its first enforced model
        #: would stay far from the data (only after cfit.fit's own fit), with its
        #: constant held passive when 'refit_held_constant', else with its poles below
        #: twice the top frequency.
        self.enforcement = enforcement

    @classmethod
    def _build(cls, source, params, steps, progress=None):
        fitter = _cfit.Fitter(params)
        if isinstance(source, Data):
            fitter.LoadArrays(source.f, source.x, CODES.get(source.kind, 0), source.z0)
            if source.mixed:
                fitter.SetMixedModeFlag()
        elif isinstance(source, tuple):
            fitter.ReadPoles(source[1])
        else:
            fitter.ReadAnyTouchstone(source)
        fit_record = enforcement = None
        for name, args in steps:
            method = getattr(fitter, name)
            if name in ("Fit", "FitIterated", "EnforceModelPassivity", "FitSeriesElement"):
                result = method(*args, progress=progress)
            else:
                result = method(*args)
            if name == "Fit":
                fit_record = {"single_pass": True}
            elif name == "FitIterated":
                fit_record = dict(result, single_pass=False)
            elif name == "EnforceByPerturbation":
                enforcement = dict(result, method="perturbation")
            elif name == "EnforceModelPassivity":
                enforcement = {"method": "classic"}
        return cls(fitter, source, params, steps, fit_record, enforcement)

    def _with(self, name, *args, progress=None):
        return Model._build(self._source, self._params, self._steps + [(name, args)], progress)

    def __repr__(self):
        return f"<cfit.Model {self.kind} {self.ports}-port>"

    @property
    def ports(self):
        return self.fitter.GetPortCount()

    @property
    def kind(self):
        return KINDS.get(self.fitter.GetDataType(), "?")

    @property
    def z0(self):
        """Reference impedances in ohms, one per port."""
        return np.array(self.fitter.GetReferenceImpedances())

    def evaluate(self, f):
        """The model at frequencies f (Hz, scalar or 1-D): an F x N x N complex array."""
        f = _real_vector(f, "f")
        return self.fitter.EvaluateModel(np.atleast_1d(f))

    def poles(self, i, j):
        """Poles P of element (i, j) (0-based) as the library holds them (Hz): a real term
        has P = -q > 0 for the pole q of s = j f; a complex pair is held once with
        Re P > 0 > Im P. See the module docstring for the model's form."""
        return self.fitter.GetElementPolesResidues(i, j)[0]

    def residues(self, i, j):
        """Residues R of element (i, j) (0-based), paired with poles(i, j): R = r / P for a
        real term, R = 2 conj(r / -q) for a pair (the element's unit)."""
        return self.fitter.GetElementPolesResidues(i, j)[1]

    def _info(self, k):
        n = self.ports
        return np.array([[self.fitter.GetElementModelInfo(i, j)[k] for j in range(n)]
                         for i in range(n)])

    @property
    def constant(self):
        """N x N constants d_ij (the element's unit)."""
        return self._info(1)

    @property
    def proportional(self):
        """N x N proportional terms e_ij (the element's unit per Hz: the term is j f e)."""
        return self._info(2)

    @property
    def delay(self):
        """N x N delays tau_ij in seconds."""
        return self._info(3)

    def check_passivity(self, threshold=1.0):
        """(passive, largest measure, its frequency in Hz, bands) by the library's sampled
        sweep. The measure is the square of the largest singular value for S and 1 minus the
        smallest eigenvalue of the Hermitian part for Y or Z; passive means at most
        `threshold` everywhere. bands lists (from Hz, to Hz, peak measure, peak frequency
        Hz) where the measure exceeds it. certificate() gives the exact answer."""
        return _passivity(self.fitter, self.kind, model=True, threshold=threshold)

    def certificate(self):
        """The exact passivity certificate (a Certificate): the band edges are the purely
        imaginary eigenvalues of a Hamiltonian matrix of the model's realisation, so no
        violation between samples is missed. Its cost grows as the cube of
        Certificate.order (see the cfit program's documentation). cfit.Error when it
        cannot be computed."""
        passive, bands, order, ignored = self.fitter.CertifyModel()
        return Certificate(passive, [tuple(b) for b in bands], order, ignored)

    def enforce_passivity(self, threshold=1.0, method="perturbation", f=None, progress=None):
        """A new Model made passive.

        method='perturbation' (the default, as the cfit program): the residues move by the
        smallest change of the response at the frequencies f (Hz; default the data's)
        until the exact certificate finds no violation; poles and delays stay. A model
        whose certificate would take minutes (matrix order above
        LARGE_CERTIFICATE_ORDER: many individual poles on many ports) gets the classic
        method instead, as in the program; model.enforcement says which ran.
        method='classic': the library's peak-by-peak loops until its sampled measure is
        at most `threshold` (the perturbation method enforces the limit 1)."""
        if method not in ENFORCEMENTS:
            raise ValueError(f"method must be 'perturbation' or 'classic', not {method!r}")
        if method == "perturbation":
            if threshold != 1.0:
                raise ValueError("the perturbation method enforces the limit 1; "
                                 "threshold belongs to method='classic'")
            order = self.fitter.CertificateOrder()
            if order <= _cfit.LARGE_CERTIFICATE_ORDER:
                f = self.fitter.ExportArrays()[0] if f is None else _real_vector(f, "f")
                f = np.atleast_1d(f)
                if f.size == 0:
                    raise ValueError("the model holds no data: give the frequencies f")
                return self._with("EnforceByPerturbation", f, progress=progress)
            model = self._with("EnforceModelPassivity", 1.0, progress=progress)
            model.enforcement["reason"] = (f"the certificate would need a matrix of order "
                                           f"{order} (above {_cfit.LARGE_CERTIFICATE_ORDER})")
            return model
        return self._with("EnforceModelPassivity", threshold, progress=progress)

    def write_pls(self, path):
        """Writes the model as a pole file (read back by cfit.read_model)."""
        self.fitter.WritePoles(os.fspath(path))

    def write_netlist(self, path, form="equivalent", name=None):
        """Writes the model as a SPICE subcircuit; returns the paths written.

        form='equivalent' (default): an equivalent circuit of R, C, E, F, G, H, V and T
        elements that ngspice, Xyce and LTspice read as written (S, Y and Z models;
        terminals p_1 ... p_N, then ref), named `name` or after the file.
        form='laplace': the library's LAPLACE and DELAY sources (S models only; terminals
        x_1 ... x_N, then ref), named after the file. form='both': the equivalent circuit
        at `path` and the laplace form beside it as <stem>_laplace<suffix>."""
        if form not in NETLIST_FORMS:
            raise ValueError(f"form must be 'equivalent', 'laplace' or 'both', not {form!r}")
        if form != "equivalent" and self.kind != "S":
            raise ValueError(f"the laplace netlist needs an S model, not {self.kind}")
        if name is not None and form == "laplace":
            raise ValueError("name belongs to the equivalent form; the laplace form is named "
                             "after its file")
        path = os.fspath(path)
        written = []
        if form != "laplace":
            self.fitter.WriteEquivalentNetlist(path, name or "")
            written.append(path)
        if form != "equivalent":
            stem, suffix = os.path.splitext(path)
            laplace = path if form == "laplace" else stem + "_laplace" + suffix
            self.fitter.WriteSubcircuit(laplace)
            written.append(laplace)
        return written

    def state_space(self):
        """The model's real realisation as a StateSpace (A, B, C, D, E, tau): with
        s = j 2 pi f, H(s)[i, j] = (C (s I - A)^-1 B + D + s E)[i, j] exp(-s tau[i, j]).
        A is block diagonal (a 1 x 1 block per real pole, a 2 x 2 block per pair)."""
        a, b, c, d, e, tau = self.fitter.StateSpace()
        return StateSpace(a, b, c, d, e / (2 * np.pi), tau)

    def sweep(self, f):
        """The model evaluated by the library at frequencies f (Hz) as a Data."""
        f = _real_vector(f, "f")
        fitter = Model._build(self._source, self._params, self._steps).fitter
        fitter.SweepModelAtList(np.atleast_1d(f))
        return Data._of(fitter)

    def write_touchstone(self, path, f=None, format="ri"):
        """Writes the model swept at f (Hz; default the data's frequencies) as Touchstone."""
        if f is None:
            if not isinstance(self._source, Data):
                raise ValueError("give the frequencies f: the model was not fitted to a Data")
            f = self._source.f
        self.sweep(f).write_touchstone(path, format)

    def time_response(self, i, j, kind="step", t=None, **waveform):
        """Time response of element (i, j) (0-based) to a waveform: kind 'impulse', 'step',
        'bit' or 'trapezoid'; t times in seconds (default the waveform's grid). waveform
        holds TimeResponseParameters fields (amplitude, width, rise_time, fall_time,
        time_step, start_time, end_time; seconds). Returns (t, values)."""
        params = _cfit.TimeResponseParameters()
        params.kind = WAVEFORMS[kind]
        for name, value in waveform.items():
            if not hasattr(params, name):
                raise TypeError(f"unknown waveform field {name!r}")
            setattr(params, name, value)
        if t is None:
            count = int(round((params.end_time - params.start_time) / params.time_step)) + 1
            t = params.start_time + params.time_step * np.arange(count)
        t = np.atleast_1d(_real_vector(t, "t"))
        values = np.array([self.fitter.GetTimeResponse(params, float(tk), i, j)[0] for tk in t])
        return t, values

    def to_network(self, f, name=None):
        """A scikit-rf Network of the model's S parameters at f (Hz)."""
        if self.kind != "S":
            raise ValueError("only S models make a scikit-rf Network")
        f = np.atleast_1d(_real_vector(f, "f"))
        return Data(f, self.evaluate(f), self.z0, "S").to_network(name)

    # Transformations the library applies to data and model together.
    def convert(self, kind):
        """The model as 'S', 'Y' or 'Z' parameters."""
        return self._with("ConvertDataType", CODES[kind])

    def to_mixed_mode(self, a=1, b=2, c=3, d=4):
        return self._with("ConvertToMixedMode", a, b, c, d)

    def to_standard_mode(self, a=1, b=2, c=3, d=4):
        return self._with("ConvertToStandardMode", a, b, c, d)

    def renormalize(self, z0):
        return self._with("ChangeReferenceImpedances", _per_port(z0, self.ports, "z0"))

    def terminate(self, codes):
        return self._with("TerminatePorts", list(codes))

    def combine(self, join, position):
        return self._with("CombinePorts", list(join), position)

    def reorder(self, permutation):
        return self._with("ReorderPorts", list(permutation))

    def join(self, pole_file):
        """The modal 2-port models of this and a pole file joined into a 4-port."""
        return self._with("JoinModalTwoPortModels", os.fspath(pole_file))
