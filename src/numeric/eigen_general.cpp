#include "numeric/eigen_general.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "io/run_log.h"

namespace cfit {

namespace {

// Row-stored element access.
class RowMatrix {
 public:
  RowMatrix(double* a, int lda) : a_(a), lda_(lda) {}
  double& operator()(int i, int j) const { return a_[static_cast<std::ptrdiff_t>(i) * lda_ + j]; }
  double* Row(int i) const { return a_ + static_cast<std::ptrdiff_t>(i) * lda_; }

 private:
  double* a_;
  int lda_;
};

}  // namespace

void BalanceMatrix(int n, double* a, int lda) {
  constexpr double kRadix = 2.0;
  constexpr double kRadixSquared = kRadix * kRadix;
  const RowMatrix m(a, lda);
  bool changed = true;
  while (changed) {
    changed = false;
    for (int i = 0; i < n; ++i) {
      double c = 0.0;
      double r = 0.0;
      for (int j = 0; j < n; ++j) {
        if (j == i) continue;
        c += std::fabs(m(j, i));
        r += std::fabs(m(i, j));
      }
      // An isolated row or column needs no balancing; a non-finite sum
      // cannot be balanced (and would never leave the loops below).
      if (c == 0.0 || r == 0.0 || !std::isfinite(c) || !std::isfinite(r)) continue;
      const double before = c + r;
      double f = 1.0;
      double g = r / kRadix;
      while (c < g) {
        f *= kRadix;
        c *= kRadixSquared;
      }
      g = r * kRadix;
      while (c > g) {
        f /= kRadix;
        c /= kRadixSquared;
      }
      if ((c + r) / f < 0.95 * before) {
        changed = true;
        const double inverse = 1.0 / f;
        double* row = m.Row(i);
        for (int j = 0; j < n; ++j) row[j] *= inverse;
        for (int j = 0; j < n; ++j) m(j, i) *= f;
      }
    }
  }
}

void ReduceToHessenberg(int n, double* a, int lda) {
  constexpr int kRowBlock = 4;
  const RowMatrix h(a, lda);
  // Per row i > col: its multiplier, and whether it is eliminated at all (a
  // row whose entry is already 0 is left alone).
  std::vector<double> y(static_cast<std::size_t>(std::max(n, 0)));
  std::vector<char> used(y.size());
  for (int col = 1; col < n - 1; ++col) {
    // Bring the largest entry of column col - 1, rows col.., up to row col.
    double pivot = 0.0;
    int pivotRow = col;
    for (int i = col; i < n; ++i) {
      if (std::fabs(h(i, col - 1)) > std::fabs(pivot)) {
        pivot = h(i, col - 1);
        pivotRow = i;
      }
    }
    if (pivotRow != col) {
      for (int j = col - 1; j < n; ++j) std::swap(h(pivotRow, j), h(col, j));
      for (int i = 0; i < n; ++i) std::swap(h(i, pivotRow), h(i, col));
    }
    if (pivot == 0.0) continue;
    // The eliminations, one per row i > col: row i -= y_i * row col, then
    // column col += y_i * column i (the inverse transformation), in order
    // of i. Done as written, the column updates walk down columns, which
    // for a large matrix costs a cache miss per entry; here each row takes
    // its share of every elimination in turn, with the same operations in
    // the same order, so the result is the same to the bit.
    for (int i = col + 1; i < n; ++i) {
      used[i] = h(i, col - 1) != 0.0;
      y[i] = used[i] ? h(i, col - 1) / pivot : 0.0;
      if (used[i]) h(i, col - 1) = 0.0;
    }
    // Each row's sum of column updates is one chain of additions in the
    // order of i; rows are taken kRowBlock at a time so that their chains
    // run side by side.
    const auto accumulate = [&](double* const* rows, double* sums, int count, int from, int to) {
      for (int i = from; i < to; ++i) {
        if (!used[i]) continue;
        for (int t = 0; t < count; ++t) sums[t] += y[i] * rows[t][i];
      }
    };
    double* rows[kRowBlock];
    double sums[kRowBlock];
    // Rows above: only the column updates reach them.
    for (int j0 = 0; j0 < col; j0 += kRowBlock) {
      const int count = std::min(kRowBlock, col - j0);
      for (int t = 0; t < count; ++t) {
        rows[t] = h.Row(j0 + t);
        sums[t] = rows[t][col];
      }
      accumulate(rows, sums, count, col + 1, n);
      for (int t = 0; t < count; ++t) rows[t][col] = sums[t];
    }
    // Row col is never eliminated; its entry (col, col) takes the column
    // updates as they come, and each elimination reads it as it is then.
    double* rowCol = h.Row(col);
    double current = rowCol[col];  // (col, col) after the updates of i < j
    for (int j0 = col + 1; j0 < n; j0 += kRowBlock) {
      const int count = std::min(kRowBlock, n - j0);
      for (int t = 0; t < count; ++t) {
        rows[t] = h.Row(j0 + t);
        sums[t] = rows[t][col];
      }
      // Column updates of the eliminations before row j's own (j = j0 +
      // t): row j as it was.
      accumulate(rows, sums, count, col + 1, j0);
      for (int t = 1; t < count; ++t) accumulate(rows + t, sums + t, 1, j0, j0 + t);
      for (int t = 0; t < count; ++t) {
        const int j = j0 + t;
        double* row = rows[t];
        row[col] = sums[t];
        if (used[j]) {
          row[col] -= y[j] * current;
          for (int k = col + 1; k < n; ++k) row[k] -= y[j] * rowCol[k];
          current += y[j] * rowCol[j];
        }
        sums[t] = row[col];
      }
      // Those from row j's own on: row j as eliminated.
      for (int t = 0; t < count; ++t) accumulate(rows + t, sums + t, 1, j0 + t, j0 + count);
      accumulate(rows, sums, count, j0 + count, n);
      for (int t = 0; t < count; ++t) rows[t][col] = sums[t];
    }
    rowCol[col] = current;
  }
}

int hqr(int n, double* a, int lda, double* wr, double* wi, int maxIterations) {
  const RowMatrix h(a, lda);
  double norm = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = std::max(i - 1, 0); j < n; ++j) norm += std::fabs(h(i, j));
  }

  int last = n - 1;    // last row of the block still to be resolved
  double shift = 0.0;  // exceptional shifts taken so far, to be added back
  while (last >= 0) {
    int iterations = 0;
    for (;;) {
      // Find the start l of the unreduced block ending at row `last`.
      int l = last;
      for (; l > 0; --l) {
        double s = std::fabs(h(l - 1, l - 1)) + std::fabs(h(l, l));
        if (s == 0.0) s = norm;
        if (std::fabs(h(l, l - 1)) + s == s) {
          h(l, l - 1) = 0.0;
          break;
        }
      }
      double x = h(last, last);
      if (l == last) {  // one real eigenvalue split off
        wr[last] = x + shift;
        wi[last] = 0.0;
        last -= 1;
        break;
      }
      double y = h(last - 1, last - 1);
      double w = h(last, last - 1) * h(last - 1, last);
      if (l == last - 1) {  // a 2 x 2 block split off
        const double p = 0.5 * (y - x);
        const double q = p * p + w;
        double z = std::sqrt(std::fabs(q));
        x += shift;
        if (q >= 0.0) {  // two real eigenvalues
          z = p + std::copysign(z, p);
          wr[last - 1] = wr[last] = x + z;
          if (z != 0.0) wr[last] = x - w / z;
          wi[last - 1] = wi[last] = 0.0;
        } else {  // a complex-conjugate pair
          wr[last - 1] = wr[last] = x + p;
          wi[last - 1] = -z;
          wi[last] = z;
        }
        last -= 2;
        break;
      }

      if (iterations == maxIterations) {
        runlog::Write("No convergence in hqr after ", maxIterations, " iterations\n");
        return 0;
      }
      if (iterations > 0 && iterations % 10 == 0) {
        // Exceptional shift, to break a cycle the standard shifts may fall
        // into.
        shift += x;
        for (int i = 0; i <= last; ++i) h(i, i) -= x;
        const double s = std::fabs(h(last, last - 1)) + std::fabs(h(last - 1, last - 2));
        x = y = 0.75 * s;
        w = -0.4375 * s * s;
      }
      ++iterations;

      // Look for two consecutive small subdiagonal entries, so that the
      // step can start at row m instead of l.
      int m = last - 2;
      double p = 0.0, q = 0.0, r = 0.0, z = 0.0;
      for (; m >= l; --m) {
        z = h(m, m);
        r = x - z;
        double s = y - z;
        p = (r * s - w) / h(m + 1, m) + h(m, m + 1);
        q = h(m + 1, m + 1) - z - r - s;
        r = h(m + 2, m + 1);
        s = std::fabs(p) + std::fabs(q) + std::fabs(r);
        p /= s;
        q /= s;
        r /= s;
        if (m == l) break;
        const double u = std::fabs(h(m, m - 1)) * (std::fabs(q) + std::fabs(r));
        const double v =
            std::fabs(p) * (std::fabs(h(m - 1, m - 1)) + std::fabs(z) + std::fabs(h(m + 1, m + 1)));
        if (u + v == v) break;
      }
      for (int i = m + 2; i <= last; ++i) {
        h(i, i - 2) = 0.0;
        if (i != m + 2) h(i, i - 3) = 0.0;
      }

      // Double-shift QR step on rows l..last, columns m..last, chasing the
      // bulge with 3 x 3 reflectors.
      for (int k = m; k <= last - 1; ++k) {
        if (k != m) {
          p = h(k, k - 1);
          q = h(k + 1, k - 1);
          r = k != last - 1 ? h(k + 2, k - 1) : 0.0;
          x = std::fabs(p) + std::fabs(q) + std::fabs(r);
          if (x != 0.0) {
            p /= x;
            q /= x;
            r /= x;
          }
        }
        const double s = std::copysign(std::sqrt(p * p + q * q + r * r), p);
        if (s == 0.0) continue;
        if (k == m) {
          if (l != m) h(k, k - 1) = -h(k, k - 1);
        } else {
          h(k, k - 1) = -s * x;
        }
        p += s;
        x = p / s;
        y = q / s;
        z = r / s;
        q /= p;
        r /= p;
        const bool three = k != last - 1;
        for (int j = k; j <= last; ++j) {  // rows k..k+2
          double t = h(k, j) + q * h(k + 1, j);
          if (three) {
            t += r * h(k + 2, j);
            h(k + 2, j) -= t * z;
          }
          h(k + 1, j) -= t * y;
          h(k, j) -= t * x;
        }
        const int lastRow = std::min(last, k + 3);
        for (int i = l; i <= lastRow; ++i) {  // columns k..k+2
          double t = x * h(i, k) + y * h(i, k + 1);
          if (three) {
            t += z * h(i, k + 2);
            h(i, k + 2) -= t * r;
          }
          h(i, k + 1) -= t * q;
          h(i, k) -= t;
        }
      }
    }
  }
  return 1;
}

}  // namespace cfit
