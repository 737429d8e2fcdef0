// Every operation of the fitter interface, called in every state a host can
// reach, with valid arguments and with the arguments a careless host passes:
// null pointers, element indices -1, N and 1 << 30, numbers that are not
// finite, an empty file name and a directory as file name. Each call must end
// as its checks say, keep data and model when it fails or refuses an
// argument, and leave a fitter that still loads, fits and evaluates.
//
// An operation is one row: how to call it, the conditions it checks in the
// order it checks them (each with the error it records), and what a bad
// argument does where the valid call succeeds. The expected outcome of every
// call is computed from its row in one place, Expected(). The operations come
// from the facade's operation table; the checks here are this test's own
// reading of what each operation must do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "api/cfit_impl.h"
#include "api/errors.h"
#include "api/operation_table.h"
#include "support/fitter_fixtures.h"
#include "support/log_capture.h"

namespace cfit {
namespace {

using testing::Fitter;
using testing::LoadSynthetic;
using testing::MakeFitter;
using testing::Scratch;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------------------
// States: what a host can see of a fitter, and how to reach it.

// kData: a data set exists (it may be empty); kModel: model tables exist (a
// fit, or DefineModel); kCommon: one pole set for all elements; kMessage: an
// error was recorded on the way to the state; kLettered: a type with a letter
// in files; kMixed: mixed mode, which no state here reaches.
// clang-format off
enum Fact {
  kData, kPoints, kTwoPoints, kFit, kModel, kElements, kImpedances, kSymmetric, kCommon,
  kFiniteData, kFiniteModel, kMessage, kSyz, kTypeS, kSOrPulse, kLettered, kPulseType, kOnePort,
  kMultiPort, kFourPorts, kDataOrFit, kMixed, kFactCount
};
// clang-format on

struct State {
  std::string name;
  int n = 0, type = 0, points = 0;
  std::function<Fitter()> build;
  std::vector<bool> facts = std::vector<bool>(kFactCount);
  bool Has(Fact f) const { return facts[f]; }
};

// Flags: d data set, f fit, m model tables, e element table, z impedances,
// a asymmetric, c common poles, D data not finite, M model not finite, ! an
// error recorded.
State Make(std::string name, int n, int type, int points, const std::string& flags,
           std::function<Fitter()> build) {
  auto has = [&](char c) { return flags.find(c) != std::string::npos; };
  State s{std::move(name), n, type, points, std::move(build)};
  auto& f = s.facts;
  // clang-format off
  f[kData] = has('d'), f[kPoints] = points > 0, f[kTwoPoints] = points > 1, f[kFit] = has('f');
  f[kModel] = has('m') || has('f'), f[kElements] = has('e'), f[kImpedances] = has('z');
  f[kSymmetric] = !has('a'), f[kCommon] = has('c'), f[kFiniteData] = !has('D');
  f[kFiniteModel] = !has('M'), f[kMessage] = has('!'), f[kDataOrFit] = has('d') || has('f');
  f[kSyz] = type == kS || type == kY || type == kZ, f[kTypeS] = type == kS;
  f[kSOrPulse] = type == kS || type == kPulse, f[kLettered] = type >= kS && type <= kPulse;
  f[kPulseType] = type == kPulse, f[kOnePort] = n == 1, f[kMultiPort] = n >= 2;
  f[kFourPorts] = n == 4;
  // clang-format on
  return s;
}

// A model fitted to the synthetic data of (n, type), written once.
std::string PoleFile(int n, int type) {
  static std::map<std::pair<int, int>, std::string> files;
  std::string& file = files[{n, type}];
  if (file.empty()) {
    Fitter f = MakeFitter();
    if (type == kPulse) {
      const double pole[2] = {1e9, 0.0}, residue[2] = {0.5, 0.0};
      f->DefineModel(1, kPulse, nullptr, true);
      f->SetElementModel(0, 0, 1, 0.1, 0.0, 0.0, pole, residue);
    } else {
      LoadSynthetic(*f, n, type);
      EXPECT_EQ(f->Fit(), 1);
    }
    file = Scratch().NewFile("model");
    EXPECT_EQ(f->WritePoles(file.c_str()), 1);
  }
  return file;
}

// The pole file a state can read, and its port count: the state's own size
// and type where it has them (a file without a type letter reads as S).
std::pair<std::string, int> PoleFileFor(const State& s) {
  if (s.n == 0) return {PoleFile(2, kS), 2};
  if (s.type == kPulse) return {PoleFile(1, kPulse), 1};
  return {PoleFile(s.n, s.Has(kSyz) ? s.type : kS), s.n};
}

std::string WriteText(const std::string& text) {
  std::string name = Scratch().NewFile("text");
  std::FILE* file = std::fopen(name.c_str(), "w");
  std::fputs(text.c_str(), file);
  std::fclose(file);
  return name;
}

std::string TouchstoneFile() {
  static const std::string file = [] {
    Fitter f = MakeFitter();
    LoadSynthetic(*f, 2, kS);
    std::string name = Scratch().NewFile("data") + ".s2p";
    EXPECT_EQ(f->WriteTouchstone(name.c_str(), 0), 1);
    return name;
  }();
  return file;
}

Fitter WithData(int n, int type, double asymmetry = 1.0, bool individual = true) {
  Fitter f = MakeFitter(individual);
  LoadSynthetic(*f, n, type, 20, asymmetry);
  return f;
}

Fitter Then(Fitter f, const std::function<void(cFitAPI&)>& step) {
  step(*f);
  return f;
}

// Six reciprocal 2-port points; the fourth holds `word` (read as the C
// library converts it) in the diagonal or in the transfer elements.
Fitter Read(const char* option, const char* word, bool transfer) {
  std::string text = std::string(option) + "\n";
  for (int k = 1; k <= 6; ++k) {
    const std::string odd = k == 4 ? word : "0.1", off = transfer ? odd : "0.1";
    const std::string diagonal = k == 4 && !transfer ? word : "0.3";
    text += std::to_string(k) + "e9 0.3 0 " + off + " 0 " + off + " 0 " + diagonal + " 0\n";
  }
  return Then(MakeFitter(), [&](cFitAPI& f) { f.ReadTouchstone(WriteText(text).c_str()); });
}

// Data that a type conversion leaves singular: a 2-port without transfer
// has no chain matrix (NaN everywhere); an ideal short has no admittance.
Fitter Converted(int n, std::complex<double> diagonal, int target) {
  Fitter f = MakeFitter();
  const double z[2] = {50.0, 50.0};
  f->BeginData(n, kS, z);
  testing::PointRecord record(n);
  for (int k = 0; k < 10; ++k) {
    for (int i = 0; i < n; ++i) record.Set(i, i, diagonal);
    f->AddDataPoint(record.get(1e8 * (k + 1)));
  }
  f->EndData();
  f->ConvertDataType(target);
  return f;
}

// A caller-defined S model with two terms at (1, 0), or (0, 0) for a 1-port.
Fitter Defined(int n, bool withTerms) {
  Fitter f = MakeFitter();
  const double p[4] = {1e9, 0, 2e9, -3e9}, r[4] = {0.2, 0, 0.1, 0.05};
  f->DefineModel(n, kS, nullptr, true);
  if (withTerms) f->SetElementModel(std::min(n - 1, 1), 0, 2, 0.1, 0.0, 1e-10, p, r);
  return f;
}

void ReadPoles(cFitAPI& f, int n, int type) { f.ReadPoles(PoleFile(n, type).c_str()); }

std::vector<State> MakeStates() {
  std::vector<State> s;
  s.push_back(Make("New", 0, 0, 0, "", [] { return MakeFitter(); }));
  for (int n = 1; n <= 4; ++n) {
    for (int t : {kS, kY, kZ}) {
      const std::string size = std::to_string(n) + "Port" + "?SYZ"[t];
      auto model = [=](cFitAPI& f) { ReadPoles(f, n, t); };
      s.push_back(Make("Data" + size, n, t, 20, "dez", [=] { return WithData(n, t); }));
      s.push_back(Make("Fit" + size, n, t, 0, "fez", [=] { return Then(MakeFitter(), model); }));
      s.push_back(
          Make("DataFit" + size, n, t, 20, "dfez", [=] { return Then(WithData(n, t), model); }));
    }
  }
  auto fit = [](Fitter f) { return Then(std::move(f), [](cFitAPI& g) { g.Fit(); }); };
  auto abcd = [] { return Then(WithData(2, kS), [](cFitAPI& f) { f.ConvertDataType(kABCD); }); };
  // clang-format off
  s.push_back(Make("Asymmetric", 2, kS, 20, "deza", [] { return WithData(2, kS, 1.5); }));
  s.push_back(Make("AsymmetricFit", 2, kS, 20, "dfeza", [=] { return fit(WithData(2, kS, 1.5)); }));
  s.push_back(Make("CommonPoleFit", 3, kS, 20, "dfezc",
                   [=] { return fit(WithData(3, kS, 1, 0)); }));
  s.push_back(Make("Abcd", 2, kABCD, 20, "dez", abcd));
  s.push_back(Make("AbcdFit", 2, kABCD, 20, "dfez", [=] { return fit(abcd()); }));
  s.push_back(Make("NaNAbcd", 2, kABCD, 10, "dezD", [] { return Converted(2, 0.5, kABCD); }));
  s.push_back(Make("ShortAsY", 1, kY, 10, "dez", [] { return Converted(1, -1.0, kY); }));
  s.push_back(Make("NaNRead", 2, kS, 6, "dezD", [] { return Read("# HZ S RI R 50", "nan", 0); }));
  s.push_back(Make("InfDataFit", 2, kZ, 6, "dfezD", [] {
    return Then(Read("# HZ Z RI R 50", "inf", true), [](cFitAPI& f) { ReadPoles(f, 2, kZ); });
  }));
  s.push_back(Make("PulseData", 1, kPulse, 20, "dez", [] { return WithData(1, kPulse); }));
  s.push_back(Make("PulseModel", 1, kPulse, 0, "fez", [] {
    return Then(MakeFitter(), [](cFitAPI& f) { ReadPoles(f, 1, kPulse); });
  }));
  s.push_back(Make("UnknownType", 2, 9, 20, "dez", [] { return WithData(2, 9); }));
  s.push_back(Make("EmptySet", 2, kS, 0, "dez", [] {
    return Then(MakeFitter(), [](cFitAPI& f) { f.BeginData(2, kS, nullptr), f.EndData(); });
  }));
  s.push_back(Make("DefinedModel", 3, kS, 0, "fez", [] { return Defined(3, true); }));
  s.push_back(Make("DefinedWithoutTerms", 2, kS, 0, "mez", [] { return Defined(2, false); }));
  // clang-format on
  // No interface operation stores a number that is not finite into a model,
  // so the terms are overwritten in place.
  s.push_back(Make("NaNModel", 1, kS, 0, "fezM", [] {
    Fitter f = Defined(1, true);
    f->state().model->constant[0] = kNaN;
    for (PoleList& list : f->state().model->elementPoles) {
      for (PoleTerm& term : list) term.SetResidue00(Complex(kNaN, 0.0));
    }
    return f;
  }));
  // The option line fails after its type word: the port count and the type
  // stay, with neither data nor an element table.
  s.push_back(Make("FailedRead", 1, kS, 0, "!", [] {
    return Then(MakeFitter(), [](cFitAPI& f) {
      f.ReadTouchstone(WriteText("# GHZ S R 50\n1 0.1 0\n2 0.2 0\n").c_str());
    });
  }));
  return s;
}

const std::vector<State>& States() {
  static const std::vector<State> states = MakeStates();
  return states;
}

// ---------------------------------------------------------------------------
// Outcomes, checks and calls

constexpr int kNoMessage = 0;
constexpr int kSomeMessage = -1;
constexpr int kUnchecked = -2;

struct Outcome {
  enum Kind { kOk, kFail, kAny, kValue, kSame } kind = kAny;
  int code = kUnchecked;  // a listed code, or one of the three above
  long value = 0;
};
Outcome Ok(int code = kNoMessage) { return {Outcome::kOk, code}; }
Outcome Fail(int code = kNoMessage) { return {Outcome::kFail, code}; }
Outcome Any(int code = kUnchecked) { return {Outcome::kAny, code}; }
Outcome Value(long v) { return {Outcome::kValue, kNoMessage, v}; }
// The bad argument changes nothing: the outcome of the valid call.
Outcome Same() { return {Outcome::kSame}; }

// One condition an operation checks. Unmet, it refuses with `code`, records
// `code` and goes on, or makes the result unspecified.
struct Check {
  Fact fact;
  bool wanted = true;
  enum Effect { kRefuse, kRecord, kUnspecified } effect = kRefuse;
  int code = kNoMessage;
};
Check Need(Fact f, int code = kNoMessage) { return {f, true, Check::kRefuse, code}; }
Check Without(Fact f, int code = kNoMessage) { return {f, false, Check::kRefuse, code}; }
Check Warn(Fact f, int code) { return {f, true, Check::kRecord, code}; }
Check Unspecified(Fact f, int code = kUnchecked) { return {f, true, Check::kUnspecified, code}; }

// The result once every check has passed.
enum class Success { kNonZero, kAny, kPortCount, kDataType, kOne, kTwo, kPoleFilePorts };

enum class Variant { kValid, kBadI, kBadJ, kNull, kEmptyName, kDirectory, kNumber };

struct Call {
  Variant variant = Variant::kValid;
  int n = 0, i = 0, j = 0;
  int bad = 0;             // the index of kBadI and kBadJ
  double nonFinite = 0.0;  // the number of kNumber
  bool common = false;     // the state's fit has common poles
  std::string file;

