// The compiled part of the Python package `cfit`: the fitter with every host
// operation under its own name, for users who need exactly the library's
// behaviour. Failures of the library raise cfit.Error with the library's
// message and error code; long operations run with the GIL released on a
// worker thread while the calling thread feeds a progress callback and
// watches for Ctrl-C, which sets the fitter's cancel byte.
#include <pybind11/complex.h>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <complex>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/cfit_impl.h"
#include "api/errors.h"
#include "api/file_operations.h"
#include "api/iterated_fit_operation.h"
#include "api/passivity_operations.h"
#include "cfit/cfit.h"
#include "fit/state_space.h"
#include "io/equivalent_circuit_writer.h"
#include "passivity/passivity_certificate.h"

namespace py = pybind11;

namespace {

using ComplexArray = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;
using RealArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IntArray = py::array_t<int, py::array::c_style | py::array::forcecast>;

// Set by the module: the Python class cfit.Error.
py::object& ErrorClass() {
  static py::object* error = new py::object();
  return *error;
}

// The library's error code of a recorded message: the number whose fixed
// text ends the message (file conditions put the file name in front); the
// longest such text wins.
int CodeOfMessage(const std::string& message) {
  int best = 0;
  std::size_t bestLength = 0;
  for (int code = 1; code < 10000; ++code) {
    const char* text = cfit::FitErrorText(code);
    if (text == nullptr) continue;
    const std::size_t n = std::strlen(text);
    if (n > bestLength && message.size() >= n &&
        message.compare(message.size() - n, n, text) == 0) {
      best = code;
      bestLength = n;
    }
  }
  return best;
}

// Raises cfit.Error with `text` and the library's error `code` (0 for none).
[[noreturn]] void RaiseError(const std::string& text, int code) {
  PyErr_SetObject(ErrorClass().ptr(), py::make_tuple(text, code).ptr());
  throw py::error_already_set();
}

// The text and code of an engine failure; `what` names the operation when
// the failure recorded no code.
[[noreturn]] void RaiseFailure(const cfit::Failure& failure, const std::string& what) {
  if (!failure.code) RaiseError(what + " failed", 0);
  const int code = static_cast<int>(*failure.code);
  const char* text = cfit::FitErrorText(code);
  RaiseError(text != nullptr ? std::string(text) : what + " failed", code);
}

class Solver;

// One fitter of the library with the cancel byte and output comment it
// hands out.
class Fitter {
 public:
  explicit Fitter(const cFitParams& params) : params_(params) {
    cFitParams copy = params;
    fitter_.reset(cFitAPI::Create(&copy));
    if (!fitter_) throw std::bad_alloc();
    fitter_->SetCancelFlag(&cancel_);
  }

  cFitAPI& api() { return *fitter_; }
  const cFitParams& params() const { return params_; }

  // The engine's state of the fitter (always the library's own class here).
  cfit::FitterState& state() { return static_cast<cfit::cCfit&>(*fitter_).state(); }

  // The settings of the last iterated fit made for an enforcement next
  // (the constant held passive), which that enforcement may fit again with.
  std::optional<cfit::IterationSettings> passiveFit;

  // The fitted model, or cfit.Error when there is none.
  const cfit::Model& model() {
    if (state().model == nullptr) RaiseError("the fitter holds no model", 0);
    return *state().model;
  }

  std::optional<std::string> Message() {
    const char* text = fitter_->GetErrorMessage();
    if (text == nullptr) return std::nullopt;
    return std::string(text);
  }

  // Raises cfit.Error for a failed operation named `what`.
  [[noreturn]] void Raise(const char* what) {
    const std::optional<std::string> message = Message();
    const std::string text = message ? *message : std::string(what) + " failed";
    RaiseError(text, message ? CodeOfMessage(*message) : 0);
  }

  template <class R>
  R Check(R result, const char* what) {
    if (!result) Raise(what);
    return result;
  }

  // Runs `body` on a worker thread with the GIL released. The calling thread
  // polls: it hands the progress to `progress` (when callable) and checks
  // for signals; an exception there (KeyboardInterrupt, or one raised by the
  // callback) sets the cancel byte, waits for the library to stop and is
  // raised.
  template <class F>
  auto Long(F&& body, const py::object& progress = py::none()) {
    using R = decltype(body());
    std::optional<py::error_already_set> interrupted;
    R result{};
    {
      py::gil_scoped_release release;
      std::packaged_task<R()> task(std::forward<F>(body));
      std::future<R> done = task.get_future();
      std::thread worker(std::move(task));
      while (done.wait_for(std::chrono::milliseconds(40)) != std::future_status::ready) {
        if (interrupted) continue;
        py::gil_scoped_acquire acquire;
        try {
          if (!progress.is_none()) progress(*fitter_->GetProgress());
          if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (py::error_already_set& e) {
          interrupted.emplace(std::move(e));
          cancel_ = 1;
        }
      }
      worker.join();
      result = done.get();
    }
    if (interrupted) {
      cancel_ = 0;
      throw std::move(*interrupted);
    }
    if (!progress.is_none()) progress(*fitter_->GetProgress());
    return result;
  }

  char cancel_ = 0;

 private:
  cFitParams params_;
  std::unique_ptr<cFitAPI> fitter_;
  std::string outputComment_;

 public:
  const char* KeepComment(std::optional<std::string> text) {
    if (!text) return fitter_->SetOutputComment(nullptr);
    outputComment_ = *text;
    return fitter_->SetOutputComment(outputComment_.c_str());
  }
};

// The port solver made from a fitter's S model; it keeps its fitter alive.
class Solver {
 public:
  Solver(cCPSolver* solver, int n) : solver_(solver), n_(n) {}
  cCPSolver& api() { return *solver_; }
  int n() const { return n_; }

