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
// call is computed from the row in one place, Expected().
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "api/cfit_impl.h"
#include "api/errors.h"
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

enum Fact : unsigned {
  kData = 1u << 0,       // a data set exists (it may be empty)
  kPoints = 1u << 1,     // at least one point
  kTwoPoints = 1u << 2,  // at least two points
  kFit = 1u << 3,        // HasFit
  kModel = 1u << 4,      // model tables exist (a fit, or DefineModel)
  kElements = 1u << 5,   // an element table exists
  kImpedances = 1u << 6,
  kSymmetric = 1u << 7,
  kCommon = 1u << 8,  // one pole set for all elements
  kFiniteData = 1u << 9,
  kFiniteModel = 1u << 10,
  kMessage = 1u << 11,  // an error was recorded on the way to the state
  kSyz = 1u << 12,      // S, Y or Z
  kTypeS = 1u << 13,
  kSOrPulse = 1u << 14,
  kLettered = 1u << 15,  // a type with a letter in files: S, Y, Z, ABCD, pulse
  kPulseType = 1u << 16,
  kOnePort = 1u << 17,
  kMultiPort = 1u << 18,
  kFourPorts = 1u << 19,
  kDataOrFit = 1u << 20,
  kMixed = 1u << 21,  // no state reaches mixed mode without a conversion
};

struct State {
  std::string name;
  int n = 0;
  int type = 0;
  int points = 0;
  unsigned facts = 0;
  std::function<Fitter()> build;
  bool Has(Fact f) const { return (facts & f) != 0; }
};

