#include "network/cascade.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "data/data_loading.h"
#include "network/frequency_grid_merge.h"
#include "network/second_network.h"

namespace cfit {

namespace {

// A k x k block, k = 1 or 2.
struct Block {
  int k = 1;
  std::array<Complex, 4> v{};
  Complex& operator()(int i, int j) { return v[static_cast<std::size_t>(i * 2 + j)]; }
  Complex operator()(int i, int j) const { return v[static_cast<std::size_t>(i * 2 + j)]; }
};

Block Product(const Block& x, const Block& y) {
  Block p{x.k, {}};
  for (int i = 0; i < x.k; ++i) {
    for (int j = 0; j < x.k; ++j) {
      for (int l = 0; l < x.k; ++l) p(i, j) += x(i, l) * y(l, j);
    }
  }
  return p;
}

Block Sum(const Block& x, const Block& y, double sign) {
  Block s{x.k, {}};
  for (int e = 0; e < 4; ++e) s.v[e] = x.v[e] + sign * y.v[e];
  return s;
}

// The inverse of the internal connection's admittance, with the guards.
Block Inverse(const Block& y) {
  Block w{y.k, {}};
  if (y.k == 1) {
    w(0, 0) = Magnitude(y(0, 0)) == 0.0 ? Complex(kOpenInverse, 0.0) : 1.0 / y(0, 0);
    return w;
  }
  Complex det = y(0, 0) * y(1, 1) - y(0, 1) * y(1, 0);
  if (Magnitude(det) == 0.0) det = Complex(kSingularDeterminant, 0.0);
  w(0, 0) = y(1, 1) / det;
  w(0, 1) = -y(0, 1) / det;
  w(1, 0) = -y(1, 0) / det;
  w(1, 1) = y(0, 0) / det;
  return w;
}

// Block (p, q) (0 outer, 1 joined for a; 0 joined, 1 outer for b, as their
// port order has them) of a network taking part with blocks of order k: its
// own k x k block, or for a 2-port among 4-ports its element (p, q) times
// T = [[1, -1], [-1, 1]].
Block BlockOf(const PortMatrix& x, int k, int p, int q) {
  Block b{k, {}};
  if (x.order() == 2 * k) {
    for (int i = 0; i < k; ++i) {
      for (int j = 0; j < k; ++j) b(i, j) = x.At(p * k + i, q * k + j);
    }
    return b;
  }
  const Complex e = x.At(p, q);
  b(0, 0) = e, b(0, 1) = -e, b(1, 0) = -e, b(1, 1) = e;
  return b;
}

void Put(PortMatrix& out, const Block& b, int p, int q) {
  for (int i = 0; i < b.k; ++i) {
    for (int j = 0; j < b.k; ++j) out.At(p * b.k + i, q * b.k + j) = b(i, j);
  }
}

bool TwoOrFour(int n) { return n == 2 || n == 4; }

}  // namespace

bool CascadeAdmittances(const PortMatrix& a, const PortMatrix& b, PortMatrix& out) {
  if (!TwoOrFour(a.order()) || !TwoOrFour(b.order())) return false;
  const int k = a.order() == 2 && b.order() == 2 ? 1 : 2;
  const Block a11 = BlockOf(a, k, 0, 0), a12 = BlockOf(a, k, 0, 1);
  const Block a21 = BlockOf(a, k, 1, 0), a22 = BlockOf(a, k, 1, 1);
  const Block b11 = BlockOf(b, k, 0, 0), b12 = BlockOf(b, k, 0, 1);
  const Block b21 = BlockOf(b, k, 1, 0), b22 = BlockOf(b, k, 1, 1);
  const Block w = Inverse(Sum(a22, b11, 1.0));
  PortMatrix result(2 * k);
  result.set_frequency(a.frequency());
  Put(result, Sum(a11, Product(Product(a12, w), a21), -1.0), 0, 0);
  Put(result, Sum(Block{k, {}}, Product(Product(a12, w), b12), -1.0), 0, 1);
  Put(result, Sum(Block{k, {}}, Product(Product(b21, w), a21), -1.0), 1, 0);
  Put(result, Sum(b22, Product(Product(b21, w), b12), -1.0), 1, 1);
  out = std::move(result);
  return true;
}

Result<int> CascadeWithTouchstone(FitterState& state, const std::string& fileName,
                                  const RunContext& context) {
  Result<Network> a = ConvertedTo(CopyOfData(state.network), kY, context);
  if (!a.ok()) return a.failure();
  Result<Network> read = ReadSecondTouchstone(fileName, state.settings, context);
  if (!read.ok()) return read.failure();
  if (!TwoOrFour(read->portCount)) return ErrorCode::kNeedsTwoOrFourPorts;
  Result<Network> b = ConvertedTo(std::move(read).value(), kY, context);
  if (!b.ok()) return b.failure();

  const int n = std::max(a->portCount, b->portCount);
  MergedGrid merged = MergeFrequencyGrids(
      *a->data, *b->data, n, [](const PortMatrix& x, const PortMatrix& y, PortMatrix& out) {
        return x.frequency() == y.frequency() && CascadeAdmittances(x, y, out);
      });
  if (!merged.complete || merged.data.empty()) return Failure::Silent();

  // Each result port keeps the impedance of the port it comes from: the
  // outer ports of a, then those of b (a balanced 2-port's outer port gives
  // both of its terminals).
  const std::vector<double>& za = *a->impedances;
  const std::vector<double>& zb = *b->impedances;
  std::vector<double> impedances;
  if (a->portCount == 2)
    impedances.assign(static_cast<std::size_t>(n / 2), za[0]);
  else
    impedances.assign(za.begin(), za.begin() + 2);
  if (b->portCount == 2)
    impedances.insert(impedances.end(), static_cast<std::size_t>(n / 2), zb[1]);
  else
    impedances.insert(impedances.end(), zb.begin() + 2, zb.end());

  merged.data.ComputeAsymmetry();
  state.ReplaceData(std::move(merged.data));
  state.network.portCount = n;
  state.network.dataType = kY;
  state.network.impedances = std::move(impedances);
  state.network.symmetric =
      state.settings.symmetryTolerance > state.network.data->relative_asymmetry();
  state.ResetElementTable();
  SetBandFromData(state);
  return n;
}

}  // namespace cfit
