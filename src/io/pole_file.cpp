#include "io/pole_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/run_log.h"
#include "io/text_file.h"

namespace cfit {

namespace {

constexpr const char* kWritingOperation = " Writing poles to ";
constexpr const char* kReadingOperation = " Reading from pls file ";

// Limits the reader checks.
constexpr long kMaxPorts = 1000;
constexpr long kMaxPoleLines = 5000;
constexpr double kMaxImpedance = 1e6;
constexpr double kMaxDelay = 1e5;
constexpr double kMaxResidue = 1e20;
// A pole line whose real part lies above this bound carries the element's
// constant term; the writer marks it with kConstantPole.
constexpr double kConstantBound = 1e20;
constexpr double kConstantPole = 1e25;

// Error codes of the reader; kSilent fails without recording anything.
constexpr int kSilent = -1;
constexpr int kTypeMismatch = 15;
constexpr int kSizeMismatch = 16;
constexpr int kBadImpedance = 17;
constexpr int kBadContent = 18;

// Entry `index` of an N x N model table; 0 where the table is missing.
double Entry(const std::vector<double>& table, std::size_t index) {
  return index < table.size() ? table[index] : 0.0;
}

const PoleList& ElementList(const FittedModel& model, std::size_t index) {
  static const PoleList kNone;
  return index < model.elementPoles.size() ? model.elementPoles[index] : kNone;
}

// ---------------------------------------------------------------------------
// Writing

void WriteTypeLine(std::FILE* file, int dataType, int n) {
  switch (dataType) {
    case kY: std::fputs("Y ", file); break;
    case kZ: std::fputs("Z ", file); break;
    case kPulse: std::fputs("P ", file); break;
    default: break;  // S and ABCD carry no letter
  }
  std::fprintf(file, "%d\n", n);
}

// The pole is written with the sign of its imaginary part turned, so that
// both pole numbers of a stored pole are >= 0 (0 - im keeps a real pole's 0
// positive).
void WritePoleLine(std::FILE* file, Complex pole, Complex residue) {
  std::fprintf(file, "%22.14le %22.14le  ", pole.re, 0.0 - pole.im);
  std::fprintf(file, "%22.14le %22.14le\n", residue.re, residue.im);
}

// The delay and asymptote lines of an element, and its pole-line count. Both
// values carry the pole lines' 15 significant digits, so that a long delay
// keeps its phase at high frequencies when the file is read back.
void WriteElementHead(std::FILE* file, const FitterState& state, std::size_t index, int count) {
  const FittedModel& model = *state.model;
  const double tau = Entry(model.delay, index);
  const double e = Entry(model.proportional, index);
  if (tau != 0.0) std::fprintf(file, "delay: %.14le\n", tau);
  if (state.dataType != kS && state.dataType != kPulse && e != 0.0) {
    std::fprintf(file, "asymp: %.14le\n", e);
  }
  std::fprintf(file, "%d\n", count);
}

void WriteIndividualPoles(std::FILE* file, const FitterState& state) {
  const FittedModel& model = *state.model;
  const int n = state.portCount;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t own = model.Index(i, j);
      // With a symmetric matrix the upper triangle reads the lower one's list.
      const std::size_t source = (state.symmetric && i < j) ? model.Index(j, i) : own;
      const PoleList& poles = ElementList(model, source);
      const double d = Entry(model.constant, own);
      WriteElementHead(file, state, own, static_cast<int>(poles.size()) + (d != 0.0 ? 1 : 0));
      for (const PoleTerm& term : poles) WritePoleLine(file, term.GetPole(), term.GetResidue00());
      if (d != 0.0) WritePoleLine(file, Complex(kConstantPole, 0.0), Complex(d, 0.0));
    }
  }
}