// Flags: d data set, f fit, m model tables, e element table, z impedances,
// a asymmetric, c common poles, D data not finite, M model not finite, ! an
// error recorded.
State Make(std::string name, int n, int type, int points, const std::string& flags,
           std::function<Fitter()> build) {
  auto has = [&](char c) { return flags.find(c) != std::string::npos; };
  const bool syz = type == kS || type == kY || type == kZ;
  const std::pair<bool, unsigned> table[] = {
      {has('d'), kData},
      {points > 0, kPoints},
      {points > 1, kTwoPoints},
      {has('f'), kFit},
      {has('m') || has('f'), kModel},
      {has('e'), kElements},
      {has('z'), kImpedances},
      {!has('a'), kSymmetric},
      {has('c'), kCommon},
      {!has('D'), kFiniteData},
      {!has('M'), kFiniteModel},
      {has('!'), kMessage},
      {syz, kSyz},
      {type == kS, kTypeS},
      {type == kS || type == kPulse, kSOrPulse},
      {type >= kS && type <= kPulse, kLettered},
      {type == kPulse, kPulseType},
      {n == 1, kOnePort},
      {n >= 2, kMultiPort},
      {n == 4, kFourPorts},
      {has('d') || has('f'), kDataOrFit},
  };
  State s{std::move(name), n, type, points, 0, std::move(build)};
  for (const auto& [on, fact] : table) s.facts |= on ? fact : 0u;
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

Fitter Read(const std::string& text) {
  Fitter f = MakeFitter();
  f->ReadTouchstone(WriteText(text).c_str());
  return f;
}

// Six reciprocal 2-port points; the fourth holds `word` (read as the C
// library converts it) in the diagonal or the transfer elements.
std::string TwoPortText(const char* option, const char* word, bool transfer) {
  std::string text = std::string(option) + "\n";
  for (int k = 1; k <= 6; ++k) {
    const std::string odd = k == 4 ? word : "0.1", diagonal = k == 4 && !transfer ? word : "0.3";
    const std::string off = transfer ? odd : "0.1";
    text += std::to_string(k) + "e9 0.3 0 " + off + " 0 " + off + " 0 " + diagonal + " 0\n";
  }
  return text;
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

// A caller-defined S model with one term at (1, 0) (or (0, 0) for a 1-port),
// or without terms.
Fitter Defined(int n, bool withTerms) {
  Fitter f = MakeFitter();
  const double p[4] = {1e9, 0, 2e9, -3e9}, r[4] = {0.2, 0, 0.1, 0.05};
  f->DefineModel(n, kS, nullptr, true);
  if (withTerms) f->SetElementModel(std::min(n - 1, 1), 0, 2, 0.1, 0.0, 1e-10, p, r);
  return f;
}

std::vector<State> MakeStates() {
  std::vector<State> states;
  states.push_back(Make("New", 0, 0, 0, "", [] { return MakeFitter(); }));
  for (int n = 1; n <= 4; ++n) {
    for (int type : {kS, kY, kZ}) {
      const std::string size = std::to_string(n) + "Port" + "?SYZ"[type];
      auto withModel = [=](Fitter f) {
        f->ReadPoles(PoleFile(n, type).c_str());
        return f;
      };
      states.push_back(Make("Data" + size, n, type, 20, "dez", [=] { return WithData(n, type); }));
      states.push_back(
          Make("Fit" + size, n, type, 0, "fez", [=] { return withModel(MakeFitter()); }));
      states.push_back(Make("DataFit" + size, n, type, 20, "dfez",
                            [=] { return withModel(WithData(n, type)); }));
    }
  }
  auto fitted = [](Fitter f) {
    f->Fit();
    return f;
  };
  auto abcd = [] {
    Fitter f = WithData(2, kS);
    f->ConvertDataType(kABCD);
    return f;
  };
  states.push_back(Make("Asymmetric", 2, kS, 20, "deza", [] { return WithData(2, kS, 1.5); }));
  states.push_back(
      Make("AsymmetricFit", 2, kS, 20, "dfeza", [=] { return fitted(WithData(2, kS, 1.5)); }));
  states.push_back(Make("CommonPoleFit", 3, kS, 20, "dfezc",
                        [=] { return fitted(WithData(3, kS, 1.0, false)); }));
  states.push_back(Make("Abcd", 2, kABCD, 20, "dez", abcd));
  states.push_back(Make("AbcdFit", 2, kABCD, 20, "dfez", [=] { return fitted(abcd()); }));
  states.push_back(Make("NaNAbcd", 2, kABCD, 10, "dezD", [] { return Converted(2, 0.5, kABCD); }));
  states.push_back(Make("ShortAsY", 1, kY, 10, "dez", [] { return Converted(1, -1.0, kY); }));
  states.push_back(Make("NaNRead", 2, kS, 6, "dezD",
                        [] { return Read(TwoPortText("# HZ S RI R 50", "nan", false)); }));
  states.push_back(Make("InfDataFit", 2, kZ, 6, "dfezD", [] {
    Fitter f = Read(TwoPortText("# HZ Z RI R 50", "inf", true));
    f->ReadPoles(PoleFile(2, kZ).c_str());
    return f;
  }));
  states.push_back(Make("PulseData", 1, kPulse, 20, "dez", [] { return WithData(1, kPulse); }));
  states.push_back(Make("PulseModel", 1, kPulse, 0, "fez", [] {
    Fitter f = MakeFitter();
    f->ReadPoles(PoleFile(1, kPulse).c_str());
    return f;
  }));
  states.push_back(Make("UnknownType", 2, 9, 20, "dez", [] { return WithData(2, 9); }));
  states.push_back(Make("EmptySet", 2, kS, 0, "dez", [] {
    Fitter f = MakeFitter();
    f->BeginData(2, kS, nullptr);
    f->EndData();
    return f;
  }));
  states.push_back(Make("DefinedModel", 3, kS, 0, "fez", [] { return Defined(3, true); }));
  states.push_back(Make("DefinedWithoutTerms", 2, kS, 0, "mez", [] { return Defined(2, false); }));
  // No interface operation stores a value that is not finite into a model:
  // the residues are overwritten in place.
  states.push_back(Make("NaNModel", 1, kS, 0, "fezM", [] {
    Fitter f = Defined(1, true);
    f->state().model->constant[0] = kNaN;
    for (PoleList& list : f->state().model->elementPoles) {
      for (PoleTerm& term : list) term.SetResidue00(Complex(kNaN, 0.0));
    }
    return f;
  }));
  // The option line fails after its type word: the port count and the type
  // stay, with neither data nor an element table.
  states.push_back(
      Make("FailedRead", 1, kS, 0, "!", [] { return Read("# GHZ S R 50\n1 0.1 0\n2 0.2 0\n"); }));
  return states;
}

const std::vector<State>& States() {
  static const std::vector<State> states = MakeStates();
  return states;
}

// ---------------------------------------------------------------------------
// Outcomes

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
// A bad argument changes nothing: the outcome of the valid call.
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

// ---------------------------------------------------------------------------
// Calls

enum class Variant { kValid, kBadI, kBadJ, kNull, kEmptyName, kDirectory, kNumber };

struct Call {
  Variant variant = Variant::kValid;
  int n = 0;
  int i = 0, j = 0;
  int bad = 0;             // the index of kBadI and kBadJ
  double nonFinite = 0.0;  // the number of kNumber
  std::string file;
  bool common = false;  // the state's fit has common poles

  bool null() const { return variant == Variant::kNull; }
  // A single index-like argument: `valid`, or the bad index with N standing
  // for `forN`.
  int Index(int valid, int forN) const {
    if (variant != Variant::kBadI) return valid;
    return bad == n ? forN : bad;
  }
  double Number(double valid) const { return variant == Variant::kNumber ? nonFinite : valid; }
  template <class T>
  T* Pointer(T* valid) const {
    return null() ? nullptr : valid;
  }
  const char* name() const { return null() ? nullptr : file.c_str(); }
};

// Arguments an operation takes, each giving bad variants.
enum Args : unsigned {
  kNoArgs = 0,
  kElement = 1,  // element indices i, j
  kIndex = 2,    // one index-like argument (a count, a type, a size)
  kPointer = 4,  // pointer arguments
  kNumber = 8,   // a frequency or a value that enters data or model
};
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

  Row Returns(Success s) && {
    success = s;
    return std::move(*this);
  }
  Row Takes(unsigned a, Bad b, FileRole f = FileRole::kNone) && {
    args = a;
    bad = b;
    file = f;
    return std::move(*this);
  }
  Row InPlace() && {
    inPlace = true;
    return std::move(*this);
  }
  Row Reinit() && {
    reinit = true;
    return std::move(*this);
  }
};
Row Op(const char* name, Caller call, std::vector<Check> checks = {}) {
  return Row{name, call, std::move(checks)};
}

long Bool(bool b) { return b ? 1 : 0; }
template <class T>
long Ptr(T* p) {
  return p != nullptr ? 1 : 0;
}

double a[2], b[2], poles[1024], residues[1024], frequencies[3];
double** rms;
double** largest;
int poleCount;
std::vector<double> Impedances(int n) { return std::vector<double>(std::max(n, 1), 50.0); }

cFitAPI& OtherFitter() {
  static Fitter other = [] {
    Fitter f = MakeFitter();
    LoadSynthetic(*f, 2, kS, 5);
    return f;
  }();
  return *other;
}

const std::vector<Check> kDataConductance = {Need(kPoints, 20), Need(kSymmetric, 20),
                                             Need(kSyz, 1003)};
const std::vector<Check> kModelConductance = {Need(kFit, 19), Need(kSymmetric, 19),
                                              Need(kSyz, 1003), Need(kFiniteModel, 30)};
const std::vector<Check> kDataMargins = {Need(kData, 6), Need(kSyz, 1003), Need(kPoints, 33),
                                         Need(kFiniteData, 33)};
const std::vector<Check> kModelMargins = {Need(kFit, 8), Need(kSyz, 1003), Need(kFiniteModel, 34)};
const std::vector<Check> kModelCheck = {Need(kFit, 12), Need(kSyz, 1003), Need(kFiniteModel, 27)};
const std::vector<Check> kSweep = {Need(kFit, 8), Unspecified(kFiniteModel)};

// The operations of the interface that are built, with their checks in the
// order they make them.
const std::vector<Row> kRows = {
    Op("ReadTouchstone", [](cFitAPI& f, const Call& c) -> long { return f.ReadTouchstone(c.name()); },
       {Without(kData, 2), Without(kFit, 3)})
        .Takes(kNoArgs, Refused(1002), FileRole::kTouchstoneIn),
    Op("Fit", [](cFitAPI& f, const Call&) -> long { return f.Fit(); },
       {Need(kData, 5), Need(kFiniteData, 26), Need(kPoints, 26)})
        .InPlace(),
    Op("ReadPoles", [](cFitAPI& f, const Call& c) -> long { return f.ReadPoles(c.name()); },
       {Without(kFit, 13)})
        .Takes(kNoArgs, Refused(14), FileRole::kPolesIn),
    Op("HasFit", [](cFitAPI& f, const Call&) { return Bool(f.HasFit()); }, {Need(kFit)}),
    Op("HasSampledData", [](cFitAPI& f, const Call&) { return Bool(f.HasSampledData()); },
       {Need(kData)}),
    Op("IsMixedMode", [](cFitAPI& f, const Call&) { return Bool(f.IsMixedMode()); },
       {Need(kMixed)}),
    Op("SetMixedModeFlag", [](cFitAPI& f, const Call&) -> long { return f.SetMixedModeFlag(); },
       {Need(kFourPorts)}),
    Op("SetStandardModeFlag", [](cFitAPI& f, const Call&) -> long { return f.SetStandardModeFlag(); })
        .Returns(Success::kOne),
    Op("IsSymmetric", [](cFitAPI& f, const Call&) { return Bool(f.IsSymmetric()); },
       {Need(kSymmetric)}),
    Op("CheckSymmetry",
       [](cFitAPI& f, const Call& c) { return Bool(f.CheckSymmetry(c.Pointer(a), c.Pointer(b))); },
       {Need(kSymmetric)})
        .Takes(kPointer, NullSkipped()),
    Op("Symmetrize", [](cFitAPI& f, const Call&) -> long { return f.Symmetrize(); },
       {Need(kData, 6), Without(kFit, 22)}),
    Op("CheckDataPassivity",
       [](cFitAPI& f, const Call& c) -> long {
         return f.CheckDataPassivity(c.Pointer(a), c.Pointer(b));
       },
       {Need(kData, 10), Need(kSyz, 1003), Need(kFiniteData, 33)})
        .Takes(kPointer, NullSkipped()),
    Op("EnforceDataPassivity", [](cFitAPI& f, const Call&) -> long { return f.EnforceDataPassivity(1.0); },
       {Need(kData, 10), Need(kSyz, 1003), Need(kFiniteData, 11)})
        .InPlace(),
    Op("GetDataMutualConductanceDC",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetDataMutualConductanceDC(c.i, c.j, c.Pointer(a));
       },
       kDataConductance)
        .Takes(kElement | kPointer, NullSkipped(20)),
    Op("GetDataMutualConductance",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetDataMutualConductance(c.i, c.j, c.Number(1e9), c.Pointer(a), c.Pointer(b));
       },
       kDataConductance)
        .Takes(kElement | kPointer | kNumber, NullSkipped(20)),
    Op("GetLowestPointTransfer",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetLowestPointTransfer(c.i, c.j, c.Pointer(a));
       },
       {Need(kMultiPort, 20), Need(kPoints, 20), Need(kSyz, 1003)})
        .Takes(kElement | kPointer, NullSkipped(20)),
    Op("GetMaxElementMagnitude",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetMaxElementMagnitude(c.i, c.j, c.Pointer(a), c.Pointer(b));
       },
       {Need(kMultiPort, 20), Need(kPoints, 20)})
        .Takes(kElement | kPointer, NullSkipped(20)),
    // An index outside the matrix asks for the whole matrix. A type without
    // a letter records 7 for the header and the table is still written.
    Op("WriteDataTable",
       [](cFitAPI& f, const Call& c) -> long {
         return f.WriteDataTable(c.name(), c.i, c.j, true, true, 1);
       },
       {Need(kData, 6), Warn(kLettered, 7)})
        .Takes(kElement, {Same(), Same(), Fail(6), Fail(6)}, FileRole::kOut),
    // A format code other than 0, 1 and 2 fails without an error.
    Op("WriteTouchstone",
       [](cFitAPI& f, const Call& c) -> long { return f.WriteTouchstone(c.name(), c.Index(1, 3)); },
       {Need(kData, 6), Need(kLettered, 7)})
        .Takes(kIndex, {Fail(), Fail(), Fail(6), Fail(6)}, FileRole::kOut),
    Op("CheckModelPassivity",
       [](cFitAPI& f, const Call& c) -> long {
         return f.CheckModelPassivity(c.Pointer(a), c.Pointer(b));
       },
       kModelCheck)
        .Takes(kPointer, NullSkipped()),
    Op("EnforceModelPassivity",
       [](cFitAPI& f, const Call&) -> long { return f.EnforceModelPassivity(1.0); }, kModelCheck)
        .InPlace(),
    Op("WritePoles", [](cFitAPI& f, const Call& c) -> long { return f.WritePoles(c.name()); },
       {Need(kFit, 8)})
        .Takes(kNoArgs, Refused(9), FileRole::kOut),
    Op("SweepModelAdaptive",
       [](cFitAPI& f, const Call& c) -> long { return f.SweepModelAdaptive(0.1, c.Number(2e10)); },
       kSweep)
        .Takes(kNumber, Refused(45)),
    Op("SweepModelLinear",
       [](cFitAPI& f, const Call& c) -> long {
         return f.SweepModelLinear(1e9, c.Number(1e8), 1e10);
       },
       kSweep)
        .Takes(kNumber, Refused(45)),
    Op("SweepModelAtDataOf",
       [](cFitAPI& f, const Call& c) -> long {
         return f.SweepModelAtDataOf(c.Pointer(&OtherFitter()));
       },
       kSweep)
        .Takes(kPointer, Refused(45)),
    // The length of the host's array cannot be checked: a count of N or
    // 1 << 30 stays within the three frequencies.
    Op("SweepModelAtList",
       [](cFitAPI& f, const Call& c) -> long {
         frequencies[0] = 1e8;
         frequencies[1] = c.Number(1e9);
         frequencies[2] = 5e9;
         return f.SweepModelAtList(std::min(c.Index(3, 2), 3), c.Pointer(frequencies));
       },
       kSweep)
        .Takes(kIndex | kPointer | kNumber, {Fail(45), Same(), Fail(45), Fail(45), Fail(45)}),
    Op("WriteSubcircuit", [](cFitAPI& f, const Call& c) -> long { return f.WriteSubcircuit(c.name()); },
       {Need(kFit, 12), Need(kTypeS, 12), Need(kFiniteModel, 29)})
        .Takes(kNoArgs, Refused(28), FileRole::kOut),
    Op("GetModelMutualConductanceDC",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetModelMutualConductanceDC(c.i, c.j, c.Pointer(a));
       },
       kModelConductance)
        .Takes(kElement | kPointer, NullSkipped(19)),
    Op("GetModelMutualConductance",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetModelMutualConductance(c.i, c.j, c.Number(1e9), c.Pointer(a), c.Pointer(b));
       },
       kModelConductance)
        .Takes(kElement | kPointer | kNumber, NullSkipped(19)),
    // Without out-pointers the accuracy goes to the log.
    Op("GetEnforcedAccuracy",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetEnforcedAccuracy(c.Pointer(&rms), c.Pointer(&largest));
       },
       {Need(kPoints), Need(kFit)})
        .Takes(kPointer, NullSkipped()),
    // -1 points still leave the 2N rows an N-port needs; 1 << 30 points need
    // more rows than an int counts.
    Op("Init",
       [](cFitAPI& f, const Call& c) {
         cFitParams p = testing::SmallParams(!c.common);
         p.maxFrequencyPoints = c.Index(200, 200);
         return Bool(f.Init(c.Pointer(&p)));
       })
        .Takes(kIndex | kPointer, {.special =
                                       [](const State& s, const Call& c) {
                                         if (c.null() || c.bad == s.n) return Same();
                                         return c.bad < 0 && s.n > 0 ? Ok() : Fail();
                                       }})
        .Reinit(),
    Op("SetEnforcementMode",
       [](cFitAPI& f, const Call& c) -> long { return f.SetEnforcementMode(c.Index(1, c.n)); })
        .Returns(Success::kOne)
        .Takes(kIndex, {.special = [](const State&, const Call& c) { return Value(c.bad); }}),
    Op("GetFirstDataPoint", [](cFitAPI& f, const Call&) { return Ptr(f.GetFirstDataPoint()); },
       {Need(kData, 6), Need(kPoints)}),
    Op("GetNextDataPoint",
       [](cFitAPI& f, const Call&) {
         f.GetFirstDataPoint();
         return Ptr(f.GetNextDataPoint());
       },
       {Need(kData, 6), Need(kTwoPoints)}),
    // A port count outside 1..4096 records 45 and keeps what the fitter
    // holds; null impedances stand for 50 ohms.
    Op("BeginData",
       [](cFitAPI& f, const Call& c) -> long {
         const std::vector<double> z = Impedances(4);
         f.BeginData(c.Index(c.n > 0 ? c.n : 2, 0), kS, c.Pointer(z.data()));
         return 1;
       })
        .Takes(kIndex | kPointer, {Ok(45), Ok(45), Same()}),
    // A null record and a record without rows are refused alike.
    Op("AddDataPoint",
       [](cFitAPI& f, const Call& c) {
         testing::PointRecord record(c.n);
         for (int i = 0; i < c.n; ++i) record.Set(i, i, {c.Number(0.1), 0.0});
         DataPointRecord* point = record.get(c.Number(1e12));
         if (!c.null()) return Bool(f.AddDataPoint(point));
         DataPointRecord noRows{1e12, nullptr};
         return Bool(f.AddDataPoint(nullptr) || (c.n > 0 && f.AddDataPoint(&noRows)));
       },
       {Need(kData)})
        .Takes(kPointer | kNumber, Refused(kNoMessage)),
    Op("EndData", [](cFitAPI& f, const Call&) { return Bool(f.EndData()); }, {Need(kPoints)})
        .Returns(Success::kAny),
    Op("ConvertDataType",
       [](cFitAPI& f, const Call& c) -> long {
         return f.ConvertDataType(c.Index(f.GetDataType() == kS ? kY : kS, 6));
       },
       {Need(kSyz, 32), Need(kDataOrFit, 6)})
        .Takes(kIndex, Refused(32)),
    Op("GetDataType", [](cFitAPI& f, const Call&) -> long { return f.GetDataType(); })
        .Returns(Success::kDataType),
    Op("GetPortCount", [](cFitAPI& f, const Call&) -> long { return f.GetPortCount(); })
        .Returns(Success::kPortCount),
    Op("GetReferenceImpedances",
       [](cFitAPI& f, const Call&) { return Ptr(f.GetReferenceImpedances()); }, {Need(kImpedances)}),
    Op("GetDataPassivityMargins",
       [](cFitAPI& f, const Call&) -> long { return f.GetDataPassivityMargins(); }, kDataMargins),
    Op("GetFirstDataMargin",
       [](cFitAPI& f, const Call& c) -> long {
         f.GetDataPassivityMargins();
         return f.GetFirstDataMargin(c.Pointer(a), c.Pointer(b));
       },
       kDataMargins)
        .Takes(kPointer, NullSkipped()),
    Op("GetNextDataMargin",
       [](cFitAPI& f, const Call& c) -> long {
         f.GetDataPassivityMargins();
         f.GetFirstDataMargin(nullptr, nullptr);
         return f.GetNextDataMargin(c.Pointer(a), c.Pointer(b));
       },
       kDataMargins)
        .Takes(kPointer, NullSkipped()),
    Op("EvaluateModelElement",
       [](cFitAPI& f, const Call& c) -> long {
         return f.EvaluateModelElement(c.i, c.j, c.Number(1e9), c.Pointer(a));
       },
       {Need(kFit, 8)})
        .Takes(kElement | kPointer | kNumber, {Fail(8), Fail(8), Same(), Fail(8), Fail(45)}),
    Op("GetModelPassivityMargins",
       [](cFitAPI& f, const Call&) -> long { return f.GetModelPassivityMargins(); }, kModelMargins),
    Op("GetFirstModelMargin",
       [](cFitAPI& f, const Call& c) -> long {
         f.GetModelPassivityMargins();
         return f.GetFirstModelMargin(c.Pointer(a), c.Pointer(b));
       },
       kModelMargins)
        .Takes(kPointer, NullSkipped()),
    Op("GetNextModelMargin",
       [](cFitAPI& f, const Call& c) -> long {
         f.GetModelPassivityMargins();
         f.GetFirstModelMargin(nullptr, nullptr);
         return f.GetNextModelMargin(c.Pointer(a), c.Pointer(b));
       },
       kModelMargins)
        .Takes(kPointer, NullSkipped()),
    Op("GetElementModelInfo",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetElementModelInfo(c.i, c.j, c.Pointer(&poleCount), c.Pointer(a), c.Pointer(b),
                                      c.Pointer(a + 1));
       },
       {Need(kFit, 8)})
        .Takes(kElement | kPointer, NullSkipped(8)),
    Op("GetElementPolesResidues",
       [](cFitAPI& f, const Call& c) -> long {
         return f.GetElementPolesResidues(c.i, c.j, c.Pointer(poles), c.Pointer(residues));
       },
       {Need(kFit)})
        .Takes(kElement | kPointer, Refused(kNoMessage)),
    // A size other than the one held records 46 before the size itself is
    // checked (45).
    Op("DefineModel",
       [](cFitAPI& f, const Call& c) -> long {
         const std::vector<double> z = Impedances(4);
         return f.DefineModel(c.Index(c.n > 0 ? c.n : 2, 0), kS, c.Pointer(z.data()), true);
       })
        .Takes(kIndex | kPointer, {.special =
                                       [](const State& s, const Call& c) {
                                         return c.null() ? Same() : s.n > 0 ? Fail(46) : Fail(45);
                                       }}),
    // Null arrays store the scalars first, as the operation is specified.
    Op("SetElementModel",
       [](cFitAPI& f, const Call& c) -> long {
         const double pole[2] = {1e9, c.Number(-2e9)}, residue[2] = {0.1, 0.05};
         return f.SetElementModel(c.i, c.j, 1, 0.1, 0.0, 0.0, c.Pointer(pole), c.Pointer(residue));
       },
       {Need(kModel)})
        .Takes(kElement | kPointer | kNumber, Refused(kNoMessage))
        .InPlace(),
    Op("ConvertPulseModelToS",
       [](cFitAPI& f, const Call& c) -> long {
         return f.ConvertPulseModelToS(1e-9, c.Number(1.0), 0.0);
       },
       {Need(kFit, 8), Need(kOnePort, 8), Need(kPulseType, 8)})
        .Takes(kNumber, Refused(45)),
    Op("SetTimeStep",
       [](cFitAPI& f, const Call&) -> long {
         f.SetTimeStep(1e-12);
         return 1;
       }),
    // A fitted Y or Z model may hold a proportional term already.
    Op("MultiplyModelByFrequency",
       [](cFitAPI& f, const Call& c) -> long {
         return f.MultiplyModelByFrequency(0.0, c.Number(1e-9));
       },
       {Need(kFit), Without(kCommon), Need(kOnePort), Unspecified(kSOrPulse, kNoMessage)})
        .Takes(kNumber, Refused(kNoMessage)),
    Op("GetProgress", [](cFitAPI& f, const Call&) { return Ptr(f.GetProgress()); }),
    // Null clears the cancel byte and the output comment, and is returned.
    Op("SetCancelFlag",
       [](cFitAPI& f, const Call& c) {
         static char cancel = 0;
         return Ptr(f.SetCancelFlag(c.Pointer(&cancel)));
       })
        .Takes(kPointer, Refused(kNoMessage)),
    Op("GetErrorMessage", [](cFitAPI& f, const Call&) { return Ptr(f.GetErrorMessage()); },
       {Need(kMessage)}),
    Op("GetFileComment", [](cFitAPI& f, const Call&) { return Ptr(f.GetFileComment()); })
        .Returns(Success::kAny),
    Op("SetOutputComment",
       [](cFitAPI& f, const Call& c) {
         return Ptr(f.SetOutputComment(c.Pointer("written by a test")));
       })
        .Takes(kPointer, Refused(kNoMessage)),
    // A negative index addresses every element; N or more none (45).
    Op("SetElementDcOption",
       [](cFitAPI& f, const Call& c) -> long { return f.SetElementDcOption(0, c.i, c.j, 0.5); },
       {Need(kElements)})
        .Takes(kElement, {Same(), Fail(45)}),
    // ABCD data accept any request and store nothing.
    Op("SetElementAsymptote",
       [](cFitAPI& f, const Call& c) -> long { return f.SetElementAsymptote(0, c.i, c.j, 0.1); },
       {Need(kElements), Need(kLettered)})
        .Takes(kElement, {.special =
                              [](const State& s, const Call& c) {
                                return c.bad < 0 || s.type == kABCD ? Same() : Fail(45);
                              }}),
    Op("GetTouchstonePortCount",
       [](cFitAPI& f, const Call& c) -> long { return f.GetTouchstonePortCount(c.name()); })
        .Returns(Success::kTwo)
        .Takes(kNoArgs, Refused(1001), FileRole::kTouchstoneIn),
    Op("GetPolesPortCount",
       [](cFitAPI& f, const Call& c) -> long { return f.GetPolesPortCount(c.name()); })
        .Returns(Success::kPoleFilePorts)
        .Takes(kNoArgs, Refused(14), FileRole::kPolesIn),
};

