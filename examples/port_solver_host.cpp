// A tiny transient simulator that uses a fitted S model as a multiport
// through the library's port solver; it is written against the public
// header only, as a reference for hosts that embed the solver.
//
// The circuit: every port k of the model is terminated by a resistor equal
// to its reference impedance Z0(k); port 1 is driven by a trapezoidal
// voltage source through its resistor. The solver relates, per port, the
// current I into the port to u = V + Z0 I (twice the incident wave times
// sqrt(Z0)): I(i) = sum over j of G(i, j) u(j) - H(i). A port with source
// Vs behind a resistor R has V = Vs - R I, so u = Vs + (Z0 - R) I, and the
// host solves (1 - G diag(Z0 - R)) I = G Vs - H at each time point (with
// R = Z0, as here, simply I = G Vs - H).
//
// Usage: port_solver_host MODEL.pls OUT.txt fixed|variable STEP END
//            [RISE WIDTH FALL AMPLITUDE]
// Writes one line per time point: t, then V(1) ... V(N). The variable run
// takes steps of 0.4 and 0.6 STEP (so every STEP is a point) and once tries
// a step too far, rejects it and retries, as a simulator does when its
// error control rejects a point.
#include <cfit/cfit.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Source {
  double rise, width, fall, amplitude;
  // 0 before 0, rising over `rise`, flat until `width`, falling over `fall`.
  double At(double t) const {
    if (t <= 0) return 0;
    if (t < rise) return amplitude * t / rise;
    if (t < width) return amplitude;
    if (t < width + fall) return amplitude * (width + fall - t) / fall;
    return 0;
  }
};

// Solves a x = b in place by Gaussian elimination with partial pivoting.
bool Solve(std::vector<std::vector<double>> a, std::vector<double>& b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < n; ++r) {
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    }
    if (a[p][c] == 0) return false;
    std::swap(a[p], a[c]);
    std::swap(b[p], b[c]);
    for (std::size_t r = c + 1; r < n; ++r) {
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  for (std::size_t c = n; c-- > 0;) {
    for (std::size_t k = c + 1; k < n; ++k) b[c] -= a[c][k] * b[k];
    b[c] /= a[c][c];
  }
  return true;
}

struct Circuit {
  int n;
  std::vector<double> z0, r;  // reference impedances and terminations
  Source source;
  std::vector<double> u, vs, current, h;
  std::vector<std::vector<double>> g;
  std::vector<double*> rows;

  explicit Circuit(int ports, const double* impedances, Source s)
      : n(ports),
        z0(impedances, impedances + ports),
        r(z0),
        source(s),
        u(ports),
        vs(ports),
        current(ports),
        h(ports),
        g(ports, std::vector<double>(ports)),
        rows(ports) {
    for (int i = 0; i < n; ++i) rows[i] = g[i].data();
  }
  void Sources(double t) {
    for (int k = 0; k < n; ++k) vs[k] = k == 0 ? source.At(t) : 0.0;
  }
  // The port currents at the present point from the solver's G and H, and
  // the inputs u the solver takes for them.
  bool Currents() {
    std::vector<std::vector<double>> a(n, std::vector<double>(n));
    for (int i = 0; i < n; ++i) {
      current[i] = -h[i];
      for (int j = 0; j < n; ++j) {
        a[i][j] = (i == j ? 1.0 : 0.0) - g[i][j] * (z0[j] - r[j]);
        current[i] += g[i][j] * vs[j];
      }
    }
    if (!Solve(a, current)) return false;
    for (int k = 0; k < n; ++k) u[k] = vs[k] + (z0[k] - r[k]) * current[k];
    return true;
  }
  void Write(std::FILE* out, double t) const {
    std::fprintf(out, "%.12e", t);
    for (int k = 0; k < n; ++k) std::fprintf(out, " %.12e", vs[k] - r[k] * current[k]);
    std::fprintf(out, "\n");
  }
};

int Fail(const char* what) {
  std::fprintf(stderr, "port_solver_host: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 10) {
    return Fail(
        "usage: port_solver_host MODEL.pls OUT.txt fixed|variable STEP END "
        "[RISE WIDTH FALL AMPLITUDE]");
  }
  const std::string mode = argv[3];
  const double dt = std::atof(argv[4]), end = std::atof(argv[5]);
  Source source{20e-12, 200e-12, 30e-12, 1.0};
  if (argc == 10) {
    source = {std::atof(argv[6]), std::atof(argv[7]), std::atof(argv[8]), std::atof(argv[9])};
  }
  if (!(dt > 0) || !(end > dt) || (mode != "fixed" && mode != "variable")) {
    return Fail("needs fixed or variable, a STEP above 0 and an END beyond it");
  }

  std::unique_ptr<cFitAPI> fitter(cFitAPI::Create(nullptr));
  const int n = fitter->ReadPoles(argv[1]);
  if (n == 0) return Fail(fitter->GetErrorMessage() ? fitter->GetErrorMessage() : "no model");
  std::unique_ptr<cCPSolver> solver(fitter->CreateSolver(fitter->GetDataType()));
  if (solver == nullptr || solver->BuildElements(1, 2, 3, 4) == 0) {
    return Fail("the model cannot be stepped (every element needs a pole)");
  }
  Circuit c(n, fitter->GetReferenceImpedances(), source);
  std::FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) return Fail("cannot write the output");

  // Before time 0 every source is 0: the circuit rests.
  c.Sources(0.0);
  bool ok = true;
  if (mode == "fixed") {
    // G is fixed; each step gives the history for the next time point.
    ok = solver->StartFixedStep(c.u.data(), dt, c.rows.data(), c.h.data()) == 1;
    c.Write(out, 0.0);
    for (long k = 1; ok && k * dt <= end * (1 + 1e-12); ++k) {
      c.Sources(k * dt);
      ok = c.Currents() && solver->Step(c.u.data(), c.h.data()) == 1;
      c.Write(out, k * dt);
    }
  } else {
    ok = solver->Start(c.u.data(), 0.0) == 1;
    c.Write(out, 0.0);
    double t = 0;
    bool retried = false;
    for (long k = 1; ok && t < end * (1 - 1e-12); ++k) {
      const double target = static_cast<double>(k / 2) * dt + (k % 2 == 1 ? 0.4 * dt : 0.0);
      if (!retried && target > end / 2) {
        // A point too far, evaluated and rejected: the next Advance goes back.
        c.Sources(target + 0.3 * dt);
        ok = solver->Advance(target + 0.3 * dt, c.u.data(), c.rows.data(), c.h.data()) == 1 &&
             c.Currents();
        retried = true;
      }
      // The companion equations at a time point: Advance gives G and H, the
      // currents follow, and a second Advance at the same time hands the
      // solver the inputs it is to keep for that point.
      c.Sources(target);
      ok = ok && solver->Advance(target, c.u.data(), c.rows.data(), c.h.data()) == 1 &&
           c.Currents() && solver->Advance(target, c.u.data(), c.rows.data(), c.h.data()) == 1;
      t = target;
      if (k % 2 == 0) c.Write(out, t);
    }
  }
  solver->FreeElements();
  if (std::fclose(out) != 0 || !ok) return Fail("the run failed");
  return 0;
}