 private:
  std::unique_ptr<cCPSolver> solver_;
  int n_;
};

// A square real matrix the library writes through row pointers.
struct RowMatrix {
  explicit RowMatrix(int n) : values(static_cast<std::size_t>(n) * n), rows(n) {
    for (int i = 0; i < n; ++i) rows[i] = values.data() + static_cast<std::size_t>(i) * n;
  }
  py::array_t<double> Array(int n) const {
    py::array_t<double> out({n, n});
    std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(double));
    return out;
  }
  std::vector<double> values;
  std::vector<double*> rows;
};

std::vector<double> Inputs(Solver& s, const RealArray& u) {
  if (u.ndim() != 1 || u.shape(0) != s.n()) {
    throw py::value_error("u must be a 1-D array of one value per port");
  }
  return std::vector<double>(u.data(), u.data() + u.shape(0));
}

py::array_t<std::complex<double>> HostRowsToArray(double** rows, int n) {
  py::array_t<std::complex<double>> out({n, n});
  auto* o = out.mutable_data();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) o[i * n + j] = {rows[i][2 * j], rows[i][2 * j + 1]};
  return out;
}

py::array_t<double> RealRowsToArray(double** rows, int n) {
  py::array_t<double> out({n, n});
  auto* o = out.mutable_data();
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) o[i * n + j] = rows[i][j];
  return out;
}

py::object DataPoint(DataPointRecord* record, int n) {
  if (record == nullptr) return py::none();
  return py::make_tuple(record->frequency, HostRowsToArray(record->values, n));
}

py::object Margin(int more, double f, double m) {
  if (more == 0) return py::none();
  return py::make_tuple(f, m);
}

int PortCount(Fitter& self) { return self.api().GetPortCount(); }

// A value array of exactly one entry per port.
std::vector<double> PerPort(Fitter& self, const RealArray& values, const char* name) {
  const int n = PortCount(self);
  if (values.ndim() != 1 || values.shape(0) != n) {
    throw py::value_error(std::string(name) + " must be a 1-D array of one value per port (" +
                          std::to_string(n) + ")");
  }
  return std::vector<double>(values.data(), values.data() + n);
}

std::vector<int> PerPortInts(Fitter& self, const std::vector<int>& values, const char* name) {
  if (static_cast<int>(values.size()) != PortCount(self)) {
    throw py::value_error(std::string(name) + " needs one entry per port (" +
                          std::to_string(PortCount(self)) + ")");
  }
  return values;
}

// Element values of the vectorised evaluation: F x N x N complex, one call
// of the library per element and frequency, with the GIL released.
py::array_t<std::complex<double>> EvaluateAll(Fitter& self, const RealArray& f) {
  if (f.ndim() != 1) throw py::value_error("f must be a 1-D array of frequencies in Hz");
  const int n = PortCount(self);
  const py::ssize_t count = f.shape(0);
  py::array_t<std::complex<double>> out(
      {count, static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(n)});
  auto* o = out.mutable_data();
  const double* fs = f.data();
  bool ok = true;
  {
    py::gil_scoped_release release;
    double value[2];
    for (py::ssize_t k = 0; k < count && ok; ++k) {
      for (int i = 0; i < n && ok; ++i) {
        for (int j = 0; j < n; ++j) {
          if (!self.api().EvaluateModelElement(i, j, fs[k], value)) {
            ok = false;
            break;
          }
          o[(k * n + i) * n + j] = {value[0], value[1]};
        }
      }
    }
  }
  if (!ok) self.Raise("EvaluateModelElement");
  return out;
}

// Loads F x N x N complex samples through BeginData / AddDataPoint /
// EndData, after checking shapes here so that nothing malformed reaches the
// library.
void LoadArrays(Fitter& self, const RealArray& f, const ComplexArray& x, int dataType,
                const RealArray& z0) {
  if (f.ndim() != 1) throw py::value_error("f must be a 1-D array of frequencies in Hz");
  if (x.ndim() != 3 || x.shape(1) != x.shape(2) || x.shape(0) != f.shape(0)) {
    throw py::value_error("x must be a complex array of shape (F, N, N) with F = len(f)");
  }
  const int n = static_cast<int>(x.shape(1));
  if (n < 1) throw py::value_error("x needs at least one port");
  if (z0.ndim() != 1 || z0.shape(0) != n) {
    throw py::value_error("z0 must hold one reference impedance per port");
  }
  std::vector<double> rows(static_cast<std::size_t>(2) * n * n);
  std::vector<double*> pointers(n);
  for (int i = 0; i < n; ++i) pointers[i] = rows.data() + static_cast<std::size_t>(2) * n * i;
  self.api().BeginData(n, dataType, z0.data());
  const std::complex<double>* values = x.data();
  for (py::ssize_t k = 0; k < f.shape(0); ++k) {
    for (int e = 0; e < n * n; ++e) {
      rows[2 * e] = values[k * n * n + e].real();
      rows[2 * e + 1] = values[k * n * n + e].imag();
    }
    DataPointRecord record{f.data()[k], pointers.data()};
    if (!self.api().AddDataPoint(&record)) self.Raise("AddDataPoint");
  }
  // EndData's result says whether the data are symmetric, not whether it failed.
  self.api().EndData();
}