// Operations not built yet: they fail without recording anything.
const std::vector<std::function<long(cFitAPI&)>> kUnbuilt = {
    [](cFitAPI& f) -> long { return f.CascadeWithTouchstone(TouchstoneFile().c_str()); },
    [](cFitAPI& f) -> long { return f.VoltageTransferFunction(50.0, 0.02, 0); },
    [](cFitAPI& f) { return Bool(f.IsSeriesElement()); },
    [](cFitAPI& f) { return Bool(f.IsShuntElement()); },
    [](cFitAPI& f) -> long { return f.IdealizeShuntElement(); },
    [](cFitAPI& f) -> long { return f.ExtractShuntElement(1); },
    [](cFitAPI& f) -> long { return f.ExtractSeriesElement(1); },
    [](cFitAPI& f) -> long { return f.MakeSeriesTwoPort(); },
    [](cFitAPI& f) { return Bool(f.FitSeriesElement()); },
    [](cFitAPI& f) -> long { return f.ConvertToStandardMode(1, 2, 3, 4); },
    [](cFitAPI& f) -> long { return f.ConvertToMixedMode(1, 2, 3, 4); },
    [](cFitAPI& f) -> long { return f.JoinModalTwoPorts(TouchstoneFile().c_str()); },
    [](cFitAPI& f) -> long { return f.ChangeReferenceImpedances(Impedances(4).data()); },
    [](cFitAPI& f) -> long { return f.SetReferenceImpedance(75.0); },
    [](cFitAPI& f) -> long { return f.TerminatePorts(std::vector<int>(4, 0).data()); },
    [](cFitAPI& f) -> long { return f.CombinePorts(std::vector<unsigned char>(4, 1).data(), 0); },
    [](cFitAPI& f) -> long {
      return f.ReorderPorts(std::vector<int>{0, 1, 2, 3}.data());
    },
    [](cFitAPI& f) -> long { return f.JoinModalTwoPortModels(PoleFile(2, kS).c_str()); },
    [](cFitAPI& f) -> long {
      return f.GetTimeResponse(TimeResponseParameters{}, 1e-9, a, b, b + 1, 0, 0);
    },
    [](cFitAPI& f) -> long {
      return f.WriteTimeResponse(TimeResponseParameters{}, Scratch().NewFile("out").c_str(), 0, 0);
    },
    [](cFitAPI& f) -> long { return f.BuildRLCModel(50, 1e-9, 1e-12, 0); },
    [](cFitAPI& f) -> long { return f.FindReactanceZeroCrossing(a); },
    [](cFitAPI& f) { return Ptr(f.CreateSolver(kS)); },
};

