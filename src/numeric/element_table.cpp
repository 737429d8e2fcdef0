#include "numeric/element_table.h"

#include <algorithm>

namespace cfit {

int DefaultAsymptoteMode(int dataType) {
  switch (dataType) {
    case 2:  // Y
    case 3:  // Z
      return kConstantAndProportional;
    case 5:  // pulse model
      return kNoAsymptote;
    default:  // S, ABCD and anything else
      return kConstant;
  }
}

ElementTable::ElementTable(int portCount, int dataType)
    : n_(std::max(portCount, 0)),
      asymptoteMode_(static_cast<std::size_t>(n_) * static_cast<std::size_t>(n_),
                     DefaultAsymptoteMode(dataType)),
      dcFlag_(static_cast<std::size_t>(n_) * static_cast<std::size_t>(n_), 1) {}

void ElementTable::SetCode(std::vector<int>& codes, std::vector<double>& values, int code, int i,
                           int j, double value, bool symmetric) {
  if (i < 0 || j < 0) {
    std::fill(codes.begin(), codes.end(), code);
    return;
  }
  if (!InRange(i, j)) return;
  auto store = [&](int r, int c) {
    codes[Index(r, c)] = code;
    if (code == 0) {
      if (values.empty()) values.assign(codes.size(), kUnset);
      values[Index(r, c)] = value;
    }
  };
  store(i, j);
  if (symmetric && i != j) store(j, i);
}

void ElementTable::SetDcOption(int flag, int i, int j, double value, bool symmetric) {
  SetCode(dcFlag_, dcValue_, flag, i, j, value, symmetric);
}

void ElementTable::SetAsymptote(int mode, int i, int j, double value, bool symmetric) {
  SetCode(asymptoteMode_, constantValue_, mode, i, j, value, symmetric);
}

bool ElementTable::Resolve(int i, int j, int fi, int fj, std::size_t* index) const {
  if (InRange(i, j)) {
    *index = Index(i, j);
    return true;
  }
  if (InRange(fi, fj)) {
    *index = Index(fi, fj);
    return true;
  }
  return false;
}

int ElementTable::AsymptoteModeAt(int i, int j, int fi, int fj) const {
  std::size_t k;
  return Resolve(i, j, fi, fj, &k) ? asymptoteMode_[k] : 1;
}

int ElementTable::DcFlagAt(int i, int j, int fi, int fj) const {
  std::size_t k;
  return Resolve(i, j, fi, fj, &k) ? dcFlag_[k] : 1;
}

double ElementTable::DcValueAt(int i, int j, int fi, int fj) const {
  std::size_t k;
  if (dcValue_.empty() || !Resolve(i, j, fi, fj, &k)) return kUnset;
  return dcValue_[k];
}

double ElementTable::ConstantValueAt(int i, int j, int fi, int fj) const {
  std::size_t k;
  if (constantValue_.empty() || !Resolve(i, j, fi, fj, &k)) return kUnset;
  return constantValue_[k];
}

}  // namespace cfit