// All points of the held data: (f, x).
py::tuple ExportArrays(Fitter& self) {
  const int n = PortCount(self);
  std::vector<double> fs;
  std::vector<std::complex<double>> xs;
  for (DataPointRecord* r = self.api().GetFirstDataPoint(); r != nullptr;
       r = self.api().GetNextDataPoint()) {
    fs.push_back(r->frequency);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) xs.emplace_back(r->values[i][2 * j], r->values[i][2 * j + 1]);
  }
  const auto count = static_cast<py::ssize_t>(fs.size());
  py::array_t<double> f(count);
  if (count > 0) std::memcpy(f.mutable_data(), fs.data(), fs.size() * sizeof(double));
  py::array_t<std::complex<double>> x(
      {count, static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(n)});
  if (!xs.empty()) std::memcpy(x.mutable_data(), xs.data(), xs.size() * sizeof(xs[0]));
  return py::make_tuple(f, x);
}

// The iterated fit (api/iterated_fit_operation.h) with the program's
// settings; returns what the relocations did.
py::dict FitIterated(Fitter& self, int iterations, double targetError, int maxOrder,
                     bool holdPassiveConstant, const py::object& progress) {
  if (iterations < 0) throw py::value_error("iterations must be at least 0");
  if (!(targetError >= 0.0 && targetError <= 1.0)) {
    throw py::value_error("target_error must be between 0 and 1");
  }
  if (maxOrder < 0) throw py::value_error("max_order must be at least 1");
  cfit::IterationSettings settings;
  settings.maxIterations = iterations;
  settings.targetError = targetError;
  settings.maxOrder = maxOrder;
  settings.holdPassiveConstant = holdPassiveConstant;
  self.passiveFit.reset();
  if (holdPassiveConstant) self.passiveFit = settings;
  cfit::IteratedFitRecord record;
  self.Check(self.Long([&] { return cfit::FitIterated(self.api(), settings, &record); }, progress),
             "FitIterated");
  py::dict out;
  out["quantities"] = record.quantities;
  out["settled"] = record.settled;
  out["iterations"] = record.totalIterations;
  out["fewest_iterations"] = record.fewestIterations;
  out["most_iterations"] = record.mostIterations;
  out["constant_held"] = record.constantHeld;
  out["poles_in_band"] = record.polesInBand;
  return out;
}

// The exact certificate: (passive, bands, Hamiltonian order, delays
// ignored), bands as (from Hz, to Hz, worst measure, its frequency Hz).
py::tuple Certify(Fitter& self) {
  self.model();
  const cfit::FitterCertificate c = self.Long([&] { return cfit::CertifyFitterModel(self.api()); });
  if (!c.known) RaiseError("no passivity certificate: " + c.failure, 0);
  py::list bands;
  for (const cfit::FitterCertificate::Band& b : c.bands) {
    bands.append(py::make_tuple(b.from, b.to, b.worst, b.worstAt));
  }
  return py::make_tuple(c.passive, bands, c.order, c.delaysIgnored);
}

py::dict EnforceByPerturbation(Fitter& self, const RealArray& frequencies) {
  if (frequencies.ndim() != 1) throw py::value_error("frequencies must be a 1-D array in Hz");
  self.model();
  const std::vector<double> f(frequencies.data(), frequencies.data() + frequencies.shape(0));
  const cfit::PerturbationOutcome outcome = self.Long([&] {
    return cfit::EnforceByPerturbation(self.api(), f,
                                       self.passiveFit ? &*self.passiveFit : nullptr);
  });
  if (!outcome.passive) {
    RaiseError("passivity enforcement by residue perturbation failed: " + outcome.failure, 0);
  }
  py::dict out;
  out["steps"] = outcome.steps;
  out["relative_change"] = outcome.relativeChange;
  out["added_poles"] = outcome.addedPoles;
  out["refitted"] = outcome.refitted;
  out["refit_held_constant"] = outcome.refitHeld;
  return out;
}

py::array_t<double> Matrix(const std::vector<double>& values, int rows, int columns) {
  py::array_t<double> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
  if (!values.empty())
    std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(double));
  return out;
}

// The real realisation (fit/state_space.h): (A, B, C, D, e, delays).
py::tuple StateSpace(Fitter& self) {
  cfit::FitterState& state = self.state();
  const cfit::Model& model = self.model();
  const auto system = cfit::Realize(model, state.network.elements.get());
  if (!system) RaiseFailure(system.failure(), "the state-space realisation");
  const int n = system->ports, k = system->states;
  return py::make_tuple(Matrix(system->a, k, k), Matrix(system->b, k, n), Matrix(system->c, n, k),
                        Matrix(system->d, n, n), Matrix(system->e, n, n),
                        Matrix(system->delay, n, n));
}

// The equivalent-circuit netlist (io/equivalent_circuit_writer.h).
void WriteEquivalentNetlist(Fitter& self, const std::string& path, const std::string& name) {
  cfit::FitterState& state = self.state();
  const cfit::Model& model = self.model();
  const cfit::Status written =
      cfit::WriteEquivalentCircuitFile(path, model, state.network.elements.get(), name);
  if (!written.ok()) RaiseFailure(written.failure(), "writing the netlist " + path);
}

}  // namespace