void WriteCommonPoles(std::FILE* file, const FitterState& state) {
  const FittedModel& model = *state.model;
  const int n = state.portCount;
  const bool anyConstant =
      std::any_of(model.constant.begin(), model.constant.end(), [](double d) { return d != 0.0; });
  if (model.commonPoles.empty()) return;
  const int count = static_cast<int>(model.commonPoles.size()) + (anyConstant ? 1 : 0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t own = model.Index(i, j);
      WriteElementHead(file, state, own, count);
      for (const PoleTerm& term : model.commonPoles) {
        WritePoleLine(file, term.GetPole(), term.GetResidue(i, j));
      }
      if (anyConstant) {
        WritePoleLine(file, Complex(kConstantPole, 0.0), Complex(Entry(model.constant, own), 0.0));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Reading

// What a successful read puts into the fitter.
struct ReadResult {
  int n = 0;
  int dataType = kNoData;
  std::string comment;
  std::vector<double> impedances;
  std::unique_ptr<FittedModel> model;
  bool symmetric = true;
};

// The type letter: Y, Z, P or S (any case) is consumed and must agree with
// the fitter's data type, if it has one; anything else is left for the port
// count and means S.
int ReadTypeLetter(TextReader& in, const FitterState& state, int* dataType) {
  const int c = in.Peek();
  int type = kNoData;
  switch (c) {
    case 'Y':
    case 'y': type = kY; break;
    case 'Z':
    case 'z': type = kZ; break;
    case 'P':
    case 'p': type = kPulse; break;
    case 'S':
    case 's': type = kS; break;
    default: break;
  }
  if (type == kNoData) {
    *dataType = kS;
    return 0;
  }
  in.Advance();
  if (state.dataType != kNoData && state.dataType != type) return kTypeMismatch;
  *dataType = type;
  return 0;
}

// One pole line: pole real part, minus the pole imaginary part, residue real
// and imaginary parts. A line above the constant bound adds its residue to
// the constant term, which must stay within the residue bound: the writer
// gives the constant back as one line, and the reader has to take that line
// again. Any other line becomes the element's next pole term.
int ReadPoleLine(TextReader& in, FittedModel& model, std::size_t index) {
  double w, x, y, z;
  if (!in.ReadDouble(&w) || !in.ReadDouble(&x) || !in.ReadDouble(&y) || !in.ReadDouble(&z)) {
    return kBadContent;
  }
  if (!(w >= 0.0) || !(x >= 0.0) || !(std::fabs(y) <= kMaxResidue) ||
      !(std::fabs(z) <= kMaxResidue) || (x == 0.0 && z != 0.0)) {
    return kBadContent;
  }
  if (w > kConstantBound) {
    if (x != 0.0) return kBadContent;
    const double constant = model.constant[index] + y;
    if (!(std::fabs(constant) <= kMaxResidue)) return kBadContent;
    model.constant[index] = constant;
    return 0;
  }
  // An infinite imaginary part is no pole any writer or evaluation can use.
  if (!std::isfinite(x)) return kBadContent;
  PoleTerm term;
  term.SetPole(w, x == 0.0 ? 0.0 : -x);
  term.SetResidue00(Complex(y, z));
  model.elementPoles[index].push_back(term);
  return 0;
}

// The delay and asymptote lines and the pole lines of element `index`. An
// asymptote must be finite, and 0 for S and pulse models.
int ReadElement(TextReader& in, int dataType, FittedModel& model, std::size_t index) {
  std::string word;
  for (;;) {
    if (!in.ReadWord(&word)) return kBadContent;
    double value;
    if (word == "delay:") {
      if (!in.ReadDouble(&value) || !(value >= 0.0 && value <= kMaxDelay)) return kBadContent;
      model.delay[index] = value;
    } else if (word == "asymp:") {
      if (!in.ReadDouble(&value) || !std::isfinite(value)) return kBadContent;
      if ((dataType == kS || dataType == kPulse) && value != 0.0) return kBadContent;
      model.proportional[index] = value;
    } else {
      break;
    }
  }
  long count;
  if (!ConvertLeadingInteger(word, &count) || count < 0 || count > kMaxPoleLines) {
    return kBadContent;
  }
  for (long k = 0; k < count; ++k) {
    if (const int code = ReadPoleLine(in, model, index); code != 0) return code;
  }
  return 0;
}

bool SameTerms(const PoleList& a, const PoleList& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (!(a[k].GetPole() == b[k].GetPole()) || !(a[k].GetResidue00() == b[k].GetResidue00())) {
      return false;
    }
  }
  return true;
}

// A model without any pole counts as symmetric; otherwise every pair of
// mirrored elements must hold the same terms and values, compared exactly.
bool ModelIsSymmetric(const FittedModel& model, int n) {
  const bool anyPole = std::any_of(model.elementPoles.begin(), model.elementPoles.end(),
                                   [](const PoleList& poles) { return !poles.empty(); });
  if (!anyPole) return true;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      const std::size_t a = model.Index(i, j);
      const std::size_t b = model.Index(j, i);
      if (model.delay[a] != model.delay[b] || model.proportional[a] != model.proportional[b] ||
          model.constant[a] != model.constant[b] ||
          !SameTerms(model.elementPoles[a], model.elementPoles[b])) {
        return false;
      }
    }
  }
  return true;
}

std::unique_ptr<FittedModel> EmptyModel(int n) {
  auto model = std::make_unique<FittedModel>();
  const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  model->n = n;
  model->elementPoles.assign(nn, PoleList{});
  model->constant.assign(nn, 0.0);
  model->proportional.assign(nn, 0.0);
  model->delay.assign(nn, 0.0);
  model->rmsError.assign(nn, 0.0);
  model->maxError.assign(nn, 0.0);
  return model;
}

