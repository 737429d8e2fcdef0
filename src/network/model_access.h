// Reading the elements of a model, caller-defined models, and two model
// rewrites, as functions of the model alone.
//
// Element indices are 0-based. With the model's symmetric flag set, the pole
// list of (i, j), i < j, is kept at (j, i); constants, proportional terms and
// delays at both places. Complex arrays of the caller hold (re, im) pairs.
#ifndef CFIT_NETWORK_MODEL_ACCESS_H
#define CFIT_NETWORK_MODEL_ACCESS_H

#include <vector>

#include "api/fitter_state.h"
#include "core/result.h"
#include "fit/model.h"

namespace cfit {

// 0 <= i, j < N of the model.
bool InModel(const Model& model, int i, int j);

// Pole count, constant, proportional term and delay of element (i, j), which
// must lie in the model (0 for a table the model lacks). The count is the
// element's (per-element poles) or the common list's.
struct ElementModelInfo {
  int poleCount = 0;
  double constant = 0.0;
  double proportional = 0.0;
  double delay = 0.0;
};
ElementModelInfo ElementInfo(const Model& model, int i, int j);

// The poles and residues of element (i, j) in list order (with common
// poles: each common pole and its (i, j) residue); empty outside the model.
struct ElementTerm {
  Complex pole;
  Complex residue;
};
std::vector<ElementTerm> ElementTerms(const Model& model, int i, int j);

// Prepares an empty model of `portCount` ports: data type `dataType` (not
// checked), the reference impedances (50 ohms each when null), the symmetric
// flag, a fresh element table, no sampled data, and zero tables with no
// poles. Fails with 46 for a port count other than the one held (when one is
// held), then with 45 for a port count outside 1..kMaxDefinedPorts; the
// impedance array is read only after both checks.
Status DefineModel(FitterState& state, int portCount, int dataType,
                   const double* referenceImpedances, bool symmetric);

// Largest port count DefineModel accepts.
inline constexpr int kMaxDefinedPorts = kMaxPortCount;

// What SetElementModel did.
enum class ElementStore {
  kRefused,      // nothing changed
  kScalarsOnly,  // the model switched to per-element poles and took the scalars
  kStored,       // ... and the element's list
};

// Stores element (i, j) of a caller-defined model: switches the model to
// per-element poles, stores the constant, proportional term and delay (and at
// (j, i) when symmetric), then builds the list of poleCount terms from the
// arrays and stores it (at (j, i) when symmetric and i < j). Refused,
// changing nothing, for an index outside the model, a model without
// per-element tables, or a term that is not a finite number; only the scalars
// when an array is null. An element's pole count is always the length of its
// list, so a null array leaves the count of the list already there.
ElementStore SetElementModel(Model& model, int i, int j, int poleCount, double constant,
                             double proportional, double delay, const double* poles,
                             const double* residues);

// Turns a 1-port pulse model (data type 5) into an S model: every residue r
// of element (0, 0) (or of the common list) becomes scale * r, and with a
// pulse width T > 0 scale * r * q / (1 - exp(-q T)), q = 2 pi p for the
// stored pole p. A delay > 0 becomes the element's delay. Returns the number
// of terms; fails with 8 for anything but a 1-port pulse model with its
// tables, 45 for an argument that is not a finite number.
Result<int> ConvertPulseModelToS(Model& model, double pulseWidth, double scale, double delay);

// Multiplies a 1-port per-element model without a proportional term by
// k s, k = 2 pi factor: the proportional term becomes k d, each residue r of
// stored pole p becomes -k p r, and the constant becomes c = sum Re(k p r) -
// or, with a closing pole, c goes into a new first-order term at that pole
// and the constant becomes 0. Returns 1, or 0 (no change) when the model
// does not qualify or an argument is not a finite number.
int MultiplyModelByFrequency(Model& model, double closingPole, double factor);

}  // namespace cfit

#endif  // CFIT_NETWORK_MODEL_ACCESS_H