// ---------------------------------------------------------------------------
// Expectations

// The outcome of the valid call: the first unmet check decides.
Outcome Valid(const Row& row, const State& s) {
  int recorded = kNoMessage;
  bool unspecified = false;
  for (const Check& check : row.checks) {
    if (s.Has(check.fact) == check.wanted) continue;
    if (check.effect == Check::kRefuse) return Fail(check.code);
    if (check.effect == Check::kUnspecified) unspecified = true;
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
  if (f.HasSampledData()) {
    for (DataPointRecord* r = f.GetFirstDataPoint(); r != nullptr; r = f.GetNextDataPoint()) {
      v.push_back(r->frequency);
      for (int i = 0; i < n; ++i) v.insert(v.end(), r->values[i], r->values[i] + 2 * n);
    }
  }
  if (f.HasFit()) {
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        int count = 0;
        double terms[3] = {};
        f.GetElementModelInfo(i, j, &count, terms, terms + 1, terms + 2);
        std::vector<double> p(2 * count + 2), r(2 * count * n * n + 2);
        f.GetElementPolesResidues(i, j, p.data(), r.data());
        v.insert(v.end(), terms, terms + 3);
        v.insert(v.end(), p.begin(), p.end());
        v.insert(v.end(), r.begin(), r.end());
      }
    }
  }
  std::vector<unsigned char> bytes(v.size() * sizeof(double));
  if (!v.empty()) std::memcpy(bytes.data(), v.data(), bytes.size());
  return bytes;
}