// Reads the file from its type letter on into `result`. Returns 0, or the
// error code of the first check that fails (kSilent: none to record).
int ParsePoleFile(TextReader& in, const FitterState& state, ReadResult* result) {
  if (const int code = ReadTypeLetter(in, state, &result->dataType); code != 0) return code;

  long n;
  if (!in.ReadLong(&n) || n < 1 || n > kMaxPorts) return kSilent;
  if (state.portCount != 0 && state.portCount != n) return kSizeMismatch;
  result->n = static_cast<int>(n);

  std::string label;
  in.ReadWord(&label);  // "R0:"
  result->impedances.assign(static_cast<std::size_t>(n), 0.0);
  for (double& r : result->impedances) {
    if (!in.ReadDouble(&r) || !(r > 0.0 && r <= kMaxImpedance)) return kBadImpedance;
  }

  result->model = EmptyModel(result->n);
  FittedModel& model = *result->model;
  for (int i = 0; i < result->n; ++i) {
    for (int j = 0; j < result->n; ++j) {
      const int code = ReadElement(in, result->dataType, model, model.Index(i, j));
      if (code != 0) return code;
    }
  }
  result->symmetric = ModelIsSymmetric(model, result->n);
  return 0;
}

}  // namespace

int WritePoles(FitterState& state, const char* fileName) {
  if (!state.HasFit()) return state.error.Record(ErrorCode::kNoFit);
  const std::string name = fileName != nullptr ? fileName : "";
  runlog::Banner(" ****** Writing poles to " + name + " ********\n");

  OutputFile file(name.empty() ? nullptr : name.c_str());
  if (file.get() == nullptr) {
    return name.empty() ? state.error.Record(ErrorCode::kCannotWriteFit)
                        : state.error.RecordFile(name.c_str(), ErrorCode::kCannotWriteFit);
  }
  if (state.outputComment != nullptr) WriteCommentLines(file.get(), state.outputComment);
  runlog::StartLine(kWritingOperation, name);

  WriteTypeLine(file.get(), state.dataType, state.portCount);
  if (state.impedances.has_value()) {
    std::fputs("R0: ", file.get());
    for (double r : *state.impedances) std::fprintf(file.get(), " %le", r);
    std::fputs("\n", file.get());
  }
  if (state.model->individual()) {
    WriteIndividualPoles(file.get(), state);
  } else {
    WriteCommonPoles(file.get(), state);
  }
  file.Close();
  runlog::EndLine(kWritingOperation, name);
  return 1;
}

int ReadPoles(FitterState& state, const char* fileName) {
  if (state.HasFit()) return state.error.Record(ErrorCode::kPoleReadWithFit);
  const std::string name = fileName != nullptr ? fileName : "";
  TextReader in;
  if (!in.Load(fileName)) return state.error.RecordFile(name.c_str(), ErrorCode::kCannotReadFit);
  runlog::Write(kReadingOperation, name, " Start: ", runlog::Timestamp(), "\n");

  // Everything is read aside and put into the fitter only once the whole
  // file has passed its checks, so that a failed read changes nothing.
  ReadResult result;
  result.comment = in.ReadHeaderComment();
  const int code = ParsePoleFile(in, state, &result);
  if (code == kBadContent) return state.error.RecordFile(name.c_str(), ErrorCode::kInvalidPoleFile);
  if (code == kSilent) return 0;
  if (code != 0) return state.error.Record(static_cast<ErrorCode>(code));

  // The fit that may follow works with at least 1000 rows and 200 columns.
  const long long rows = std::max(1000LL, 2LL * result.n);
  const long long cols = std::max(200LL, 2LL * result.n);
  WorkingSet grown;
  const bool grow =
      !state.work.allocated() || state.work.max_rows() < rows || state.work.max_cols() < cols;
  if (grow && !grown.Allocate(std::max<long long>(rows, state.work.max_rows()),
                              std::max<long long>(cols, state.work.max_cols()))) {
    return state.error.Record(ErrorCode::kSizeExceedsWorkspace);
  }
  auto elements = std::make_unique<ElementTable>(result.n, result.dataType);

  state.portCount = result.n;
  state.dataType = result.dataType;
  state.impedances = std::move(result.impedances);
  state.elements = std::move(elements);
  state.model = std::move(result.model);
  state.settings.individualPoles = true;
  state.symmetric = result.symmetric;
  state.fileComment = std::move(result.comment);
  if (grow) state.work = std::move(grown);

  runlog::Write(kReadingOperation, name, " End: ", runlog::Timestamp(), "\n");
  return result.n;
}

int GetPolesPortCount(FitterState& state, const char* fileName) {
  TextReader in;
  if (!in.Load(fileName)) {
    return state.error.RecordFile(fileName != nullptr ? fileName : "", ErrorCode::kCannotReadFit);
  }
  in.ReadHeaderComment();
  const int c = in.Peek();
  if (!(c >= '0' && c <= '9')) in.Advance();
  long n;
  if (!in.ReadLong(&n) || n < 1 || n > kMaxPorts) return 0;
  return static_cast<int>(n);
}

}  // namespace cfit