PYBIND11_MODULE(_cfit, m) {
  m.doc() = "Compiled core of cfit: the library's fitter under its own operation names.";

  py::class_<cFitParams>(m, "Params", "Construction record of a fitter (the library's cFitParams).")
      .def(py::init<>())
      .def_readwrite("max_frequency_points", &cFitParams::maxFrequencyPoints)
      .def_readwrite("max_columns", &cFitParams::maxColumns)
      .def_readwrite("individual_poles", &cFitParams::individualPoles)
      .def_readwrite("extract_delays", &cFitParams::extractDelays)
      .def_readwrite("passivity", &cFitParams::passivity)
      .def_readwrite("reduce_points", &cFitParams::reducePoints)
      .def_readwrite("pole_ratio_bound", &cFitParams::poleRatioBound)
      .def_readwrite("symmetry_tolerance", &cFitParams::symmetryTolerance)
      .def_readwrite("add_zero_hz_point", &cFitParams::addZeroHzPoint)
      .def_readwrite("prepare_s_data", &cFitParams::prepareSData)
      .def_readwrite("upper_band_frequency", &cFitParams::upperBandFrequency)
      .def_readwrite("lower_band_frequency", &cFitParams::lowerBandFrequency)
      .def_readwrite("caller_band", &cFitParams::callerBand)
      .def_readwrite("extended_fit", &cFitParams::extendedFit);

  py::class_<TimeResponseParameters>(m, "TimeResponseParameters",
                                     "Waveform request; times in seconds.")
      .def(py::init<>())
      .def_readwrite("kind", &TimeResponseParameters::kind)
      .def_readwrite("amplitude", &TimeResponseParameters::amplitude)
      .def_readwrite("width", &TimeResponseParameters::width)
      .def_readwrite("rise_time", &TimeResponseParameters::riseTime)
      .def_readwrite("fall_time", &TimeResponseParameters::fallTime)
      .def_readwrite("time_step", &TimeResponseParameters::timeStep)
      .def_readwrite("start_time", &TimeResponseParameters::startTime)
      .def_readwrite("end_time", &TimeResponseParameters::endTime);

  py::class_<Solver>(m, "Solver", "Recursive-convolution port solver of a fitted S model.")
      .def("FreeElements", [](Solver& s) { return s.api().FreeElements(); })
      .def("BuildElements", [](Solver& s, int p1, int p2, int p3,
                               int p4) { return s.api().BuildElements(p1, p2, p3, p4); })
      .def("GetDCMatrix",
           [](Solver& s) -> py::object {
             RowMatrix g(s.n());
             if (!s.api().GetDCMatrix(g.rows.data())) return py::none();
             return g.Array(s.n());
           })
      .def("Start", [](Solver& s, const RealArray& u,
                       double dt) { return s.api().Start(Inputs(s, u).data(), dt); })
      .def("Advance",
           [](Solver& s, double t, const RealArray& u) -> py::object {
             RowMatrix g(s.n());
             std::vector<double> h(s.n());
             if (!s.api().Advance(t, Inputs(s, u).data(), g.rows.data(), h.data())) {
               return py::none();
             }
             return py::make_tuple(g.Array(s.n()), py::array_t<double>(h.size(), h.data()));
           })
      .def("StartFixedStep",
           [](Solver& s, const RealArray& u, double dt) -> py::object {
             RowMatrix g(s.n());
             std::vector<double> h(s.n());
             if (!s.api().StartFixedStep(Inputs(s, u).data(), dt, g.rows.data(), h.data())) {
               return py::none();
             }
             return py::make_tuple(g.Array(s.n()), py::array_t<double>(h.size(), h.data()));
           })
      .def("Step",
           [](Solver& s, const RealArray& u) -> py::object {
             std::vector<double> h(s.n());
             if (!s.api().Step(Inputs(s, u).data(), h.data())) return py::none();
             return py::array_t<double>(h.size(), h.data());
           })
      .def("GetElementResponse", [](Solver& s, int i, int j, double frequency) -> py::object {
        double v[2];
        if (!s.api().GetElementResponse(i, j, frequency, v)) return py::none();
        return py::cast(std::complex<double>(v[0], v[1]));
      });

  using F = Fitter;
  py::class_<Fitter>(m, "Fitter", R"(The library's fitter; every host operation under its own name.

Operations that fail raise cfit.Error(message, code) with the library's recorded message
and error number. Indices are 0-based; frequencies in Hz; complex values as Python complex.)")
      .def(py::init([](std::optional<cFitParams> params) {
             return std::make_unique<Fitter>(params ? *params : cFitParams{});
           }),
           py::arg("params") = py::none())
      .def_property_readonly("params", &F::params)
      .def_property_readonly("progress", [](F& s) { return *s.api().GetProgress(); },
                             "Progress of the running or last long operation, 0 to 1.")
      .def("ReadTouchstone",
           [](F& s, const std::string& path, py::object progress) {
             return s.Check(s.Long([&] { return s.api().ReadTouchstone(path.c_str()); }, progress),
                            "ReadTouchstone");
           },
           py::arg("path"), py::arg("progress") = py::none())
      .def("ReadAnyTouchstone",
           [](F& s, const std::string& path) {
             return s.Check(
                 s.Long([&] { return cfit::ReadAnyTouchstone(s.api(), path.c_str()); }),
                 "ReadAnyTouchstone");
           },
           "Reads a Touchstone file of version 1 or 2.0; returns the port count.")
      .def("Fit",
           [](F& s, py::object progress) {
             return s.Check(s.Long([&] { return s.api().Fit(); }, progress), "Fit");
           },
           py::arg("progress") = py::none())
      .def("ReadPoles",
           [](F& s, const std::string& path) {
             return s.Check(s.Long([&] { return s.api().ReadPoles(path.c_str()); }), "ReadPoles");
           })
      .def("HasFit", [](F& s) { return s.api().HasFit(); })
      .def("HasSampledData", [](F& s) { return s.api().HasSampledData(); })
      .def("IsMixedMode", [](F& s) { return s.api().IsMixedMode(); })
      .def("SetMixedModeFlag",
           [](F& s) { return s.Check(s.api().SetMixedModeFlag(), "SetMixedModeFlag"); })
      .def("SetStandardModeFlag",
           [](F& s) { return s.Check(s.api().SetStandardModeFlag(), "SetStandardModeFlag"); })
      .def("IsSymmetric", [](F& s) { return s.api().IsSymmetric(); })
      .def("CheckSymmetry",
           [](F& s) {
             double relative = 0, absolute = 0;
             const bool symmetric = s.api().CheckSymmetry(&relative, &absolute);
             return py::make_tuple(symmetric, relative, absolute);
           },
           "Returns (symmetric, relative asymmetry, absolute asymmetry).")
      .def("Symmetrize", [](F& s) { return s.Check(s.api().Symmetrize(), "Symmetrize"); })
      .def("CheckDataPassivity",
           [](F& s) {
             double measure = 0, f = 0;
             s.Check(s.Long([&] { return s.api().CheckDataPassivity(&measure, &f); }),
                     "CheckDataPassivity");
             return py::make_tuple(measure, f);
           },
           "Returns (largest measure, its frequency in Hz); passive where the measure <= 1.")
      .def("EnforceDataPassivity",
           [](F& s, double threshold, py::object progress) {
             return s.Check(s.Long([&] { return s.api().EnforceDataPassivity(threshold); },
                                   progress),
                            "EnforceDataPassivity");
           },
           py::arg("threshold"), py::arg("progress") = py::none())
      .def("GetDataMutualConductanceDC",
           [](F& s, int i, int j) {
             double v = 0;
             s.Check(s.api().GetDataMutualConductanceDC(i, j, &v), "GetDataMutualConductanceDC");
             return v;
           })
      .def("GetDataMutualConductance",
           [](F& s, int i, int j, double f) {
             double re = 0, im = 0;
             s.Check(s.api().GetDataMutualConductance(i, j, f, &re, &im),
                     "GetDataMutualConductance");
             return std::complex<double>(re, im);
           })
      .def("GetLowestPointTransfer",
           [](F& s, int i, int j) {
             double v = 0;
             s.Check(s.api().GetLowestPointTransfer(i, j, &v), "GetLowestPointTransfer");
             return v;
           })
      .def("GetMaxElementMagnitude",
           [](F& s, int i, int j) {
             double v = 0, f = 0;
             s.Check(s.api().GetMaxElementMagnitude(i, j, &v, &f), "GetMaxElementMagnitude");
             return py::make_tuple(v, f);
           })
      .def("WriteDataTable",
           [](F& s, const std::string& path, int i, int j, bool header, bool negate,
              double offset) {
             return s.Check(s.api().WriteDataTable(path.c_str(), i, j, header, negate, offset),
                            "WriteDataTable");
           })
      .def("WriteTouchstone",
           [](F& s, const std::string& path, int format) {
             return s.Check(s.api().WriteTouchstone(path.c_str(), format), "WriteTouchstone");
           },
           py::arg("path"), py::arg("format") = 0)
      .def("CascadeWithTouchstone",
           [](F& s, const std::string& path) {
             return s.Check(s.api().CascadeWithTouchstone(path.c_str()), "CascadeWithTouchstone");
           })
      .def("VoltageTransferFunction",
           [](F& s, double rs, double gl, int order) {
             return s.Check(s.api().VoltageTransferFunction(rs, gl, order),
                            "VoltageTransferFunction");
           })
      .def("CheckModelPassivity",
           [](F& s) {
             double measure = 0, f = 0;
             s.Check(s.Long([&] { return s.api().CheckModelPassivity(&measure, &f); }),
                     "CheckModelPassivity");
             return py::make_tuple(measure, f);
           },
           "Returns (largest measure, its frequency in Hz); passive where the measure <= 1.")
      .def("EnforceModelPassivity",
           [](F& s, double threshold, py::object progress) {
             return s.Check(s.Long([&] { return s.api().EnforceModelPassivity(threshold); },
                                   progress),
                            "EnforceModelPassivity");
           },
           py::arg("threshold"), py::arg("progress") = py::none())
      .def("WritePoles",
           [](F& s, const std::string& path) {
             return s.Check(s.api().WritePoles(path.c_str()), "WritePoles");
           })
      .def("SweepModelAdaptive",
           [](F& s, double tolerance, double stop) {
             return s.Check(s.Long([&] { return s.api().SweepModelAdaptive(tolerance, stop); }),
                            "SweepModelAdaptive");
           })
      .def("SweepModelLinear",
           [](F& s, double step, double start, double stop) {
             return s.Check(s.Long([&] { return s.api().SweepModelLinear(step, start, stop); }),
                            "SweepModelLinear");
           })
      .def("SweepModelAtDataOf",
           [](F& s, F& other) {
             return s.Check(s.api().SweepModelAtDataOf(&other.api()), "SweepModelAtDataOf");
           })
      .def("SweepModelAtList",
           [](F& s, const RealArray& f) {
             if (f.ndim() != 1) throw py::value_error("frequencies must be a 1-D array in Hz");
             const int count = static_cast<int>(f.shape(0));
             return s.Check(s.Long([&] { return s.api().SweepModelAtList(count, f.data()); }),
                            "SweepModelAtList");
           })
      .def("WriteSubcircuit",
           [](F& s, const std::string& path) {
             return s.Check(s.api().WriteSubcircuit(path.c_str()), "WriteSubcircuit");
           })
      .def("GetModelMutualConductanceDC",
           [](F& s, int i, int j) {
             double v = 0;
             s.Check(s.api().GetModelMutualConductanceDC(i, j, &v), "GetModelMutualConductanceDC");
             return v;
           })
      .def("GetModelMutualConductance",
           [](F& s, int i, int j, double f) {
             double re = 0, im = 0;
             s.Check(s.api().GetModelMutualConductance(i, j, f, &re, &im),
                     "GetModelMutualConductance");
             return std::complex<double>(re, im);
           })
      .def("GetEnforcedAccuracy",
           [](F& s) {
             double** rms = nullptr;
             double** largest = nullptr;
             s.Check(s.api().GetEnforcedAccuracy(&rms, &largest), "GetEnforcedAccuracy");
             const int n = PortCount(s);
             return py::make_tuple(RealRowsToArray(rms, n), RealRowsToArray(largest, n));
           },
           "Returns (rms, largest): N x N real arrays of the model's deviation from the data.")
      .def("Init",
           [](F& s, cFitParams params) { return s.Check(s.api().Init(&params), "Init"); })
      .def("SetEnforcementMode",
           [](F& s, int mode) {
             return s.Check(s.api().SetEnforcementMode(mode), "SetEnforcementMode");
           })
      .def("GetFirstDataPoint",
           [](F& s) { return DataPoint(s.api().GetFirstDataPoint(), PortCount(s)); },
           "Returns (frequency in Hz, N x N complex array), or None past the last point.")
      .def("GetNextDataPoint",
           [](F& s) { return DataPoint(s.api().GetNextDataPoint(), PortCount(s)); })
      .def("BeginData",
           [](F& s, int n, int type, const RealArray& z0) {
             if (z0.ndim() != 1 || z0.shape(0) != n) {
               throw py::value_error("impedances must hold one value per port");
             }
             s.api().BeginData(n, type, z0.data());
           })
      .def("AddDataPoint",
           [](F& s, double f, const ComplexArray& x) {
             const int n = PortCount(s);
             if (x.ndim() != 2 || x.shape(0) != n || x.shape(1) != n) {
               throw py::value_error("the point must be an N x N complex array");
             }
             std::vector<double> rows(static_cast<std::size_t>(2) * n * n);
             std::vector<double*> pointers(n);
             for (int e = 0; e < n * n; ++e) {
               rows[2 * e] = x.data()[e].real();
               rows[2 * e + 1] = x.data()[e].imag();
             }
             for (int i = 0; i < n; ++i) pointers[i] = rows.data() + 2 * n * i;
             DataPointRecord record{f, pointers.data()};
             return s.Check(s.api().AddDataPoint(&record), "AddDataPoint");
           })
      .def("EndData", [](F& s) { return s.api().EndData(); },
           "Ends the points; returns whether the data are symmetric within tolerance.")
      .def("IsSeriesElement", [](F& s) { return s.api().IsSeriesElement(); })
      .def("IsShuntElement", [](F& s) { return s.api().IsShuntElement(); })
      .def("IdealizeShuntElement",
           [](F& s) { return s.Check(s.api().IdealizeShuntElement(), "IdealizeShuntElement"); })
      .def("ConvertDataType",
           [](F& s, int target) {
             return s.Check(s.api().ConvertDataType(target), "ConvertDataType");
           })
      .def("ExtractShuntElement",
           [](F& s, int type) {
             return s.Check(s.api().ExtractShuntElement(type), "ExtractShuntElement");
           })
      .def("ExtractSeriesElement",
           [](F& s, int type) {
             return s.Check(s.api().ExtractSeriesElement(type), "ExtractSeriesElement");
           })
      .def("MakeSeriesTwoPort",
           [](F& s) { return s.Check(s.api().MakeSeriesTwoPort(), "MakeSeriesTwoPort"); })
      .def("FitSeriesElement",
           [](F& s, py::object progress) {
             return s.Check(s.Long([&] { return s.api().FitSeriesElement(); }, progress),
                            "FitSeriesElement");
           },
           py::arg("progress") = py::none())
      .def("ConvertToStandardMode",
           [](F& s, int a, int b, int c, int d) {
             return s.Check(s.api().ConvertToStandardMode(a, b, c, d), "ConvertToStandardMode");
           })
      .def("ConvertToMixedMode",
           [](F& s, int a, int b, int c, int d) {
             return s.Check(s.api().ConvertToMixedMode(a, b, c, d), "ConvertToMixedMode");
           })
      .def("JoinModalTwoPorts",
           [](F& s, const std::string& path) {
             return s.Check(s.api().JoinModalTwoPorts(path.c_str()), "JoinModalTwoPorts");
           })
      .def("ChangeReferenceImpedances",
           [](F& s, const RealArray& z) {
             const std::vector<double> values = PerPort(s, z, "impedances");
             return s.Check(s.api().ChangeReferenceImpedances(values.data()),
                            "ChangeReferenceImpedances");
           })
      .def("SetReferenceImpedance",
           [](F& s, double z) {
             return s.Check(s.api().SetReferenceImpedance(z), "SetReferenceImpedance");
           })
      .def("TerminatePorts",
           [](F& s, const std::vector<int>& codes) {
             const std::vector<int> v = PerPortInts(s, codes, "codes");
             return s.Check(s.api().TerminatePorts(v.data()), "TerminatePorts");
           })
      .def("CombinePorts",
           [](F& s, const std::vector<int>& join, int position) {
             const std::vector<int> v = PerPortInts(s, join, "join");
             std::vector<unsigned char> bytes(v.begin(), v.end());
             return s.Check(s.api().CombinePorts(bytes.data(), position), "CombinePorts");
           })
      .def("ReorderPorts",
           [](F& s, const std::vector<int>& permutation) {
             const std::vector<int> v = PerPortInts(s, permutation, "permutation");
             return s.Check(s.api().ReorderPorts(v.data()), "ReorderPorts");
           })
      .def("GetDataType", [](F& s) { return s.api().GetDataType(); },
           "1 S, 2 Y, 3 Z, 4 ABCD, 5 pulse; 0 when none.")
      .def("GetPortCount", [](F& s) { return s.api().GetPortCount(); })
      .def("GetReferenceImpedances",
           [](F& s) -> py::object {
             const double* z = s.api().GetReferenceImpedances();
             const int n = PortCount(s);
             if (z == nullptr || n <= 0) return py::none();
             return py::array_t<double>(n, z);
           },
           "Reference impedances in ohms, one per port, or None.")
      .def("GetDataPassivityMargins",
           [](F& s) {
             return s.Check(s.Long([&] { return s.api().GetDataPassivityMargins(); }),
                            "GetDataPassivityMargins");
           })
      .def("GetFirstDataMargin",
           [](F& s) {
             double f = 0, m = 0;
             const int more = s.api().GetFirstDataMargin(&f, &m);
             return Margin(more, f, m);
           })
      .def("GetNextDataMargin",
           [](F& s) {
             double f = 0, m = 0;
             const int more = s.api().GetNextDataMargin(&f, &m);
             return Margin(more, f, m);
           })
      .def("JoinModalTwoPortModels",
           [](F& s, const std::string& path) {
             return s.Check(s.api().JoinModalTwoPortModels(path.c_str()),
                            "JoinModalTwoPortModels");
           })
      .def("EvaluateModelElement",
           [](F& s, int i, int j, double f) {
             double v[2] = {0, 0};
             s.Check(s.api().EvaluateModelElement(i, j, f, v), "EvaluateModelElement");
             return std::complex<double>(v[0], v[1]);
           })
      .def("EvaluateModel", &EvaluateAll, py::arg("f"),
           "Model values at the frequencies f (Hz): an F x N x N complex array.")
      .def("GetModelPassivityMargins",
           [](F& s) {
             return s.Check(s.Long([&] { return s.api().GetModelPassivityMargins(); }),
                            "GetModelPassivityMargins");
           })
      .def("GetFirstModelMargin",
           [](F& s) {
             double f = 0, m = 0;
             const int more = s.api().GetFirstModelMargin(&f, &m);
             return Margin(more, f, m);
           })
      .def("GetNextModelMargin",
           [](F& s) {
             double f = 0, m = 0;
             const int more = s.api().GetNextModelMargin(&f, &m);
             return Margin(more, f, m);
           })
      .def("GetElementModelInfo",
           [](F& s, int i, int j) {
             int count = 0;
             double constant = 0, proportional = 0, delay = 0;
             s.Check(s.api().GetElementModelInfo(i, j, &count, &constant, &proportional, &delay),
                     "GetElementModelInfo");
             return py::make_tuple(count, constant, proportional, delay);
           },
           "Returns (pole count, constant, proportional term in s, delay in seconds).")
      .def("GetElementPolesResidues",
           [](F& s, int i, int j) {
             int count = 0;
             double c = 0, p = 0, d = 0;
             s.Check(s.api().GetElementModelInfo(i, j, &count, &c, &p, &d), "GetElementModelInfo");
             std::vector<double> poles(2 * static_cast<std::size_t>(count) + 2);
             std::vector<double> residues(poles.size());
             const int k = s.api().GetElementPolesResidues(i, j, poles.data(), residues.data());
             py::array_t<std::complex<double>> ps(k), rs(k);
             for (int t = 0; t < k; ++t) {
               ps.mutable_data()[t] = {poles[2 * t], poles[2 * t + 1]};
               rs.mutable_data()[t] = {residues[2 * t], residues[2 * t + 1]};
             }
             return py::make_tuple(ps, rs);
           },
           "Returns (poles, residues) as complex arrays; poles in rad/s.")
      .def("DefineModel",
           [](F& s, int n, int type, const RealArray& z0, bool symmetric) {
             if (z0.ndim() != 1 || z0.shape(0) != n) {
               throw py::value_error("impedances must hold one value per port");
             }
             return s.Check(s.api().DefineModel(n, type, z0.data(), symmetric), "DefineModel");
           })
      .def("SetElementModel",
           [](F& s, int i, int j, double constant, double proportional, double delay,
              const ComplexArray& poles, const ComplexArray& residues) {
             if (poles.ndim() != 1 || residues.ndim() != 1 || poles.shape(0) != residues.shape(0)) {
               throw py::value_error("poles and residues must be 1-D arrays of equal length");
             }
             const int k = static_cast<int>(poles.shape(0));
             std::vector<double> p(2 * static_cast<std::size_t>(k)), r(p.size());
             for (int t = 0; t < k; ++t) {
               p[2 * t] = poles.data()[t].real();
               p[2 * t + 1] = poles.data()[t].imag();
               r[2 * t] = residues.data()[t].real();
               r[2 * t + 1] = residues.data()[t].imag();
             }
             return s.Check(s.api().SetElementModel(i, j, k, constant, proportional, delay,
                                                    p.data(), r.data()),
                            "SetElementModel");
           })
      .def("ConvertPulseModelToS",
           [](F& s, double width, double scale, double delay) {
             return s.Check(s.api().ConvertPulseModelToS(width, scale, delay),
                            "ConvertPulseModelToS");
           })
      .def("SetTimeStep", [](F& s, double seconds) { s.api().SetTimeStep(seconds); })
      .def("MultiplyModelByFrequency",
           [](F& s, double pole, double factor) {
             return s.Check(s.api().MultiplyModelByFrequency(pole, factor),
                            "MultiplyModelByFrequency");
           })
      .def("GetTimeResponse",
           [](F& s, const TimeResponseParameters& p, double t, int i, int j) {
             double value = 0, impulseTime = 0, impulseWeight = 0;
             s.Check(s.api().GetTimeResponse(p, t, &value, &impulseTime, &impulseWeight, i, j),
                     "GetTimeResponse");
             return py::make_tuple(value, impulseTime, impulseWeight);
           },
           "Returns (value, impulse time in s, impulse weight) at time t (s).")
      .def("WriteTimeResponse",
           [](F& s, const TimeResponseParameters& p, const std::string& path, int i, int j) {
             return s.Check(
                 s.Long([&] { return s.api().WriteTimeResponse(p, path.c_str(), i, j); }),
                 "WriteTimeResponse");
           })
      .def("GetProgress", [](F& s) { return *s.api().GetProgress(); })
      .def("SetCancelFlag", [](F& s, bool cancel) { s.cancel_ = cancel ? 1 : 0; },
           "Sets or clears the fitter's cancel byte; a running long operation stops.")
      .def("GetErrorMessage", &F::Message)
      .def("GetFileComment",
           [](F& s) -> std::optional<std::string> {
             const char* text = s.api().GetFileComment();
             if (text == nullptr) return std::nullopt;
             return std::string(text);
           })
      .def("SetOutputComment",
           [](F& s, std::optional<std::string> text) -> std::optional<std::string> {
             const char* previous = s.KeepComment(std::move(text));
             if (previous == nullptr) return std::nullopt;
             return std::string(previous);
           })
      .def("SetElementDcOption",
           [](F& s, int flag, int i, int j, double value) {
             return s.Check(s.api().SetElementDcOption(flag, i, j, value), "SetElementDcOption");
           })
      .def("SetElementAsymptote",
           [](F& s, int mode, int i, int j, double value) {
             return s.Check(s.api().SetElementAsymptote(mode, i, j, value),
                            "SetElementAsymptote");
           })
      .def("BuildRLCModel",
           [](F& s, double r, double l, double c, int type) {
             return s.Check(s.api().BuildRLCModel(r, l, c, type), "BuildRLCModel");
           })
      .def("FindReactanceZeroCrossing",
           [](F& s) {
             double v = 0;
             s.Check(s.api().FindReactanceZeroCrossing(&v), "FindReactanceZeroCrossing");
             return v;
           })
      .def("GetTouchstonePortCount",
           [](F& s, const std::string& path) {
             return s.Check(s.api().GetTouchstonePortCount(path.c_str()),
                            "GetTouchstonePortCount");
           })
      .def("GetPolesPortCount",
           [](F& s, const std::string& path) {
             return s.Check(s.api().GetPolesPortCount(path.c_str()), "GetPolesPortCount");
           })
      .def("CreateSolver",
           [](F& s, int expected) {
             cCPSolver* solver = s.api().CreateSolver(expected);
             if (solver == nullptr) s.Raise("CreateSolver");
             return std::make_unique<Solver>(solver, PortCount(s));
           },
           py::keep_alive<0, 1>())
      .def("LoadArrays", &LoadArrays, py::arg("f"), py::arg("x"), py::arg("data_type"),
           py::arg("z0"), "BeginData, AddDataPoint for each (f[k], x[k]) and EndData.")
      .def("ExportArrays", &ExportArrays, "All held points as (f, x).")
      .def("FitIterated", &FitIterated, py::arg("iterations") = 20, py::arg("target_error") = 0.0,
           py::arg("max_order") = 0, py::arg("hold_passive_constant") = false,
           py::arg("progress") = py::none(),
           "Fit with iterated pole relocation (as the cfit program fits); returns what the "
           "relocations did. target_error 0 and max_order 0 leave the order alone; "
           "hold_passive_constant fits S data again with a passive constant where the free "
           "one violates (as the program does before --passive).")
      .def("CertifyModel", &Certify,
           "The exact passivity certificate: (passive, bands, Hamiltonian order, delays "
           "ignored), bands as (from Hz, to Hz, worst measure, its frequency Hz).")
      .def("CertificateOrder",
           [](F& s) { return cfit::CertificateOrderOf(s.api()); },
           "The order of the Hamiltonian the certificate needs (0 without a model).")
      .def("EnforceByPerturbation", &EnforceByPerturbation, py::arg("frequencies"),
           "Makes the model passive by residue perturbation, weighing the change at the "
           "frequencies (Hz); returns {'steps', 'relative_change'}.")
      .def("StateSpace", &StateSpace,
           "The model's real realisation: (A, B, C, D, e, delays), e and delays N x N.")
      .def("WriteEquivalentNetlist", &WriteEquivalentNetlist, py::arg("path"),
           py::arg("name") = std::string(),
           "Writes the equivalent-circuit netlist; the subcircuit is `name`, or named after "
           "the file.");
  m.attr("LARGE_CERTIFICATE_ORDER") = cfit::kLargeCertificateOrder;

  m.def("_set_error_class", [](py::object cls) { ErrorClass() = std::move(cls); });
  m.def("error_text", [](int code) -> std::optional<std::string> {
    const char* text = cfit::FitErrorText(code);
    if (text == nullptr) return std::nullopt;
    return std::string(text);
  });
}
