#include "io/pole_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api/fitter_state.h"
#include "io/run_log.h"
#include "io/text_file.h"

namespace cfit {

namespace {

constexpr const char* kWritingOperation = " Writing poles to ";
constexpr const char* kReadingOperation = " Reading from pls file ";

// Limits the reader checks.
constexpr long kMaxPorts = kMaxPoleFilePorts;
constexpr long kMaxPoleLines = 5000;
constexpr double kMaxImpedance = 1e6;
constexpr double kMaxDelay = 1e5;
constexpr double kMaxResidue = 1e20;
// A pole line whose real part lies above kConstantPoleBound carries the element's
// constant term; the writer marks it with kConstantPole.
constexpr double kConstantPole = 1e25;

// Error codes of the reader; kSilent fails without recording anything.
constexpr int kSilent = -1;
constexpr int kTypeMismatch = static_cast<int>(ErrorCode::kTypesDiffer);
constexpr int kSizeMismatch = static_cast<int>(ErrorCode::kSizesDiffer);
constexpr int kBadImpedance = static_cast<int>(ErrorCode::kInvalidImpedance);
constexpr int kBadContent = static_cast<int>(ErrorCode::kInvalidPoleFile);

// Entry `index` of an N x N model table; 0 where the table is missing.
double Entry(const std::vector<double>& table, std::size_t index) {
  return index < table.size() ? table[index] : 0.0;
}

const PoleList& ElementList(const Model& model, std::size_t index) {
  static const PoleList kNone;
  return index < model.elementPoles.size() ? model.elementPoles[index] : kNone;
}

// ---------------------------------------------------------------------------
// Writing

void WriteTypeLine(OutputFile& file, int dataType, int n) {
  switch (dataType) {
    case kY: file.Put("Y "); break;
    case kZ: file.Put("Z "); break;
    case kPulse: file.Put("P "); break;
    default: break;  // S and ABCD carry no letter
  }
  file.Print("%d\n", n);
}

// The pole is written with the sign of its imaginary part turned, so that
// both pole numbers of a stored pole are >= 0 (0 - im keeps a real pole's 0
// positive).
void WritePoleLine(OutputFile& file, Complex pole, Complex residue) {
  file.Print("%22.14le %22.14le  ", pole.re, 0.0 - pole.im);
  file.Print("%22.14le %22.14le\n", residue.re, residue.im);
}

// The delay and asymptote lines of an element, and its pole-line count. Both
// values carry the pole lines' 15 significant digits, so that a long delay
// keeps its phase at high frequencies when the file is read back.
void WriteElementHead(OutputFile& file, const PoleFileModel& content, std::size_t index,
                      int count) {
  const Model& model = content.model;
  const double tau = Entry(model.delay, index);
  const double e = Entry(model.proportional, index);
  if (tau != 0.0) file.Print("delay: %.14le\n", tau);
  if (content.model.dataType != kS && content.model.dataType != kPulse && e != 0.0) {
    file.Print("asymp: %.14le\n", e);
  }
  file.Print("%d\n", count);
}

void WriteIndividualPoles(OutputFile& file, const PoleFileModel& content) {
  const Model& model = content.model;
  const int n = content.model.n;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t own = model.Index(i, j);
      // With a symmetric matrix the upper triangle reads the lower one's list.
      const std::size_t source = (content.model.symmetric && i < j) ? model.Index(j, i) : own;
      const PoleList& poles = ElementList(model, source);
      const double d = Entry(model.constant, own);
      WriteElementHead(file, content, own, static_cast<int>(poles.size()) + (d != 0.0 ? 1 : 0));
      for (const PoleTerm& term : poles) WritePoleLine(file, term.GetPole(), term.GetResidue00());
      if (d != 0.0) WritePoleLine(file, Complex(kConstantPole, 0.0), Complex(d, 0.0));
    }
  }
}

