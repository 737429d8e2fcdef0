#include "api/fitter_state.h"

#include <algorithm>

namespace cfit {

bool FitterState::EnsureWorkingSet(long long rows, long long cols) {
  WorkingSet& work = workspace.work;
  if (work.allocated() && work.max_rows() >= rows && work.max_cols() >= cols) return true;
  return work.Allocate(std::max<long long>(rows, work.max_rows()),
                       std::max<long long>(cols, work.max_cols()));
}

bool FitterState::HasFit() const {
  const int portCount = network.portCount;
  const auto& impedances = network.impedances;
  const auto& elements = network.elements;
  if (portCount == 0 && !impedances.has_value()) return false;
  if (model == nullptr || model->constant.empty() || elements == nullptr) return false;
  if (model->n != portCount) return false;
  if (model->individual()) {
    if (portCount < 1 || model->elementPoles.empty() || model->delay.empty()) return false;
    for (const PoleList& poles : model->elementPoles) {
      if (!poles.empty()) return true;
    }
    return false;
  }
  return !model->commonPoles.empty();
}

void FitterState::SyncModelFrame() {
  if (model == nullptr) return;
  model->dataType = network.dataType;
  model->impedances = network.impedances;
  model->symmetric = network.symmetric;
}

}  // namespace cfit
