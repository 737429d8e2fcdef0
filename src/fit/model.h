// The fitted rational model of an N-port.
//
// Stored pole convention (every reader of the model relies on it): a real
// term holds P = -q (positive for a stable pole) and R = r / P; a complex
// pair is held once as P = (-Re q, Im q), so Re P > 0 and Im P < 0, with
// R = 2 conj(r / -q). With s = j f (f in hertz) element (i, j) is
//
//   H(f) = [d + j f e + sum_real R / (1 + j f / P)
//           + sum_pairs 1/2 (R / (1 + j f / P) + conj(R) / (1 + j f / conj(P)))]
//          * exp(-j 2 pi f tau).
//
// With a symmetric matrix only the pole lists of elements with row >= column
// are filled; (i, j) with i < j reads (j, i). Constants, proportional terms
// and delays are held at both places.
#ifndef CFIT_FIT_MODEL_H
#define CFIT_FIT_MODEL_H

#include <cstddef>
#include <optional>
#include <vector>

#include "numeric/object_id.h"
#include "numeric/pole_term.h"

namespace cfit {

// How the model's poles are held: per element, or one list common to all
// elements.
enum class PoleShape { kIndividual, kCommon };

// A rational model of an N-port, with what gives its values a meaning: the
// data type and the reference impedances they are in, and whether the
// matrix is symmetric. A fitter keeps these equal to its network's while it
// holds the model (the facade does that in one place); a model made outside
// a fitter carries them alone.
struct Model {
  int n = 0;
  int dataType = 0;  // DataType code (S, Y, Z, pulse)
  // Per-port reference impedances in ohms; absent when none are known.
  std::optional<std::vector<double>> impedances;
  bool symmetric = false;
  // Set where the model is made (a fit, a pole-file read, DefineModel, a
  // conversion); readers of the pole lists go by it, not by the setting that
  // chooses the next fit.
  PoleShape shape = PoleShape::kIndividual;

  // Common-pole fits: one list whose terms carry N x N residues.
  PoleList commonPoles;
  // Individual fits: N x N pole lists with 1 x 1 residues (empty table when
  // the model has none).
  std::vector<PoleList> elementPoles;

  // N x N tables; an empty vector is a table that does not exist.
  std::vector<double> constant;      // d
  std::vector<double> proportional;  // e
  std::vector<double> delay;         // tau, seconds
  std::vector<double> rmsError;      // accuracy against the data
  std::vector<double> maxError;

  // Identity for caches of values derived from the model; code that changes
  // the model in place calls id.Renew().
  ObjectId id;

  bool individual() const { return shape == PoleShape::kIndividual; }

  // An n-port model with per-element lists and every table present, all
  // zero and without poles.
  static Model Empty(int ports) {
    Model m;
    const std::size_t nn = static_cast<std::size_t>(ports) * static_cast<std::size_t>(ports);
    m.n = ports;
    m.elementPoles.assign(nn, PoleList{});
    m.constant.assign(nn, 0.0);
    m.proportional.assign(nn, 0.0);
    m.delay.assign(nn, 0.0);
    m.rmsError.assign(nn, 0.0);
    m.maxError.assign(nn, 0.0);
    return m;
  }

  std::size_t Index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(n) + static_cast<std::size_t>(j);
  }
  int PoleCount(int i, int j) const {
    return elementPoles.empty() ? 0 : static_cast<int>(elementPoles[Index(i, j)].size());
  }
};

}  // namespace cfit

#endif  // CFIT_FIT_MODEL_H