bool EndsWith(const char* text, const char* tail) {
  if (text == nullptr || tail == nullptr) return false;
  const std::size_t a = std::strlen(text), b = std::strlen(tail);
  return a >= b && std::strcmp(text + a - b, tail) == 0;
}

void ExpectOutcome(const Outcome& want, long got, const char* message) {
  switch (want.kind) {
    case Outcome::kOk: EXPECT_NE(got, 0) << "expected success"; break;
    case Outcome::kFail: EXPECT_EQ(got, 0) << "expected failure"; break;
    case Outcome::kValue: EXPECT_EQ(got, want.value); break;
    default: break;
  }
  if (want.code == kNoMessage) {
    EXPECT_EQ(message, nullptr) << message;
  } else if (want.code == kSomeMessage) {
    EXPECT_NE(message, nullptr);
  } else if (want.code > 0) {
    EXPECT_TRUE(EndsWith(message, FitErrorText(want.code)))
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

std::vector<Call> Calls(const Row& row, const State& s) {
  std::vector<Call> calls;
  auto add = [&](Variant v, int bad = 0, double x = 0.0) {
    Call c;
    c.variant = v;
    c.n = s.n;
    c.bad = bad;
    c.nonFinite = x;
    c.common = s.Has(kCommon);
    c.i = v == Variant::kBadI ? bad : s.n > 1 ? 1 : 0;
    c.j = v == Variant::kBadJ ? bad : 0;
    if (v == Variant::kDirectory) {
      c.file = Scratch().path().string();
    } else if (v != Variant::kEmptyName) {
      switch (row.file) {
        case FileRole::kTouchstoneIn: c.file = TouchstoneFile(); break;
        case FileRole::kPolesIn: c.file = PoleFileFor(s).first; break;
        case FileRole::kOut: c.file = Scratch().NewFile("out"); break;
        case FileRole::kNone: break;
      }
    }
    calls.push_back(c);
  };
  add(Variant::kValid);
  for (int bad : {-1, s.n, 1 << 30}) {
    if (row.args & (kElement | kIndex)) add(Variant::kBadI, bad);
    if (row.args & kElement) add(Variant::kBadJ, bad);
  }
  if ((row.args & kPointer) || row.file != FileRole::kNone) add(Variant::kNull);
  if (row.file != FileRole::kNone) {
    add(Variant::kEmptyName);
    add(Variant::kDirectory);
  }
  for (double x : {kNaN, kInf, -kInf}) {
    if (row.args & kNumber) add(Variant::kNumber, 0, x);
  }
  return calls;
}

// One call on a fresh fitter in state `s`: its outcome, data and model kept
// after a failure or a refused argument, and a usable fitter afterwards.
void RunOne(const Row& row, const State& s, const Call& c) {
  static const char* kVariants[] = {"valid",      "bad i",     "bad j", "null",
                                    "empty name", "directory", "number"};
  SCOPED_TRACE(std::string(kVariants[static_cast<int>(c.variant)]) + " " + std::to_string(c.bad) +
               " " + std::to_string(c.nonFinite));
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
  ASSERT_EQ(kRows.size() + kUnbuilt.size(), 87u) << "every operation of the interface";
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    for (const Call& c : Calls(row, s)) {
      RunOne(row, s, c);
      log.clear();
    }
  }
  Fitter f = s.build();
  for (const auto& call : kUnbuilt) EXPECT_EQ(call(*f), 0);
  EXPECT_EQ(f->GetErrorMessage() != nullptr, s.Has(kMessage));
}

INSTANTIATE_TEST_SUITE_P(States, EveryOperation, ::testing::Range<std::size_t>(0, States().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return States()[info.param].name;
                         });

}  // namespace
}  // namespace cfit