  bool null() const { return variant == Variant::kNull; }
  // A single index-like argument: `valid`, or the bad index with N standing
  // for `forN`.
  int Index(int valid, int forN) const {
    return variant != Variant::kBadI ? valid : bad == n ? forN : bad;
  }
  double Number(double valid) const { return variant == Variant::kNumber ? nonFinite : valid; }
  template <class T>
  T* Ptr(T* valid) const {
    return null() ? nullptr : valid;
  }
  const char* name() const { return null() ? nullptr : file.c_str(); }
};

// Arguments an operation takes, each giving bad variants.
enum Args : unsigned { kNoArgs = 0, kElement = 1, kIndex = 2, kPointer = 4, kNumber = 8 };
enum class FileRole { kNone, kTouchstoneIn, kPolesIn, kOut };

// What a bad argument does where the valid call succeeds.
struct Bad {
  Outcome negative = Fail();                                // index -1
  Outcome large = Fail();                                   // index N or 1 << 30
  Outcome null = Fail();                                    // null pointer or file name
  Outcome file = Fail();                                    // empty name, a directory
  Outcome number = Fail();                                  // NaN, infinities
  Outcome (*special)(const State&, const Call&) = nullptr;  // replaces the above
};
// Every bad argument refused with `code`; a null out-pointer skipped.
Bad Refused(int code, bool nullSkipped = false) {
  return {Fail(code), Fail(code), nullSkipped ? Same() : Fail(code), Fail(code), Fail(code)};
}
Bad NullSkipped(int code = kNoMessage) { return Refused(code, true); }

using Caller = long (*)(cFitAPI&, const Call&);

struct Row {
  const char* name;
  Caller call;
  std::vector<Check> checks;
  Success success = Success::kNonZero;
  unsigned args = kNoArgs;
  FileRole file = FileRole::kNone;
  Bad bad = Refused(kNoMessage);
  bool inPlace = false;  // a failure may change data or model
  bool reinit = false;   // a valid Init must follow before the fitter is used

