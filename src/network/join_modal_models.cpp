#include "network/join_modal_models.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "io/pole_file.h"
#include "network/scaled_element_sum.h"

namespace cfit {

namespace {

bool NoDelays(const Model& model) {
  return std::all_of(model.delay.begin(), model.delay.end(), [](double d) { return d == 0.0; });
}

double Term(const std::vector<double>& table, std::size_t index) {
  return index < table.size() ? table[index] : 0.0;
}

}  // namespace

void AccumulateScaledModelElement(Model& destination, int i, int j, const Model& source,
                                  bool sourceSymmetric, int k, int l, double w) {
  const std::size_t from = source.Index(k, l);
  const std::size_t to = destination.Index(i, j);
  const std::size_t listIndex = sourceSymmetric && k < l ? source.Index(l, k) : from;
  static const PoleList kNone;
  ElementSum sum{std::move(destination.elementPoles[to]), destination.constant[to],
                 destination.proportional[to]};
  AccumulateScaledElement(
      sum, listIndex < source.elementPoles.size() ? source.elementPoles[listIndex] : kNone,
      Term(source.constant, from), Term(source.proportional, from), w);
  destination.elementPoles[to] = std::move(sum.terms);
  destination.constant[to] = sum.constant;
  destination.proportional[to] = sum.proportional;
}

std::unique_ptr<Model> JoinedModeModels(const Model& differential, bool differentialSymmetric,
                                        const Model& common, bool commonSymmetric, bool symmetric) {
  auto joined = std::make_unique<Model>(Model::Empty(4));
  for (int offset : {0, 2}) {
    const Model& source = offset == 0 ? differential : common;
    const bool sourceSymmetric = offset == 0 ? differentialSymmetric : commonSymmetric;
    for (auto [k, l] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
      if (symmetric && k < l) continue;
      AccumulateScaledModelElement(*joined, offset + k, offset + l, source, sourceSymmetric, k, l,
                                   1.0);
    }
    if (symmetric) {
      const std::size_t upper = joined->Index(offset, offset + 1);
      const std::size_t lower = joined->Index(offset + 1, offset);
      joined->constant[upper] = joined->constant[lower];
      joined->proportional[upper] = joined->proportional[lower];
    }
  }
  return joined;
}

Status JoinModalTwoPortModels(FitterState& state, const std::string& fileName,
                              const RunContext& context) {
  Result<PoleFile> read = ReadPoleFile(fileName, {}, context);
  if (!read.ok()) return read.failure();
  const PoleFile& file = *read;
  LogPoleFileReadEnd(fileName, context);
  if (file.model == nullptr || file.model->n != 2 || file.model->dataType != kS)
    return ErrorCode::kNoFit;
  const Model& common = *file.model;
  const double z = state.network.impedances->front();
  if (!common.impedances.has_value() || common.impedances->size() != 2 ||
      (*common.impedances)[0] != z || (*common.impedances)[1] != z)
    return ErrorCode::kNeedsEqualImpedances;
  if (!NoDelays(common)) return ErrorCode::kNeedsNoDelays;

  const bool symmetric = state.network.symmetric && common.symmetric;
  std::unique_ptr<Model> joined =
      JoinedModeModels(*state.model, state.network.symmetric, common, common.symmetric, symmetric);

  state.model = std::move(joined);
  state.ReplaceData(std::nullopt);
  state.network.portCount = 4;
  state.network.dataType = kS;
  state.network.impedances = std::vector<double>(4, z);
  state.network.symmetric = symmetric;
  state.network.mixedMode = true;
  state.ResetElementTable();
  return Success();
}

}  // namespace cfit
