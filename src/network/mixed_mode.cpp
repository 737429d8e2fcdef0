#include "network/mixed_mode.h"

#include <array>
#include <utility>

#include "network/scaled_element_sum.h"

namespace cfit {

namespace {

constexpr int kPorts = 4;

// The signs of M (its entries times sqrt 2), rows in the order d1, d2, c1, c2.
using Signs = std::array<std::array<int, kPorts>, kPorts>;

Signs ModeSigns(const PortPairs& p) {
  Signs s{};
  s[0][p.a] = 1, s[0][p.b] = -1;
  s[1][p.c] = 1, s[1][p.d] = -1;
  s[2][p.a] = 1, s[2][p.b] = 1;
  s[3][p.c] = 1, s[3][p.d] = 1;
  return s;
}

double TableEntry(const std::vector<double>& table, std::size_t k) {
  return k < table.size() ? table[k] : 0.0;
}

}  // namespace

std::optional<PortPairs> ModePorts(int a, int b, int c, int d) {
  const int ports[kPorts] = {a - 1, b - 1, c - 1, d - 1};
  bool seen[kPorts] = {false, false, false, false};
  for (int p : ports) {
    if (p < 0 || p >= kPorts || seen[p]) return std::nullopt;
    seen[p] = true;
  }
  return PortPairs{ports[0], ports[1], ports[2], ports[3]};
}

double ModeCoefficient(const PortPairs& pairs, ModeDirection direction, int i, int j, int k,
                       int l) {
  const Signs s = ModeSigns(pairs);
  // To mixed mode new (i, j) sums M[i][k] M[j][l] X[k][l]; to standard mode
  // new (i, j) sums M[k][i] M[l][j] X[k][l].
  const int sign = direction == ModeDirection::kToMixed ? s[i][k] * s[j][l] : s[k][i] * s[l][j];
  return 0.5 * sign;
}

void ConvertDataMode(SampledData& data, const PortPairs& pairs, ModeDirection direction) {
  double w[kPorts][kPorts][kPorts][kPorts];
  for (int i = 0; i < kPorts; ++i)
    for (int j = 0; j < kPorts; ++j)
      for (int k = 0; k < kPorts; ++k)
        for (int l = 0; l < kPorts; ++l)
          w[i][j][k][l] = ModeCoefficient(pairs, direction, i, j, k, l);
  Complex old[kPorts][kPorts];
  for (MatrixView point : data.MutablePoints()) {
    for (int k = 0; k < kPorts; ++k)
      for (int l = 0; l < kPorts; ++l) old[k][l] = point.At(k, l);
    for (int i = 0; i < kPorts; ++i) {
      for (int j = 0; j < kPorts; ++j) {
        Complex sum;
        for (int k = 0; k < kPorts; ++k)
          for (int l = 0; l < kPorts; ++l) sum += w[i][j][k][l] * old[k][l];
        point.At(i, j) = sum;
      }
    }
  }
}

Result<Model> ConvertModelMode(const Model& model, bool symmetric, const PortPairs& pairs,
                               ModeDirection direction) {
  if (!model.individual()) return ErrorCode::kNeedsIndividualPoles;
  for (double tau : model.delay) {
    if (tau != 0.0) return ErrorCode::kNeedsNoDelays;
  }
  Model result = Model::Empty(kPorts);
  result.shape = PoleShape::kIndividual;
  const bool lowerOnly = symmetric && direction == ModeDirection::kToMixed;
  for (int i = 0; i < kPorts; ++i) {
    for (int j = 0; j < kPorts; ++j) {
      if (lowerOnly && i < j) continue;
      ElementSum sum;
      for (int k = 0; k < kPorts; ++k) {
        for (int l = 0; l < kPorts; ++l) {
          const double w = ModeCoefficient(pairs, direction, i, j, k, l);
          if (w == 0.0) continue;
          const std::size_t own = model.Index(k, l);
          const PoleList* terms =
              own < model.elementPoles.size() ? &model.elementPoles[own] : nullptr;
          if (symmetric && (terms == nullptr || terms->empty()) &&
              model.Index(l, k) < model.elementPoles.size()) {
            terms = &model.elementPoles[model.Index(l, k)];
          }
          AccumulateScaledElement(sum, terms != nullptr ? *terms : PoleList{},
                                  TableEntry(model.constant, own),
                                  TableEntry(model.proportional, own), w);
        }
      }
      const std::size_t at = result.Index(i, j);
      result.elementPoles[at] = std::move(sum.terms);
      result.constant[at] = sum.constant;
      result.proportional[at] = sum.proportional;
    }
  }
  if (lowerOnly) {
    // The symmetric model holds constants and proportional terms at both
    // places; the upper lists stay empty and read the lower ones.
    for (int i = 0; i < kPorts; ++i) {
      for (int j = i + 1; j < kPorts; ++j) {
        result.constant[result.Index(i, j)] = result.constant[result.Index(j, i)];
        result.proportional[result.Index(i, j)] = result.proportional[result.Index(j, i)];
      }
    }
  }
  return result;
}

Status ConvertMode(FitterState& state, const PortPairs& pairs, ModeDirection direction) {
  Status result = Success();
  if (state.network.data.has_value() && state.network.data->port_count() == kPorts) {
    ConvertDataMode(*state.network.data, pairs, direction);
  }
  if (state.HasFit()) {
    Result<Model> converted =
        ConvertModelMode(*state.model, state.network.symmetric, pairs, direction);
    if (converted.ok()) {
      *state.model = std::move(converted).value();
    } else {
      result = converted.failure();
    }
  }
  state.network.mixedMode = direction == ModeDirection::kToMixed;
  return result;
}

}  // namespace cfit