  Row Returns(Success s) && { return success = s, std::move(*this); }
  Row Takes(unsigned a, Bad b, FileRole f = FileRole::kNone) && {
    return args = a, bad = b, file = f, std::move(*this);
  }
  Row InPlace() && { return inPlace = true, std::move(*this); }
  Row Reinit() && { return reinit = true, std::move(*this); }
};
Row Op(const char* name, Caller call, std::vector<Check> checks = {}) {
  return Row{name, call, std::move(checks)};
}

double a[2], b[2], poles[1024], residues[1024];
double** rms;
double** largest;
int poleCount;
std::vector<double> Ohms(int n) { return std::vector<double>(std::max(n, 4), 50.0); }

cFitAPI& Other() {
  static Fitter other = Then(MakeFitter(), [](cFitAPI& f) { LoadSynthetic(f, 2, kS, 5); });
  return *other;
}

// The length of the host's array cannot be checked: a count of N or 1 << 30
// stays within the three frequencies.
long SweepAtList(cFitAPI& f, const Call& c) {
  static double frequencies[3];
  frequencies[0] = 1e8, frequencies[1] = c.Number(1e9), frequencies[2] = 5e9;
  return f.SweepModelAtList(std::min(c.Index(3, 2), 3), c.Ptr(frequencies));
}

// A null record and a record without rows are refused alike.
long AddPoint(cFitAPI& f, const Call& c) {
  testing::PointRecord record(c.n);
  for (int i = 0; i < c.n; ++i) record.Set(i, i, {c.Number(0.1), 0.0});
  if (!c.null()) return f.AddDataPoint(record.get(c.Number(1e12)));
  DataPointRecord noRows{1e12, nullptr};
  return f.AddDataPoint(nullptr) || (c.n > 0 && f.AddDataPoint(&noRows));
}

long Init(cFitAPI& f, const Call& c) {
  cFitParams p = testing::SmallParams(!c.common);
  p.maxFrequencyPoints = c.Index(200, 200);
  return f.Init(c.Ptr(&p));
}

// With null arrays the scalars are still stored first.
long SetTerms(cFitAPI& f, const Call& c) {
  const double pole[2] = {1e9, c.Number(-2e9)}, residue[2] = {0.1, 0.05};
  return f.SetElementModel(c.i, c.j, 1, 0.1, 0.0, 0.0, c.Ptr(pole), c.Ptr(residue));
}

char cancelByte = 0;
// A port count: the state's own, 2 for a new fitter; a bad one stands for 0.
int Size(const Call& c) { return c.Index(c.n > 0 ? c.n : 2, 0); }

#define CALL(expr) [](cFitAPI& f, [[maybe_unused]] const Call& c) -> long { return expr; }

const std::vector<Check> kDataG = {Need(kPoints, 20), Need(kSymmetric, 20), Need(kSyz, 1003)};
const std::vector<Check> kModelG = {Need(kFit, 19), Need(kSymmetric, 19), Need(kSyz, 1003),
                                    Need(kFiniteModel, 30)};
const std::vector<Check> kDataMargins = {Need(kData, 6), Need(kSyz, 1003), Need(kPoints, 33),
                                         Need(kFiniteData, 33)};
const std::vector<Check> kModelMargins = {Need(kFit, 8), Need(kSyz, 1003), Need(kFiniteModel, 34)};
const std::vector<Check> kModelCheck = {Need(kFit, 12), Need(kSyz, 1003), Need(kFiniteModel, 27)};
const std::vector<Check> kSweep = {Need(kFit, 8), Unspecified(kFiniteModel)};

// The operations that are built, each with its checks in the order it makes
// them. Notes: WriteDataTable takes an index outside the matrix as the whole
// matrix and still writes a type without a letter (recording 7);
// WriteTouchstone fails a format other than 0, 1, 2 without an error;
// GetEnforcedAccuracy logs the accuracy without out-pointers; Init with -1
// points still has the 2N rows of an N-port, 1 << 30 points more rows than
// an int counts; BeginData with a port count outside 1..4096 records 45 and
// keeps what the fitter holds; DefineModel of another size records 46 before
// the size is checked (45); a fitted Y or Z model may hold a proportional term already;
// SetCancelFlag and SetOutputComment return their (null) argument;
// SetElementDcOption and SetElementAsymptote take a negative index as every
// element; ABCD data accept any asymptote and store nothing.
// clang-format off
const std::vector<Row> kRows = {
  Op("ReadTouchstone", CALL(f.ReadTouchstone(c.name())), {Without(kData, 2), Without(kFit, 3)})
      .Takes(kNoArgs, Refused(1002), FileRole::kTouchstoneIn),
  Op("Fit", CALL(f.Fit()), {Need(kData, 5), Need(kFiniteData, 26), Need(kPoints, 26)}).InPlace(),
  Op("ReadPoles", CALL(f.ReadPoles(c.name())), {Without(kFit, 13)})
      .Takes(kNoArgs, Refused(14), FileRole::kPolesIn),
  Op("HasFit", CALL(f.HasFit()), {Need(kFit)}),
  Op("HasSampledData", CALL(f.HasSampledData()), {Need(kData)}),
  Op("IsMixedMode", CALL(f.IsMixedMode()), {Need(kMixed)}),
  Op("SetMixedModeFlag", CALL(f.SetMixedModeFlag()), {Need(kFourPorts)}),
  Op("SetStandardModeFlag", CALL(f.SetStandardModeFlag())).Returns(Success::kOne),
  Op("IsSymmetric", CALL(f.IsSymmetric()), {Need(kSymmetric)}),
  Op("CheckSymmetry", CALL(f.CheckSymmetry(c.Ptr(a), c.Ptr(b))), {Need(kSymmetric)})
      .Takes(kPointer, NullSkipped()),
  Op("Symmetrize", CALL(f.Symmetrize()), {Need(kData, 6), Without(kFit, 22)}),
  Op("CheckDataPassivity", CALL(f.CheckDataPassivity(c.Ptr(a), c.Ptr(b))),
     {Need(kData, 10), Need(kSyz, 1003), Need(kFiniteData, 33)}).Takes(kPointer, NullSkipped()),
  Op("EnforceDataPassivity", CALL(f.EnforceDataPassivity(1.0)),
     {Need(kData, 10), Need(kSyz, 1003), Need(kFiniteData, 11)}).InPlace(),
  Op("GetDataMutualConductanceDC", CALL(f.GetDataMutualConductanceDC(c.i, c.j, c.Ptr(a))), kDataG)
      .Takes(kElement | kPointer, NullSkipped(20)),
  Op("GetDataMutualConductance",
     CALL(f.GetDataMutualConductance(c.i, c.j, c.Number(1e9), c.Ptr(a), c.Ptr(b))), kDataG)
      .Takes(kElement | kPointer | kNumber, NullSkipped(20)),
  Op("GetLowestPointTransfer", CALL(f.GetLowestPointTransfer(c.i, c.j, c.Ptr(a))),
     {Need(kMultiPort, 20), Need(kPoints, 20), Need(kSyz, 1003)})
      .Takes(kElement | kPointer, NullSkipped(20)),
  Op("GetMaxElementMagnitude", CALL(f.GetMaxElementMagnitude(c.i, c.j, c.Ptr(a), c.Ptr(b))),
     {Need(kMultiPort, 20), Need(kPoints, 20)}).Takes(kElement | kPointer, NullSkipped(20)),
  Op("WriteDataTable", CALL(f.WriteDataTable(c.name(), c.i, c.j, true, true, 1)),
     {Need(kData, 6), Warn(kLettered, 7)})
      .Takes(kElement, {Same(), Same(), Fail(6), Fail(6)}, FileRole::kOut),
  Op("WriteTouchstone", CALL(f.WriteTouchstone(c.name(), c.Index(1, 3))),
     {Need(kData, 6), Need(kLettered, 7)})
      .Takes(kIndex, {Fail(), Fail(), Fail(6), Fail(6)}, FileRole::kOut),
  Op("CheckModelPassivity", CALL(f.CheckModelPassivity(c.Ptr(a), c.Ptr(b))), kModelCheck)
      .Takes(kPointer, NullSkipped()),
  Op("EnforceModelPassivity", CALL(f.EnforceModelPassivity(1.0)), kModelCheck).InPlace(),
  Op("WritePoles", CALL(f.WritePoles(c.name())), {Need(kFit, 8)})
      .Takes(kNoArgs, Refused(9), FileRole::kOut),
  Op("SweepModelAdaptive", CALL(f.SweepModelAdaptive(0.1, c.Number(2e10))), kSweep)
      .Takes(kNumber, Refused(45)),
  Op("SweepModelLinear", CALL(f.SweepModelLinear(1e9, c.Number(1e8), 1e10)), kSweep)
      .Takes(kNumber, Refused(45)),
  Op("SweepModelAtDataOf", CALL(f.SweepModelAtDataOf(c.Ptr(&Other()))), kSweep)
      .Takes(kPointer, Refused(45)),
  Op("SweepModelAtList", SweepAtList, kSweep)
      .Takes(kIndex | kPointer | kNumber, {Fail(45), Same(), Fail(45), Fail(45), Fail(45)}),
  Op("WriteSubcircuit", CALL(f.WriteSubcircuit(c.name())),
     {Need(kFit, 12), Need(kTypeS, 12), Need(kFiniteModel, 29)})
      .Takes(kNoArgs, Refused(28), FileRole::kOut),
  Op("GetModelMutualConductanceDC", CALL(f.GetModelMutualConductanceDC(c.i, c.j, c.Ptr(a))),
     kModelG)
      .Takes(kElement | kPointer, NullSkipped(19)),
  Op("GetModelMutualConductance",
     CALL(f.GetModelMutualConductance(c.i, c.j, c.Number(1e9), c.Ptr(a), c.Ptr(b))), kModelG)
      .Takes(kElement | kPointer | kNumber, NullSkipped(19)),
  Op("GetEnforcedAccuracy", CALL(f.GetEnforcedAccuracy(c.Ptr(&rms), c.Ptr(&largest))),
     {Need(kPoints), Need(kFit)}).Takes(kPointer, NullSkipped()),
  Op("Init", Init).Reinit().Takes(kIndex | kPointer, {.special = [](const State& s, const Call& c) {
    return c.null() || c.bad == s.n ? Same() : c.bad < 0 && s.n > 0 ? Ok() : Fail();
  }}),
  Op("SetEnforcementMode", CALL(f.SetEnforcementMode(c.Index(1, c.n)))).Returns(Success::kOne)
      .Takes(kIndex, {.special = [](const State&, const Call& c) { return Value(c.bad); }}),
  Op("GetFirstDataPoint", CALL(f.GetFirstDataPoint() != nullptr), {Need(kData, 6), Need(kPoints)}),
  Op("GetNextDataPoint", CALL((f.GetFirstDataPoint(), f.GetNextDataPoint() != nullptr)),
     {Need(kData, 6), Need(kTwoPoints)}),
  Op("BeginData", CALL((f.BeginData(Size(c), kS, c.Ptr(Ohms(c.n).data())), 1)))
      .Takes(kIndex | kPointer, {Ok(45), Ok(45), Same()}),
  Op("AddDataPoint", AddPoint, {Need(kData)}).Takes(kPointer | kNumber, Refused(kNoMessage)),
  Op("EndData", CALL(f.EndData()), {Need(kPoints)}).Returns(Success::kAny),
  Op("ConvertDataType", CALL(f.ConvertDataType(c.Index(f.GetDataType() == kS ? kY : kS, 6))),
     {Need(kSyz, 32), Need(kDataOrFit, 6)}).Takes(kIndex, Refused(32)),
  Op("GetDataType", CALL(f.GetDataType())).Returns(Success::kDataType),
  Op("GetPortCount", CALL(f.GetPortCount())).Returns(Success::kPortCount),
  Op("GetReferenceImpedances", CALL(f.GetReferenceImpedances() != nullptr), {Need(kImpedances)}),
  Op("GetDataPassivityMargins", CALL(f.GetDataPassivityMargins()), kDataMargins),
  Op("GetFirstDataMargin",
     CALL((f.GetDataPassivityMargins(), f.GetFirstDataMargin(c.Ptr(a), c.Ptr(b)))), kDataMargins)
      .Takes(kPointer, NullSkipped()),
  Op("GetNextDataMargin", CALL((f.GetDataPassivityMargins(), f.GetFirstDataMargin(a, b),
                                f.GetNextDataMargin(c.Ptr(a), c.Ptr(b)))), kDataMargins)
      .Takes(kPointer, NullSkipped()),
  Op("EvaluateModelElement", CALL(f.EvaluateModelElement(c.i, c.j, c.Number(1e9), c.Ptr(a))),
     {Need(kFit, 8)})
      .Takes(kElement | kPointer | kNumber, {Fail(8), Fail(8), Same(), Fail(8), Fail(45)}),
  Op("GetModelPassivityMargins", CALL(f.GetModelPassivityMargins()), kModelMargins),
  Op("GetFirstModelMargin",
     CALL((f.GetModelPassivityMargins(), f.GetFirstModelMargin(c.Ptr(a), c.Ptr(b)))), kModelMargins)
      .Takes(kPointer, NullSkipped()),
  Op("GetNextModelMargin", CALL((f.GetModelPassivityMargins(), f.GetFirstModelMargin(a, b),
                                 f.GetNextModelMargin(c.Ptr(a), c.Ptr(b)))), kModelMargins)
      .Takes(kPointer, NullSkipped()),
  Op("GetElementModelInfo", CALL(f.GetElementModelInfo(c.i, c.j, c.Ptr(&poleCount), c.Ptr(a),
                                                       c.Ptr(b), c.Ptr(a + 1))), {Need(kFit, 8)})
      .Takes(kElement | kPointer, NullSkipped(8)),
  Op("GetElementPolesResidues",
     CALL(f.GetElementPolesResidues(c.i, c.j, c.Ptr(poles), c.Ptr(residues))),
     {Need(kFit)}).Takes(kElement | kPointer, Refused(kNoMessage)),
  Op("DefineModel", CALL(f.DefineModel(Size(c), kS, c.Ptr(Ohms(4).data()), 1)))
      .Takes(kIndex | kPointer, {.special = [](const State& s, const Call& c) {
        return c.null() ? Same() : s.n > 0 ? Fail(46) : Fail(45);
      }}),
  Op("SetElementModel", SetTerms, {Need(kModel)})
      .Takes(kElement | kPointer | kNumber, Refused(kNoMessage)).InPlace(),
  Op("ConvertPulseModelToS", CALL(f.ConvertPulseModelToS(1e-9, c.Number(1.0), 0.0)),
     {Need(kFit, 8), Need(kOnePort, 8), Need(kPulseType, 8)}).Takes(kNumber, Refused(45)),
  Op("SetTimeStep", CALL((f.SetTimeStep(1e-12), 1))),
  Op("MultiplyModelByFrequency", CALL(f.MultiplyModelByFrequency(0.0, c.Number(1e-9))),
     {Need(kFit), Without(kCommon), Need(kOnePort), Unspecified(kSOrPulse, kNoMessage)})
      .Takes(kNumber, Refused(kNoMessage)),
  Op("GetProgress", CALL(f.GetProgress() != nullptr)),
  Op("SetCancelFlag", CALL(f.SetCancelFlag(c.Ptr(&cancelByte)) != nullptr))
      .Takes(kPointer, Refused(kNoMessage)),
  Op("GetErrorMessage", CALL(f.GetErrorMessage() != nullptr), {Need(kMessage)}),
  Op("GetFileComment", CALL(f.GetFileComment() != nullptr)).Returns(Success::kAny),
  Op("SetOutputComment", CALL(f.SetOutputComment(c.Ptr("a test")) != nullptr))
      .Takes(kPointer, Refused(kNoMessage)),
  Op("SetElementDcOption", CALL(f.SetElementDcOption(0, c.i, c.j, 0.5)), {Need(kElements)})
      .Takes(kElement, {Same(), Fail(45)}),
  Op("SetElementAsymptote", CALL(f.SetElementAsymptote(0, c.i, c.j, 0.1)),
     {Need(kElements), Need(kLettered)})
      .Takes(kElement, {.special = [](const State& s, const Call& c) {
        return c.bad < 0 || s.type == kABCD ? Same() : Fail(45);
      }}),
  Op("GetTouchstonePortCount", CALL(f.GetTouchstonePortCount(c.name()))).Returns(Success::kTwo)
      .Takes(kNoArgs, Refused(1001), FileRole::kTouchstoneIn),
  Op("GetPolesPortCount", CALL(f.GetPolesPortCount(c.name()))).Returns(Success::kPoleFilePorts)
      .Takes(kNoArgs, Refused(14), FileRole::kPolesIn),
};

// Operations not built yet: they fail without recording anything.
#define UNBUILT(name, args) {#name, [](cFitAPI& f) -> long { return f.name args; }}
const std::map<std::string_view, long (*)(cFitAPI&)> kUnbuilt = {
  UNBUILT(CascadeWithTouchstone, (TouchstoneFile().c_str())),
  UNBUILT(VoltageTransferFunction, (50.0, 0.02, 0)),
  UNBUILT(IsSeriesElement, ()),
  UNBUILT(IsShuntElement, ()),
  UNBUILT(IdealizeShuntElement, ()),
  UNBUILT(ExtractShuntElement, (1)),
  UNBUILT(ExtractSeriesElement, (1)),
  UNBUILT(MakeSeriesTwoPort, ()),
  UNBUILT(FitSeriesElement, ()),
  UNBUILT(ConvertToStandardMode, (1, 2, 3, 4)),
  UNBUILT(ConvertToMixedMode, (1, 2, 3, 4)),
  UNBUILT(JoinModalTwoPorts, (TouchstoneFile().c_str())),
  UNBUILT(ChangeReferenceImpedances, (Ohms(4).data())),
  UNBUILT(SetReferenceImpedance, (75.0)),
  UNBUILT(TerminatePorts, (std::vector<int>(4, 0).data())),
  UNBUILT(CombinePorts, (std::vector<unsigned char>(4, 1).data(), 0)),
  UNBUILT(ReorderPorts, (std::vector<int>{0, 1, 2, 3}.data())),
  UNBUILT(JoinModalTwoPortModels, (PoleFile(2, kS).c_str())),
  UNBUILT(GetTimeResponse, ({}, 1e-9, a, b, b + 1, 0, 0)),
  UNBUILT(WriteTimeResponse, ({}, Scratch().NewFile("t").c_str(), 0, 0)),
  UNBUILT(BuildRLCModel, (50, 1e-9, 1e-12, 0)),
  UNBUILT(FindReactanceZeroCrossing, (a)),
  {"CreateSolver", [](cFitAPI& f) -> long { return f.CreateSolver(kS) != nullptr; }},
};
// clang-format on

// ---------------------------------------------------------------------------
// Expectations

// The outcome of the valid call: the first unmet check decides.
Outcome Valid(const Row& row, const State& s) {
  int recorded = kNoMessage;
  bool unspecified = false;
  for (const Check& check : row.checks) {
    if (s.Has(check.fact) == check.wanted) continue;
    if (check.effect == Check::kRefuse) return Fail(check.code);
    unspecified = unspecified || check.effect == Check::kUnspecified;
    if (recorded == kNoMessage) recorded = check.code;
  }
  if (unspecified) return Any(recorded);
  switch (row.success) {
    case Success::kNonZero: return Ok(recorded);
    case Success::kAny: return Any(kNoMessage);
    case Success::kPortCount: return Value(s.n);
    case Success::kDataType: return Value(s.type);
    case Success::kOne: return Value(1);
    case Success::kTwo: return Value(2);
    case Success::kPoleFilePorts: return Value(PoleFileFor(s).second);
  }
  return Any();
}

bool Succeeds(const Outcome& o) {
  return o.kind == Outcome::kOk || (o.kind == Outcome::kValue && o.value != 0);
}

// The outcome of a call. `refused` tells whether the call must leave data and
// model as they were even where it returns non-zero: a bad argument that is
// not simply skipped.
Outcome Expected(const Row& row, const State& s, const Call& c, bool* refused) {
  const Outcome valid = Valid(row, s);
  *refused = false;
  if (c.variant == Variant::kValid) return valid;
  // Refused for the state already: a bad argument does not change that,
  // though it may be refused first.
  if (!Succeeds(valid)) {
    *refused = valid.kind != Outcome::kAny;
    if (valid.kind == Outcome::kAny) return Any();
    return Fail(valid.code == kNoMessage ? kUnchecked : kSomeMessage);
  }
  Outcome bad;
  if (row.bad.special != nullptr) {
    bad = row.bad.special(s, c);
  } else {
    switch (c.variant) {
      case Variant::kBadI:
      case Variant::kBadJ: bad = c.bad < 0 ? row.bad.negative : row.bad.large; break;
      case Variant::kNull: bad = row.bad.null; break;
      case Variant::kNumber: bad = row.bad.number; break;
      default: bad = row.bad.file; break;
    }
  }
  if (bad.kind == Outcome::kSame) return valid;
  *refused = bad.kind != Outcome::kAny;
  return bad;
}

// ---------------------------------------------------------------------------
// The driver

// Data and model as a host reads them, bit for bit.
std::vector<unsigned char> Contents(cFitAPI& f) {
  std::vector<double> v;
  const int n = f.GetPortCount();
  for (auto* r = f.HasSampledData() ? f.GetFirstDataPoint() : nullptr; r != nullptr;
       r = f.GetNextDataPoint()) {
    v.push_back(r->frequency);
    for (int i = 0; i < n; ++i) v.insert(v.end(), r->values[i], r->values[i] + 2 * n);
  }
  for (int e = 0; f.HasFit() && e < n * n; ++e) {
    int count = 0;
    double terms[3] = {};
    f.GetElementModelInfo(e / n, e % n, &count, terms, terms + 1, terms + 2);
    std::vector<double> p(2 * count + 2), r(2 * count + 2);
    f.GetElementPolesResidues(e / n, e % n, p.data(), r.data());
    v.insert(v.end(), terms, terms + 3);
    v.insert(v.end(), p.begin(), p.end());
    v.insert(v.end(), r.begin(), r.end());
  }
  std::vector<unsigned char> bytes(v.size() * sizeof(double));
  if (!v.empty()) std::memcpy(bytes.data(), v.data(), bytes.size());
  return bytes;
}

void ExpectOutcome(const Outcome& want, long got, const char* message) {
  switch (want.kind) {
    case Outcome::kOk: EXPECT_NE(got, 0) << "expected success"; break;
    case Outcome::kFail: EXPECT_EQ(got, 0) << "expected failure"; break;
    case Outcome::kValue: EXPECT_EQ(got, want.value); break;
    default: break;
  }
  if (want.code == kNoMessage || want.code == kSomeMessage) {
    EXPECT_EQ(message == nullptr, want.code == kNoMessage) << (message ? message : "none");
  }
  if (want.code > 0) {
    EXPECT_TRUE(std::string_view(message ? message : "").ends_with(FitErrorText(want.code)))
        << "expected error " << want.code << ", got " << (message ? message : "none");
  }
}

// The fitter still loads, fits and evaluates a network.
void ExpectUsable(cFitAPI& f) {
  LoadSynthetic(f, 1, kS, 12);
  ASSERT_EQ(f.Fit(), 1) << "the fitter no longer fits";
  double v[2] = {kNaN, kNaN};
  EXPECT_EQ(f.EvaluateModelElement(0, 0, 1e9, v), 1);
  EXPECT_TRUE(std::isfinite(v[0]) && std::isfinite(v[1]));
}

// The valid call and every bad variant of the row's arguments.
std::vector<Call> Calls(const Row& row, const State& s) {
  std::vector<Call> calls;
  auto add = [&](Variant v, int bad = 0, double x = 0.0) {
    Call c{v,
           s.n,
           v == Variant::kBadI ? bad
           : s.n > 1           ? 1
                               : 0,
           v == Variant::kBadJ ? bad : 0,
           bad,
           x,
           s.Has(kCommon),
           ""};
    if (v == Variant::kDirectory) {
      c.file = Scratch().path().string();
    } else if (v != Variant::kEmptyName) {
      c.file = row.file == FileRole::kTouchstoneIn ? TouchstoneFile()
               : row.file == FileRole::kPolesIn    ? PoleFileFor(s).first
               : row.file == FileRole::kOut        ? Scratch().NewFile("out")
                                                   : "";
    }
    calls.push_back(c);
  };
  add(Variant::kValid);
  for (int bad : {-1, s.n, 1 << 30}) {
    if (row.args & (kElement | kIndex)) add(Variant::kBadI, bad);
    if (row.args & kElement) add(Variant::kBadJ, bad);
  }
  if ((row.args & kPointer) || row.file != FileRole::kNone) add(Variant::kNull);
  if (row.file != FileRole::kNone) add(Variant::kEmptyName), add(Variant::kDirectory);
  for (double x : {kNaN, kInf, -kInf}) {
    if (row.args & kNumber) add(Variant::kNumber, 0, x);
  }
  return calls;
}

const Row* RowNamed(std::string_view name) {
  for (const Row& row : kRows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

// The operations come from the facade's table, in the interface's order:
// each has a caller here (a row for a built one, a call for one not built),
// and every caller here names an operation of the table.
TEST(OperationTable, EveryOperationHasACallerHere) {
  const auto table = OperationTable();
  ASSERT_EQ(table.size(), 87u) << "every operation of the interface";
  std::set<std::string_view> names;
  for (std::size_t k = 0; k < table.size(); ++k) {
    const OperationRow& operation = table[k];
    EXPECT_EQ(static_cast<std::size_t>(operation.operation), k) << operation.name;
    EXPECT_TRUE(operation.built ? RowNamed(operation.name) != nullptr
                                : kUnbuilt.contains(operation.name))
        << operation.name << " has no caller in this test";
    EXPECT_TRUE(operation.built || operation.checks.empty()) << operation.name;
    names.insert(operation.name);
  }
  for (const Row& row : kRows) EXPECT_TRUE(names.contains(row.name)) << row.name;
  for (const auto& [name, call] : kUnbuilt) EXPECT_TRUE(names.contains(name)) << name;
}

class EveryOperation : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EveryOperation, EndsAsItsChecksSayAndLeavesAUsableFitter) {
  const State& s = States()[GetParam()];
  testing::LogCapture log;
  {
    Fitter f = s.build();
    ASSERT_EQ(f->GetPortCount(), s.n);
    ASSERT_EQ(f->GetDataType(), s.type);
    ASSERT_EQ(f->HasSampledData(), s.Has(kData));
    ASSERT_EQ(f->HasFit(), s.Has(kFit));
    ASSERT_EQ(f->GetErrorMessage() != nullptr, s.Has(kMessage));
    int points = 0;
    for (auto* r = f->GetFirstDataPoint(); r != nullptr; r = f->GetNextDataPoint()) ++points;
    ASSERT_EQ(points, s.points);
  }
  static const char* kVariants[] = {"valid", "bad i", "bad j", "null", "empty", "dir", "number"};
  for (const OperationRow& operation : OperationTable()) {
    const Row* found = RowNamed(operation.name);
    if (!operation.built || found == nullptr) continue;
    const Row& row = *found;
    for (const Call& c : Calls(row, s)) {
      SCOPED_TRACE(std::string(row.name) + " " + kVariants[static_cast<int>(c.variant)] + " " +
                   std::to_string(c.bad) + " " + std::to_string(c.nonFinite));
      bool refused = false;
      Outcome want = Expected(row, s, c, &refused);
      // The message of the failed read that made the state stays first.
      if (s.Has(kMessage)) want.code = kUnchecked;
      Fitter f = s.build();
      const auto before = Contents(*f);
      const long got = row.call(*f, c);
      ExpectOutcome(want, got, f->GetErrorMessage());
      if ((got == 0 || refused) && !row.inPlace) {
        EXPECT_TRUE(Contents(*f) == before) << "data or model changed";
      }
      if (row.reinit) {
        cFitParams p = testing::SmallParams();
        f->Init(&p);
      }
      ExpectUsable(*f);
      log.clear();
    }
  }
  Fitter f = s.build();
  for (const OperationRow& operation : OperationTable()) {
    if (!operation.built && kUnbuilt.contains(operation.name)) {
      EXPECT_EQ(kUnbuilt.at(operation.name)(*f), 0) << operation.name;
    }
  }
  EXPECT_EQ(f->GetErrorMessage() != nullptr, s.Has(kMessage));
}

INSTANTIATE_TEST_SUITE_P(States, EveryOperation, ::testing::Range<std::size_t>(0, States().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return States()[info.param].name;
                         });

}  // namespace
}  // namespace cfit
