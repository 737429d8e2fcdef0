#include "passivity/enforcement.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "fit/model_evaluation.h"
#include "io/run_log.h"
#include "passivity/correction_record.h"
#include "passivity/passivity_measure.h"
#include "passivity/passivity_sweeps.h"
#include "passivity/suppression.h"
#include "passivity/yz_correction.h"

namespace cfit {

namespace {

constexpr int kPriorTries = 100;

enum class LoopKind { kPriorYZ, kPriorS, kModelYZ, kRow, kGlobalS };

int TriesForMode(int mode) { return (mode == 1 || mode == 2) ? 100 : 20; }

// The level that delimits the band around a peak of measure m.
double BandLevel(const FitterState& state, double m) {
  if (state.network.dataType != kS) return 1.0 + 0.5 * (m - 1.0);
  switch (state.settings.enforcementMode) {
    case 1: return m >= 1.1 ? 1.0 + 0.1 * (m - 1.0) : 1.0;
    case 2: return 1.0 + 0.5 * (m - 1.0);
    default: return m >= 1.5 ? 1.0 + 0.01 * (m - 1.0) : 1.0;
  }
}

// The peak (first of equal maxima) and the band around it.
Band FindBand(const PassivityCurve& curve, double level, int peak) {
  Band band{0, peak, static_cast<int>(curve.size()) - 1};
  for (int k = peak - 1; k >= 0; --k) {
    if (curve[k].measure < level) {
      band.left = k == peak - 1 ? k : k + 1;
      break;
    }
  }
  for (int k = peak + 1; k < static_cast<int>(curve.size()); ++k) {
    if (curve[k].measure < level) {
      band.right = k == peak + 1 ? k : k - 1;
      break;
    }
  }
  return band;
}

int Peak(const PassivityCurve& curve) {
  int peak = 0;
  for (int k = 1; k < static_cast<int>(curve.size()); ++k) {
    if (curve[k].measure > curve[peak].measure) peak = k;
  }
  return peak;
}

const char* TryText(LoopKind kind) {
  switch (kind) {
    case LoopKind::kPriorYZ:
    case LoopKind::kPriorS: return "-th try in PriorEnforceGlobalPassivity\n";
    case LoopKind::kRow: return "-th try in EnforceComponentPassivity\n";
    default: return "-th try in EnforceGlobalPassivity\n";
  }
}

bool BuildCurve(const FitterState& state, LoopKind kind, int row, double threshold,
                PassivityCurve* curve, bool* passive, const RunContext& context) {
  switch (kind) {
    case LoopKind::kPriorYZ:
    case LoopKind::kPriorS:
      return SampledSweep(*state.network.data, state.network.dataType, state.network.symmetric,
                          threshold, curve, passive);
    case LoopKind::kRow: return RowSweep(ViewOf(state), row, curve, passive, context);
    default:
      return ModelSweep(ViewOf(state), state.network.dataType, threshold, curve, passive, context);
  }
}

// The common loop. Returns -1 when a step failed, 1 when the curve ends
// passive, 0 when the tries ran out.
int RunLoop(FitterState& state, LoopKind kind, int row, double threshold, int tries,
            const RunContext& context) {
  PassivityCurve curve;
  bool passive = true;
  const double curveThreshold = kind == LoopKind::kRow ? 1.0 : threshold;
  if (!BuildCurve(state, kind, row, curveThreshold, &curve, &passive, context)) {
    return (kind == LoopKind::kPriorYZ || kind == LoopKind::kPriorS || kind == LoopKind::kRow) ? -1
                                                                                               : 0;
  }
  if (curve.empty()) return passive ? 1 : 0;
  if (kind == LoopKind::kGlobalS && !passive) {
    HighFrequencyRollOff(state, curve, threshold, &passive, context);
  }
  Sp sp;
  bool ok = true;
  for (int attempt = 1; !passive && attempt <= tries && ok; ++attempt) {
    const int peak = Peak(curve);
    const double m = curve[peak].measure;
    int column = -1;
    if (m > 1.0) {
      const Band band = FindBand(curve, BandLevel(state, m), peak);
      context.Write("\n\n", attempt, TryText(kind));
      const double peakFrequency = curve[peak].frequency;
      switch (kind) {
        case LoopKind::kPriorYZ:
          FindYZParams(curve, band, state.HasFit(), &sp);
          ok = ApplyYZToData(state, sp, peakFrequency);
          break;
        case LoopKind::kModelYZ:
          FindYZParams(curve, band, true, &sp);
          ok = ApplyYZToModel(state, sp, peakFrequency);
          break;
        case LoopKind::kPriorS:
          FindSupParamsGlobal(curve, band, state.HasFit(), state.settings.upperBandFrequency, &sp,
                              context);
          SuppressData(*state.network.data, sp);
          break;
        case LoopKind::kRow:
          column = FindSupParams(curve, band, &sp, context);
          ok = SuppressRow(state, row, column, sp, context);
          break;
        case LoopKind::kGlobalS:
          FindSupParamsGlobal(curve, band, true, state.settings.upperBandFrequency, &sp, context);
          ok = SuppressModel(state, sp, context);
          break;
      }
      if (!ok) break;
    }
    const double at = std::hypot(sp.al, sp.w0);
    if (kind == LoopKind::kRow) {
      context.Write(" Correction done at: ", at, " i= ", row, "  j= ", column, " rc=", 1, "\n");
    } else {
      context.Write(" Global correction done at: ", at, " rc=", 1, "\n");
    }
    if (kind == LoopKind::kGlobalS) {
      passive = true;
      for (PassivityPoint& p : curve) {
        if (m > 1.0) p.measure *= SuppressionFactor(sp, p.frequency);
        if (p.measure > threshold) passive = false;
      }
    } else if (!BuildCurve(state, kind, row, curveThreshold, &curve, &passive, context)) {
      ok = false;
    }
  }
  if (!ok) return -1;
  return passive ? 1 : 0;
}

struct Snapshot {
  std::vector<double> constant;
  std::vector<PoleList> elementPoles;
};

Status PostFit(FitterState& state, double threshold, const RunContext& context) {
  const int n = state.model->n;
  if (2LL * n > state.workspace.work.max_rows() || 2LL * n > state.workspace.work.max_cols()) {
    context.Write(" ************* Not enough memory allocated in cFit ******\n");
    return Failure::Silent();
  }
  const Snapshot snapshot{state.model->constant, state.model->elementPoles};
  state.passivity.checkCurve.clear();
  const int tries = TriesForMode(state.settings.enforcementMode);
  int result = 0;
  try {
    if (state.network.dataType != kS) {
      result = RunLoop(state, LoopKind::kModelYZ, 0, threshold, tries, context);
    } else {
      result = 1;
      for (int row = 0; row < n && result >= 0; ++row) {
        result = RunLoop(state, LoopKind::kRow, row, threshold, tries, context);
      }
      if (result >= 0) {
        result = RunLoop(state, LoopKind::kGlobalS, 0, threshold, std::max(tries, n), context);
      }
    }
  } catch (const InternalFault&) {
    result = -1;
  }
  if (result < 0) {
    state.model->constant = snapshot.constant;
    state.model->elementPoles = snapshot.elementPoles;
    state.model->id.Renew();
  }
  if (result == 1) return Success();
  return ErrorCode::kModelEnforcementFailed;
}

}  // namespace

void ConvertSharedPoles(FitterState& state) {
  if (state.model->individual()) return;
  Model& model = *state.model;
  const int n = model.n;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  model.elementPoles.assign(nn, PoleList{});
  if (model.delay.size() != nn) model.delay.assign(nn, 0.0);
  if (model.proportional.size() != nn) model.proportional.assign(nn, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      if (state.network.symmetric && j > i) continue;
      PoleList& list = model.elementPoles[model.Index(i, j)];
      for (const PoleTerm& shared : model.commonPoles) {
        PoleTerm own(1);
        own.SetPole(shared.GetPole());
        own.SetResidue00(shared.GetResidue(i, j));
        list.push_back(own);
      }
    }
  }
  model.commonPoles.clear();
  model.shape = PoleShape::kIndividual;
  state.settings.individualPoles = true;
  model.id.Renew();
}

Status EnforceDataPassivity(FitterState& state, double threshold, const RunContext& context) {
  int result = -1;
  try {
    result = RunLoop(state, state.network.dataType == kS ? LoopKind::kPriorS : LoopKind::kPriorYZ,
                     0, threshold, kPriorTries, context);
  } catch (const InternalFault&) {
    result = -1;
  }
  if (result == 1) return Success();
  return ErrorCode::kDataEnforcementFailed;
}

Status EnforceModelPassivity(FitterState& state, double threshold, const RunContext& context) {
  ConvertSharedPoles(state);
  context.WriteFlushed(" Enforce passivity start: ", runlog::Timestamp(), "\n");
  Status result = PostFit(state, threshold, context);
  context.WriteFlushed(" Enforce passivity   end: ", runlog::Timestamp(), "\n");
  return result;
}

}  // namespace cfit
