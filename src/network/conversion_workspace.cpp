#include "network/conversion_workspace.h"

#include <cstddef>

#include "numeric/pivoted_qr.h"

namespace cfit {

bool BindConversionWorkspace(FitterState& state, int n, ConversionWorkspace& ws) {
  ws = ConversionWorkspace{};
  if (n < 1) return false;
  const long long order = 2LL * n;
  if (!state.EnsureWorkingSet(order, order)) return false;
  const std::size_t size = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  if (state.workspace.conversionRhs.size() < size) state.workspace.conversionRhs.resize(size);

  WorkingSet& work = state.workspace.work;
  ws.n = n;
  ws.system = work.columns();
  // Stored compactly (leading dimension 2n) at the start of the column
  // block, which holds at least 2n x 2n doubles: the system's columns then
  // share cache lines instead of lying a whole working column apart.
  ws.lda = static_cast<int>(order);
  ws.c = work.c();
  ws.d = work.d();
  ws.permutation = work.permutation();
  ws.column = work.rhs();
  ws.work = work.work();
  ws.rhs = state.workspace.conversionRhs.data();
  return true;
}

bool SolveForColumns(ConversionWorkspace& ws, Complex* x) {
  const int n = ws.n;
  const int order = 2 * n;
  const int rank =
      PivotedQR(order, order, ws.system, ws.lda, ws.c, ws.d, ws.permutation, nullptr, false);
  for (int k = 0; k < n; ++k) {
    for (int i = 0; i < n; ++i) {
      const Complex b = ws.rhs[static_cast<std::ptrdiff_t>(i) * n + k];
      ws.column[i] = b.re;
      ws.column[i + n] = b.im;
    }
    // With a zero system (rank 0) the solve still writes every unknown (as
    // 0), so x never keeps stale values.
    SolvePivotedQR(order, order, ws.system, ws.lda, ws.c, ws.d, ws.column, ws.permutation, ws.work,
                   false);
    for (int i = 0; i < n; ++i) {
      x[static_cast<std::ptrdiff_t>(i) * n + k] = Complex(ws.column[i], ws.column[i + n]);
    }
  }
  return rank == order;
}

}  // namespace cfit
