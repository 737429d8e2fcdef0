#include "network/cayley_transform.h"

#include <cstddef>

#include "numeric/complex_inverse.h"

namespace cfit {

bool CayleyTransform(ConversionWorkspace& ws, Complex* x) {
  const int n = ws.n;
  const std::size_t size = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  // B = I - X into the right-hand sides; X becomes I + X for the embedding.
  for (std::size_t k = 0; k < size; ++k) ws.rhs[k] = -x[k];
  for (int i = 0; i < n; ++i) {
    const std::size_t diagonal = static_cast<std::size_t>(i) * static_cast<std::size_t>(n + 1);
    ws.rhs[diagonal] += 1.0;
    x[diagonal] += 1.0;
  }
  EmbedComplexMatrix(n, x, ws.system, ws.lda);
  return SolveForColumns(ws, x);
}

}  // namespace cfit