void WriteCommonPoles(OutputFile& file, const PoleFileModel& content) {
  const Model& model = content.model;
  const int n = content.model.n;
  const bool anyConstant =
      std::any_of(model.constant.begin(), model.constant.end(), [](double d) { return d != 0.0; });
  if (model.commonPoles.empty()) return;
  const int count = static_cast<int>(model.commonPoles.size()) + (anyConstant ? 1 : 0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const std::size_t own = model.Index(i, j);
      WriteElementHead(file, content, own, count);
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

// The type letter: Y, Z, P or S (any case) is consumed and must agree with
// the fitter's data type, if it has one; anything else is left for the port
// count and means S.
int ReadTypeLetter(TextReader& in, const PoleFileExpectation& expected, int* dataType) {
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
  if (expected.dataType != kNoData && expected.dataType != type) return kTypeMismatch;
  *dataType = type;
  return 0;
}

// One pole line: pole real part, minus the pole imaginary part, residue real
// and imaginary parts. A line above the constant bound adds its residue to
// the constant term, which must stay within the residue bound: the writer
// gives the constant back as one line, and the reader has to take that line
// again. Any other line becomes the element's next pole term.
int ReadPoleLine(TextReader& in, Model& model, std::size_t index) {
  double w, x, y, z;
  if (!in.ReadDouble(&w) || !in.ReadDouble(&x) || !in.ReadDouble(&y) || !in.ReadDouble(&z)) {
    return kBadContent;
  }
  if (!(w >= 0.0) || !(x >= 0.0) || !(std::fabs(y) <= kMaxResidue) ||
      !(std::fabs(z) <= kMaxResidue) || (x == 0.0 && z != 0.0)) {
    return kBadContent;
  }
  if (w > kConstantPoleBound) {
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
int ReadElement(TextReader& in, int dataType, Model& model, std::size_t index) {
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
bool ModelIsSymmetric(const Model& model, int n) {
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

// Reads the file from its type letter on into `result`. Returns 0, or the
// error code of the first check that fails (kSilent: none to record).
int ParsePoleFile(TextReader& in, const PoleFileExpectation& expected, PoleFile* result) {
  int dataType = kNoData;
  if (const int code = ReadTypeLetter(in, expected, &dataType); code != 0) return code;

  long n;
  if (!in.ReadLong(&n) || n < 1 || n > kMaxPorts) return kSilent;
  if (expected.portCount != 0 && expected.portCount != n) return kSizeMismatch;

  std::string label;
  in.ReadWord(&label);  // "R0:"
  std::vector<double> impedances(static_cast<std::size_t>(n), 0.0);
  for (double& r : impedances) {
    if (!in.ReadDouble(&r) || !(r > 0.0 && r <= kMaxImpedance)) return kBadImpedance;
  }

  result->model = std::make_unique<Model>(Model::Empty(static_cast<int>(n)));
  Model& model = *result->model;
  model.dataType = dataType;
  model.impedances = std::move(impedances);
  for (int i = 0; i < model.n; ++i) {
    for (int j = 0; j < model.n; ++j) {
      const int code = ReadElement(in, dataType, model, model.Index(i, j));
      if (code != 0) return code;
    }
  }
  model.symmetric = ModelIsSymmetric(model, model.n);
  return 0;
}

}  // namespace

Status WritePoleFile(const std::string& name, const PoleFileModel& content,
                     const RunContext& context) {
  context.Banner(" ****** Writing poles to " + name + " ********\n");
  const Failure cannotWrite = name.empty() ? Failure::Of(ErrorCode::kCannotWriteFit)
                                           : Failure::OfFile(ErrorCode::kCannotWriteFit, name);
  // A file the reader would refuse is not written at all.
  if (content.model.n > kMaxPoleFilePorts) return cannotWrite;
  OutputFile file(name.empty() ? nullptr : name.c_str());
  if (!file.is_open()) return cannotWrite;
  if (content.comment != nullptr) WriteCommentLines(file, content.comment);
  context.StartLine(kWritingOperation, name);

  WriteTypeLine(file, content.model.dataType, content.model.n);
  if (content.model.impedances.has_value()) {
    file.Put("R0: ");
    for (double r : *content.model.impedances) file.Print(" %le", r);
    file.Put("\n");
  }
  if (content.model.individual()) {
    WriteIndividualPoles(file, content);
  } else {
    WriteCommonPoles(file, content);
  }
  const bool written = file.Close();
  context.EndLine(kWritingOperation, name);
  if (!written) return cannotWrite;
  return Success();
}

Result<PoleFile> ReadPoleFile(const std::string& name, const PoleFileExpectation& expected,
                              const RunContext& context) {
  TextReader in;
  if (!in.Load(name.c_str())) return Failure::OfFile(ErrorCode::kCannotReadFit, name);
  context.Write(kReadingOperation, name, " Start: ", runlog::Timestamp(), "\n");
  PoleFile result;
  result.comment = in.ReadHeaderComment();
  const int code = ParsePoleFile(in, expected, &result);
  if (code == kBadContent) return Failure::OfFile(ErrorCode::kInvalidPoleFile, name);
  if (code == kSilent) return Failure::Silent();
  if (code != 0) return static_cast<ErrorCode>(code);
  return result;
}

void LogPoleFileReadEnd(const std::string& name, const RunContext& context) {
  context.Write(kReadingOperation, name, " End: ", runlog::Timestamp(), "\n");
}

Result<int> PoleFilePortCount(const std::string& name) {
  TextReader in;
  if (!in.Load(name.c_str())) return Failure::OfFile(ErrorCode::kCannotReadFit, name);
  in.ReadHeaderComment();
  const int c = in.Peek();
  if (!(c >= '0' && c <= '9')) in.Advance();
  long n;
  if (!in.ReadLong(&n) || n < 1 || n > kMaxPorts) return Failure::Silent();
  return static_cast<int>(n);
}

}  // namespace cfit
