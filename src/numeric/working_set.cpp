#include "numeric/working_set.h"

#include <climits>
#include <cstdint>
#include <new>

namespace cfit {

void WorkingSet::Release() {
  columns_.reset();
  rhs_.reset();
  c_.reset();
  d_.reset();
  scale_.reset();
  work_.reset();
  permutation_.reset();
  maxRows_ = 0;
  maxCols_ = 0;
}

bool WorkingSet::Allocate(long long rows, long long cols) {
  Release();
  if (rows < 1 || cols < 1 || rows > INT_MAX || cols > INT_MAX) return false;
  const auto r = static_cast<std::size_t>(rows);
  const auto c = static_cast<std::size_t>(cols);
  if (r > SIZE_MAX / sizeof(double) / c) return false;
  try {
    // Left uninitialised: the kernels write before they read, and untouched
    // pages of a large block cost no memory.
    columns_.reset(new double[r * c]);
    rhs_.reset(new double[r]);
    c_.reset(new double[c]);
    d_.reset(new double[c]);
    scale_.reset(new double[c]);
    work_.reset(new double[c]);
    permutation_.reset(new int[c]);
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  maxRows_ = static_cast<int>(rows);
  maxCols_ = static_cast<int>(cols);
  return true;
}

}  // namespace cfit
