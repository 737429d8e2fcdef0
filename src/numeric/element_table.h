// Per-element fitting options of an N-port.
//
// Four N x N tables: the asymptote mode and the DC-constraint flag (always
// present), and the DC values and fixed constants (created on first use,
// every entry kUnset until written). The table is rebuilt whenever the port
// count or the data type of the fitter is set.
#ifndef CFIT_NUMERIC_ELEMENT_TABLE_H
#define CFIT_NUMERIC_ELEMENT_TABLE_H

#include <cstddef>
#include <vector>

namespace cfit {

// Non-rational terms an element's fit carries.
enum AsymptoteMode : int {
  kNoAsymptote = 0,             // no non-rational term (a fixed constant may apply)
  kConstant = 1,                // a constant
  kConstantAndProportional = 2  // a constant plus a term proportional to frequency
};

// Marks an unset entry of the DC-value and constant-value tables.
inline constexpr double kUnset = -1e99;

// Default asymptote mode for a data type: S and ABCD 1, Y and Z 2, pulse
// model 0, anything else 1.
int DefaultAsymptoteMode(int dataType);

class ElementTable {
 public:
  ElementTable(int portCount, int dataType);

  int port_count() const { return n_; }

  // With i < 0 or j < 0 the code is written for every element and nothing
  // else changes. Otherwise the code is written at (i, j) and, when it is 0,
  // the value goes into the matching value table at (i, j); with `symmetric`
  // and i != j the same is done at (j, i). Indices beyond the table are
  // ignored.
  void SetDcOption(int flag, int i, int j, double value, bool symmetric);
  void SetAsymptote(int mode, int i, int j, double value, bool symmetric);

  // Out-of-range requests read element (fi, fj): the element being fitted in
  // an individual fit, (0, 0) in a common-pole fit.
  int AsymptoteModeAt(int i, int j, int fi = 0, int fj = 0) const;
  int DcFlagAt(int i, int j, int fi = 0, int fj = 0) const;
  // kUnset when the table is absent or the entry unset.
  double DcValueAt(int i, int j, int fi = 0, int fj = 0) const;
  double ConstantValueAt(int i, int j, int fi = 0, int fj = 0) const;

  bool HasDcValues() const { return !dcValue_.empty(); }
  bool HasConstantValues() const { return !constantValue_.empty(); }

 private:
  bool InRange(int i, int j) const { return i >= 0 && j >= 0 && i < n_ && j < n_; }
  std::size_t Index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(n_) + static_cast<std::size_t>(j);
  }
  // The in-range index of (i, j), or of the fallback element, or none.
  bool Resolve(int i, int j, int fi, int fj, std::size_t* index) const;
  void SetCode(std::vector<int>& codes, std::vector<double>& values, int code, int i, int j,
               double value, bool symmetric);

  int n_ = 0;
  std::vector<int> asymptoteMode_;
  std::vector<int> dcFlag_;
  std::vector<double> dcValue_;
  std::vector<double> constantValue_;
};

}  // namespace cfit

#endif  // CFIT_NUMERIC_ELEMENT_TABLE_H
