#include "api/file_operations.h"

#include <algorithm>
#include <string>
#include <utility>

#include "api/cfit_impl.h"
#include "api/operation_table.h"
#include "data/data_loading.h"
#include "io/subcircuit_writer.h"
#include "io/touchstone_writer.h"

namespace cfit {

namespace {

std::string NameOf(const char* fileName) { return fileName != nullptr ? fileName : ""; }

TouchstoneHeader HeaderOf(const FitterState& state) {
  TouchstoneHeader header;
  header.dataType = state.network.dataType;
  header.portCount = state.network.portCount;
  header.impedances = state.network.impedances.has_value() ? &*state.network.impedances : nullptr;
  header.comment = state.session.outputComment;
  return header;
}

}  // namespace

int ReadTouchstone(FitterState& state, const char* fileName, const TouchstoneOptions& options,
                   const RunContext& context) {
  if (!Admit(state, Operation::kReadTouchstone)) return 0;
  state.session.error.Clear();

  const std::string name = NameOf(fileName);
  TouchstoneReach reach;
  Result<TouchstoneFile> read = ReadTouchstoneFile(name, options, context, &reach);
  if (!reach.opened) return state.session.error.Record(read.failure());
  state.network.portCount = reach.portCount;
  if (!reach.started) return state.session.error.Record(read.failure());

  const int n = reach.portCount;
  bool ok = read.ok();
  if (ok) {
    TouchstoneFile& file = read.value();
    ok = StoreReadPoints(state, std::move(file.points), context);
    if (!ok) state.session.error.Record(ErrorCode::kNoPointsRead);
    if (ok) {
      SetBandFromData(state);
      state.network.impedances = std::move(file.impedances);
      state.session.fileComment = std::move(file.comment);
    }
  }
  state.EnsureWorkingSet(2LL * n, 2LL * n);
  state.network.elements.reset();
  state.network.dataType = reach.dataType;
  if (!read.ok()) state.session.error.Record(read.failure());
  if (ok) state.ResetElementTable();
  LogTouchstoneReadEnd(name, context);

  if (ok) return n;
  if (state.session.error.message() == nullptr)
    state.session.error.RecordFile(name.c_str(), ErrorCode::kTouchstoneSyntax);
  return 0;
}

int GetTouchstonePortCount(FitterState& state, const char* fileName) {
  const Result<int> n = TouchstonePortCount(NameOf(fileName));
  return n.ok() ? *n : state.session.error.Record(n.failure());
}

int ReadPoles(FitterState& state, const char* fileName, const RunContext& context) {
  if (!Admit(state, Operation::kReadPoles)) return 0;
  const std::string name = NameOf(fileName);
  Result<PoleFile> read =
      ReadPoleFile(name, {state.network.dataType, state.network.portCount}, context);
  if (!read.ok()) return state.session.error.Record(read.failure());
  PoleFile& file = read.value();

  // The fit that may follow works with at least 1000 rows and 200 columns.
  // Everything is built aside first so that a failure changes nothing.
  const int portCount = file.model->n;
  const long long rows = std::max(1000LL, 2LL * portCount);
  const long long cols = std::max(200LL, 2LL * portCount);
  WorkingSet grown;
  const bool grow = !state.workspace.work.allocated() || state.workspace.work.max_rows() < rows ||
                    state.workspace.work.max_cols() < cols;
  if (grow && !grown.Allocate(std::max<long long>(rows, state.workspace.work.max_rows()),
                              std::max<long long>(cols, state.workspace.work.max_cols()))) {
    return state.session.error.Record(ErrorCode::kSizeExceedsWorkspace);
  }
  auto elements = std::make_unique<ElementTable>(portCount, file.model->dataType);

  state.network.portCount = portCount;
  state.network.dataType = file.model->dataType;
  state.network.impedances = file.model->impedances;
  state.network.elements = std::move(elements);
  state.network.symmetric = file.model->symmetric;
  state.model = std::move(file.model);
  state.settings.individualPoles = true;
  state.session.fileComment = std::move(file.comment);
  if (grow) state.workspace.work = std::move(grown);
  LogPoleFileReadEnd(name, context);
  return portCount;
}

int GetPolesPortCount(FitterState& state, const char* fileName) {
  const Result<int> n = PoleFilePortCount(NameOf(fileName));
  return n.ok() ? *n : state.session.error.Record(n.failure());
}

int WriteTouchstone(FitterState& state, const char* fileName, int format) {
  if (!Admit(state, Operation::kWriteTouchstone)) return 0;
  const Status written =
      WriteTouchstoneFile(fileName, *state.network.data, HeaderOf(state), format);
  return written.ok() ? 1 : state.session.error.Record(written.failure());
}

int WriteDataTable(FitterState& state, const char* fileName, int i, int j, bool header, bool negate,
                   double offset) {
  if (!Admit(state, Operation::kWriteDataTable)) return 0;
  bool headerRefused = false;
  const Status written = WriteDataTableFile(fileName, *state.network.data, HeaderOf(state), header,
                                            i, j, negate, offset, &headerRefused);
  if (headerRefused) state.session.error.Record(ErrorCode::kUnknownDataType);
  return written.ok() ? 1 : state.session.error.Record(written.failure());
}

int WritePoles(FitterState& state, const char* fileName, const RunContext& context) {
  if (!Admit(state, Operation::kWritePoles)) return 0;
  const PoleFileModel content{*state.model, state.session.outputComment};
  const Status written = WritePoleFile(NameOf(fileName), content, context);
  return written.ok() ? 1 : state.session.error.Record(written.failure());
}

int WriteSubcircuit(FitterState& state, const char* fileName, const RunContext& context) {
  const std::string name = NameOf(fileName);
  context.Banner(" ****** Writing subckt to " + name + " ******\n");
  // The port circuits need one reference impedance per port.
  if (!Admit(state, Operation::kWriteSubcircuit)) return 0;
  const Status written = WriteSubcircuitFile(name, *state.model, context);
  return written.ok() ? 1 : state.session.error.Record(written.failure());
}

int ReadAnyTouchstone(cFitAPI& fitter, const char* fileName) {
  auto* own = dynamic_cast<cCfit*>(&fitter);
  if (own == nullptr) return fitter.ReadTouchstone(fileName);
  TouchstoneOptions options;
  options.dialect = TouchstoneDialect::kVersion2Allowed;
  try {
    return ReadTouchstone(own->state(), fileName, options);
  } catch (...) {
    return 0;  // as the host operation: nothing leaves the library
  }
}

}  // namespace cfit
