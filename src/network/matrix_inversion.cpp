#include "network/matrix_inversion.h"

#include <cstddef>

#include "numeric/complex_inverse.h"

namespace cfit {

bool InvertMatrix(ConversionWorkspace& ws, Complex* x) {
  const int n = ws.n;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      ws.rhs[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) +
             static_cast<std::size_t>(j)] = Complex(i == j ? 1.0 : 0.0, 0.0);
    }
  }
  EmbedComplexMatrix(n, x, ws.system, ws.lda);
  return SolveForColumns(ws, x);
}

}  // namespace cfit
