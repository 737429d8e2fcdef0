// Every operation of the fitter interface, called in every state a host can
// reach, with valid arguments and with the arguments a careless host passes:
// null pointers, element indices -1, N and 1 << 30, numbers that are not
// finite, an empty file name and a directory as file name. Each call must end
// as its checks say, keep data and model when it fails or refuses an
// argument, and leave a fitter that still loads, fits and evaluates.
//
// An operation is one row: how to call it, the conditions it checks in the
// order it checks them (each with the error it records), the arguments it
// takes and what a bad one does where the valid call succeeds. The expected
// outcome of every call is computed from its row in one place, Expected().
// The operations come from the facade's operation table; the checks here are
// this test's own reading of what each operation must do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>
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

// The facts of a state, one letter each:
//   d a data set exists (it may be empty)   p at least one point   2 two points
//   f a fitted model   m model tables (a fit, or DefineModel)   e element table
//   z reference impedances   s symmetric   c one pole set for all elements
//   F every sampled value finite   G every model term finite
//   ! an error was recorded on the way to the state
//   S type S   y type S, Y or Z   P type S or pulse   l a type with a letter in
//   files   u pulse type   1 one port   n two ports or more   4 four ports
//   w two ports   q two or four ports
//   o data or fit   x mixed mode (no state here reaches it)
//   j type S or one port   v a type other than S, or data
//   Y type S or Y   Z type S or Z   E the first two reference
//   impedances equal   k the first point a series element   h the first
//   point a shunt element   K either   R every point keeps the series
//   relations within 0.001
struct State {
  std::string name;
  int n = 0, type = 0, points = 0;
  std::string facts;
  std::function<Fitter()> build;
  bool Has(char fact) const { return facts.find(fact) != std::string::npos; }
};

// `flags` lists the facts d f m e z c !, and a (asymmetric), D (data not
// finite), M (model not finite); Make adds the facts that follow.
State Make(std::string name, int n, int type, int points, std::string flags,
           std::function<Fitter()> build) {
  auto has = [&](char c) { return flags.find(c) != std::string::npos; };
  const bool syz = type == kS || type == kY || type == kZ;
  // clang-format off
  const std::pair<bool, char> derived[] = {
    {points > 0, 'p'}, {points > 1, '2'}, {has('f'), 'm'}, {!has('a'), 's'}, {!has('D'), 'F'},
    {!has('M'), 'G'}, {has('d') || has('f'), 'o'}, {type == kS, 'S'}, {syz, 'y'},
    {type == kS || type == kPulse, 'P'}, {type >= kS && type <= kPulse, 'l'},
    {type == kPulse, 'u'}, {n == 1, '1'}, {n >= 2, 'n'}, {n == 4, '4'},
    {n == 2, 'w'}, {n == 2 || n == 4, 'q'}, {type == kS || n == 1, 'j'},
    {type != kS || has('d'), 'v'},
    {type == kS || type == kY, 'Y'}, {type == kS || type == kZ, 'Z'}, {has('z') && n >= 2, 'E'},
    {has('k') || has('h'), 'K'}};
  // clang-format on
  for (const auto& [on, fact] : derived) flags += on ? std::string(1, fact) : "";
  return {std::move(name), n, type, points, std::move(flags), std::move(build)};
}

Fitter Then(Fitter f, const std::function<void(cFitAPI&)>& step) {
  step(*f);
  return f;
}

Fitter WithData(int n, int type, double asymmetry = 1.0, bool individual = true) {
  Fitter f = MakeFitter(individual);
  LoadSynthetic(*f, n, type, 20, asymmetry);
  return f;
}

// A caller-defined model: two S terms at (1, 0), or (0, 0) for a 1-port, or
// one pulse term.
Fitter Defined(int n, bool withTerms, int type = kS) {
  Fitter f = MakeFitter();
  const bool pulse = type == kPulse;
  const double p[4] = {1e9, 0, 2e9, -3e9}, r[4] = {pulse ? 0.5 : 0.2, 0, 0.1, 0.05};
  f->DefineModel(n, type, nullptr, true);
  if (withTerms)
    f->SetElementModel(std::min(n - 1, 1), 0, 2 - pulse, 0.1, 0, pulse ? 0 : 1e-10, p, r);
  return f;
}

// A model fitted to the synthetic data of (n, type), written once.
std::string PoleFile(int n, int type) {
  static std::map<std::pair<int, int>, std::string> files;
  std::string& file = files[{n, type}];
  if (!file.empty()) return file;
  Fitter f = type == kPulse ? Defined(1, true, kPulse) : WithData(n, type);
  EXPECT_TRUE(type == kPulse || f->Fit() == 1);
  EXPECT_EQ(f->WritePoles((file = Scratch().NewFile("model")).c_str()), 1);
  return file;
}

// The pole file a state can read, and its port count: the state's own size
// and type where it has them (a file without a type letter reads as S).
std::pair<std::string, int> PoleFileFor(const State& s) {
  if (s.n == 0) return {PoleFile(2, kS), 2};
  if (s.type == kPulse) return {PoleFile(1, kPulse), 1};
  return {PoleFile(s.n, s.Has('y') ? s.type : kS), s.n};
}

// Synthetic S data of n ports as a Touchstone file, written once.
std::string TouchstoneFile(int n = 2) {
  static std::map<int, std::string> files;
  std::string& file = files[n];
  if (!file.empty()) return file;
  file = Scratch().NewFile("data") + ".s" + std::to_string(n) + "p";
  EXPECT_EQ(WithData(n, kS)->WriteTouchstone(file.c_str(), 0), 1);
  return file;
}

std::string WriteText(const std::string& text) {
  std::string name = Scratch().NewFile("text");
  std::ofstream(name) << text;
  return name;
}

// A Touchstone file of ten points at 0.1 to 1 GHz holding `values`, the fourth
// `fourth` (a word read as the C library converts it), read by a new fitter,
// its data converted to `type` if given.
Fitter Read(const char* option, const std::string& values, std::string fourth = "", int type = 0) {
  std::string text = std::string(option) + "\n";
  for (int k = 1; k <= 10; ++k) {
    text += std::to_string(k) + "e8 " + (k == 4 ? fourth : values) + "\n";
  }
  Fitter f = Then(MakeFitter(), [&](cFitAPI& g) { g.ReadTouchstone(WriteText(text).c_str()); });
  if (type != 0) f->ConvertDataType(type);
  return f;
}

// A series or shunt R-L-C element (10 ohms, 1 nH, 1 pF, resonant at 5 GHz)
// between two 50 ohm ports as S data, 20 points from 0.1 to 10 GHz.
Fitter Element(bool series) {
  Fitter f = MakeFitter();
  f->BeginData(2, kS, nullptr);
  testing::PointRecord record(2);
  for (int k = 0; k < 20; ++k) {
    const double freq = 1e8 + k * (1e10 - 1e8) / 19, w = 2 * 3.141592653589793 * freq;
    const std::complex<double> z(10.0, w * 1e-9 - 1.0 / (w * 1e-12));
    const std::complex<double> s11 = series ? z / (z + 100.0) : -25.0 / (z + 25.0);
    const std::complex<double> s12 = series ? 1.0 - s11 : 1.0 + s11;
    record.Set(0, 0, s11), record.Set(1, 1, s11), record.Set(0, 1, s12), record.Set(1, 0, s12);
    f->AddDataPoint(record.get(freq));
  }
  f->EndData();
  return f;
}

constexpr const char* kHead = "# HZ S RI R 50";
constexpr const char* kTwoPort = "0.3 0 0.1 0 0.1 0 0.3 0";

void ReadPoles(cFitAPI& f, int n, int type) { f.ReadPoles(PoleFile(n, type).c_str()); }

std::vector<State> MakeStates() {
  auto fit = [](Fitter f) { return Then(std::move(f), [](cFitAPI& g) { g.Fit(); }); };
  auto abcd = [] { return Then(WithData(2, kS), [](cFitAPI& f) { f.ConvertDataType(kABCD); }); };
  // clang-format off
  std::vector<State> s = {
    Make("New", 0, 0, 0, "", [] { return MakeFitter(); }),
    Make("Asymmetric", 2, kS, 20, "deza", [] { return WithData(2, kS, 1.5); }),
    Make("AsymmetricFit", 2, kS, 20, "dfeza", [=] { return fit(WithData(2, kS, 1.5)); }),
    Make("CommonPoleFit", 3, kS, 20, "dfezc", [=] { return fit(WithData(3, kS, 1, 0)); }),
    Make("Abcd", 2, kABCD, 20, "dez", abcd),
    Make("AbcdFit", 2, kABCD, 20, "dfez", [=] { return fit(abcd()); }),
    // Conversions that leave data singular: a 2-port without transfer has
    // no chain matrix (NaN everywhere); an ideal short has no admittance.
    Make("NaNAbcd", 2, kABCD, 10, "dezD", [] { return Read(kHead, "0.5 0 0 0 0 0 0.5 0", "0.5 0 0 0 0 0 0.5 0", kABCD); }),
    Make("ShortAsY", 1, kY, 10, "dez", [] { return Read(kHead, "-1 0", "-1 0", kY); }),
    Make("NaNRead", 2, kS, 10, "dezDa", [] { return Read(kHead, kTwoPort, "0.3 0 0.1 0 0.1 0 nan 0"); }),
    Make("InfDataFit", 2, kZ, 10, "dfezD", [] {
      return Then(Read("# HZ Z RI R 50", kTwoPort, "0.3 0 inf 0 inf 0 0.3 0"), [](cFitAPI& f) { ReadPoles(f, 2, kZ); });
    }),
    Make("PulseData", 1, kPulse, 20, "dez", [] { return WithData(1, kPulse); }),
    Make("SeriesElement", 2, kS, 20, "dezkR", [] { return Element(true); }),
    Make("ShuntElement", 2, kS, 20, "dezh", [] { return Element(false); }),
    Make("PulseModel", 1, kPulse, 0, "fez", [] { return Then(MakeFitter(), [](cFitAPI& f) { ReadPoles(f, 1, kPulse); }); }),
    Make("UnknownType", 2, 9, 20, "dez", [] { return WithData(2, 9); }),
    Make("EmptySet", 2, kS, 0, "dez", [] {
      return Then(MakeFitter(), [](cFitAPI& f) { f.BeginData(2, kS, nullptr), f.EndData(); });
    }),
    Make("DefinedModel", 3, kS, 0, "fez", [] { return Defined(3, true); }),
    Make("DefinedWithoutTerms", 2, kS, 0, "mez", [] { return Defined(2, false); }),
    // DefineModel without terms is no fit, so a read of another size goes
    // ahead; terms set then must not make the tables of the old size a fit.
    Make("DefinedThenRead", 4, kS, 20, "dmez", [] {
      return Then(Defined(2, false), [](cFitAPI& f) {
        const double pole[2] = {1e9, 0.0}, residue[2] = {0.1, 0.0};
        f.ReadTouchstone(TouchstoneFile(4).c_str()), f.SetElementModel(1, 1, 1, 0, 0, 0, pole, residue);
      });
    }),
    // No interface operation stores a number that is not finite into a
    // model, so the terms are overwritten in place.
    Make("NaNModel", 1, kS, 0, "fezM", [] {
      Fitter f = Defined(1, true);
      f->state().model->constant[0] = kNaN;
      for (PoleList& list : f->state().model->elementPoles) {
        for (PoleTerm& term : list) term.SetResidue00(Complex(kNaN, 0.0));
      }
      return f;
    }),
    // The option line fails after its type word: the port count and the
    // type stay, with neither data nor an element table.
    Make("FailedRead", 1, kS, 0, "!", [] { return Read("# GHZ S R 50", "0.1 0", "0.1 0"); }),
  };
  for (int n = 1; n <= 4; ++n) {
    for (int t : {kS, kY, kZ}) {
      const std::string size = std::to_string(n) + "Port" + "?SYZ"[t];
      auto model = [=](cFitAPI& f) { ReadPoles(f, n, t); };
      s.push_back(Make("Data" + size, n, t, 20, "dez", [=] { return WithData(n, t); }));
      s.push_back(Make("Fit" + size, n, t, 0, "fez", [=] { return Then(MakeFitter(), model); }));
      s.push_back(Make("DataFit" + size, n, t, 20, "dfez", [=] { return Then(WithData(n, t), model); }));
    }
  }
  // clang-format on
  return s;
}

const std::vector<State>& States() {
  static const std::vector<State> states = MakeStates();
  return states;
}

// ---------------------------------------------------------------------------
// Outcomes, checks, calls and rows

constexpr int kNoMessage = 0, kSomeMessage = -1, kUnchecked = -2;

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
const Outcome kSame{Outcome::kSame};

// clang-format off
enum class Variant : char {
  kValid = 'v', kBadI = 'i', kBadJ = 'j', kNull = '0', kEmptyName = 'e', kDirectory = 'd', kNumber = 'x'
};
// clang-format on

// The call being made: its variant and the state's size.
struct Call {
  Variant variant = Variant::kValid;
  int n = 0, i = 0, j = 0;
  int bad = 0;             // the index of kBadI and kBadJ
  double nonFinite = 0.0;  // the number of kNumber
  bool common = false;     // the state's fit has common poles
  std::string file;
} c;

// The arguments of the call being made. Index: a single index-like
// argument, `valid` or the bad index with N standing for `forN`.
int I() { return c.i; }
int J() { return c.j; }
bool Null() { return c.variant == Variant::kNull; }
int Index(int valid, int forN) {
  return c.variant != Variant::kBadI ? valid : c.bad == c.n ? forN : c.bad;
}
double X(double valid) { return c.variant == Variant::kNumber ? c.nonFinite : valid; }
template <class T>
T* P(T* valid) {
  return Null() ? nullptr : valid;
}
const char* Name() { return Null() ? nullptr : c.file.c_str(); }

// What a bad argument does where the valid call succeeds.
struct Bad {
  Outcome negative = Fail(), large = Fail();   // index -1; index N or 1 << 30
  Outcome null = Fail(), file = Fail();        // null pointer or name; empty name, a directory
  Outcome number = Fail();                     // NaN, infinities
  Outcome (*special)(const State&) = nullptr;  // replaces the above
};
// Every bad argument refused with `code`; a null out-pointer skipped.
Bad Refused(int code, bool nullSkipped = false) {
  return {Fail(code), Fail(code), nullSkipped ? kSame : Fail(code), Fail(code), Fail(code)};
}
Bad NullSkipped(int code = kNoMessage) { return Refused(code, true); }

// The result once every check has passed: a value, or one of these.
enum : long { kNonZero = -1, kAnything = -2, kPortCount = -3, kTypeCode = -4, kFilePorts = -5 };

// A row's outline is "checks | arguments". Checks in the order the operation
// makes them: a fact letter and the error recorded when it does not hold
// (none: refused silently); -f refuses when f holds; ~f records and goes on;
// ?f makes the result unspecified (the error unchecked unless given).
// Arguments that take bad variants: e element (i, j), i index, p pointer, x
// number, and a file name: t Touchstone file read, l pole file read, o file
// written. Flags: ~ a failure may change data or model; r a valid Init must
// follow before the fitter is used.
struct Row {
  const char* name;
  long (*call)(cFitAPI&);
  std::string_view outline;
  Bad bad = {};
  long success = kNonZero;
  std::string_view Checks() const { return outline.substr(0, outline.find('|')); }
  bool Takes(char arg) const {
    return outline.find('|') != std::string_view::npos &&
           outline.find(arg, outline.find('|')) != outline.npos;
  }
};

double a[2], b[2], poles[1024], residues[1024], pole[2] = {1e9}, residue[2] = {0.1, 0.05};
double **rms, **largest;
int poleCount;
char cancelByte = 0;
std::vector<double> Ohms(int n) { return std::vector<double>(std::max(n, 4), 50.0); }
// Port arguments of at least four entries: the first port kept, the others
// matched; the first two joined; the ports reversed.
std::vector<int> KeepFirst(int n) {
  std::vector<int> codes(std::max(n, 4), 2);
  return codes[0] = 3, codes;
}
std::vector<unsigned char> JoinFirstTwo(int n) {
  std::vector<unsigned char> join(std::max(n, 4), 0);
  return join[0] = join[1] = 1, join;
}
std::vector<int> Reversed(int n) {
  std::vector<int> perm(std::max(n, 4));
  for (int k = 0; k < n; ++k) perm[k] = n - 1 - k;
  return perm;
}
std::vector<double> Impedances(int n) { return std::vector<double>(std::max(n, 4), X(75.0)); }
// A port count: the state's own, 2 for a new fitter; a bad one stands for 0.
int Size() { return Index(c.n > 0 ? c.n : 2, 0); }

cFitAPI& Other() {
  static Fitter other = Then(MakeFitter(), [](cFitAPI& f) { LoadSynthetic(f, 2, kS, 5); });
  return *other;
}

// Whether a solver was made; the host owns and deletes it.
bool Owned(cCPSolver* solver) {
  delete solver;
  return solver != nullptr;
}

// A step response over a few grid points.
TimeResponseParameters Span() {
  TimeResponseParameters p;
  p.endTime = 5e-12;
  return p;
}

double* Frequencies() {
  static double frequencies[3];
  frequencies[0] = 1e8, frequencies[1] = X(1e9), frequencies[2] = 5e9;
  return frequencies;
}

// A null record and a record without rows are refused alike.
long AddPoint(cFitAPI& f) {
  testing::PointRecord record(c.n);
  for (int i = 0; i < c.n; ++i) record.Set(i, i, {X(0.1), 0.0});
  if (!Null()) return f.AddDataPoint(record.get(X(1e12)));
  DataPointRecord noRows{1e12, nullptr};
  return f.AddDataPoint(nullptr) || (c.n > 0 && f.AddDataPoint(&noRows));
}

long Init(cFitAPI& f) {
  cFitParams p = testing::SmallParams(!c.common);
  p.maxFrequencyPoints = Index(200, 200);
  return f.Init(P(&p));
}

const double* Pole() { return pole[1] = X(-2e9), pole; }

// The value a call returns, a pointer as whether it is set.
template <class T>
long L(T v) {
  if constexpr (std::is_pointer_v<T>) {
    return v != nullptr;
  } else {
    return static_cast<long>(v);
  }
}
// clang-format off
#define CALL(expr) [](cFitAPI& f) -> long { return L(expr); }
// A row whose call is the operation of that name with `args`.
#define OP(name, args, ...) {#name, CALL(f.name args), __VA_ARGS__}
#define SPECIAL(expr) {.special = []([[maybe_unused]] const State& s) -> Outcome { return expr; }}
// clang-format on

// The operations that are built. Notes: WriteDataTable takes an index
// outside the matrix as the whole matrix and still writes a type without a
// letter (recording 7); WriteTouchstone fails a format other than 0, 1, 2
// without an error; GetEnforcedAccuracy logs the accuracy without
// out-pointers; Init with -1 points still has the 2N rows of an N-port,
// 1 << 30 points more rows than an int counts; BeginData with a port count
// outside 1..4096 records 45 and keeps what the fitter holds; DefineModel of
// another size records 46 before the size is checked (45); a fitted Y or Z
// model may hold a proportional term already; SetCancelFlag and
// SetOutputComment return their (null) argument; SetElementDcOption and
// SetElementAsymptote take a negative index as every element; ABCD data
// accept any asymptote and store nothing.
#define DATA_G "p20 s20 y1003"
#define MODEL_G "f19 s19 y1003 G30"
#define DATA_MARGINS "d6 y1003 p33 F33"
#define MODEL_MARGINS "f8 y1003 G34"
#define MODEL_CHECK "f12 y1003 G27"
#define SWEEP "f8 ?G"
// clang-format off
const std::vector<Row> kRows = {
  OP(ReadTouchstone, (Name()), "-d2 -f3 | t", Refused(1002)),
  OP(Fit, (), "d5 F26 p26 | ~"),
  OP(ReadPoles, (Name()), "-f13 | l", Refused(14)),
  OP(HasFit, (), "f"),
  OP(HasSampledData, (), "d"),
  OP(IsMixedMode, (), "x"),
  OP(SetMixedModeFlag, (), "4"),
  OP(SetStandardModeFlag, (), "", {}, 1),
  OP(IsSymmetric, (), "s"),
  OP(CheckSymmetry, (P(a), P(b)), "s ?F | p", NullSkipped()),
  OP(Symmetrize, (), "d6 -f22"),
  OP(CheckDataPassivity, (P(a), P(b)), "d10 y1003 F33 | p", NullSkipped()),
  OP(EnforceDataPassivity, (1.0), "d10 y1003 F11 | ~"),
  OP(GetDataMutualConductanceDC, (I(), J(), P(a)), DATA_G "| ep", NullSkipped(20)),
  OP(GetDataMutualConductance, (I(), J(), X(1e9), P(a), P(b)), DATA_G "| epx", NullSkipped(20)),
  OP(GetLowestPointTransfer, (I(), J(), P(a)), "n20 p20 y1003 | ep", NullSkipped(20)),
  OP(GetMaxElementMagnitude, (I(), J(), P(a), P(b)), "n20 p20 | ep", NullSkipped(20)),
  OP(WriteDataTable, (Name(), I(), J(), true, true, 1), "d6 ~l7 | eo", {kSame, kSame, Fail(6), Fail(6)}),
  OP(WriteTouchstone, (Name(), Index(1, 3)), "d6 l7 | io", {Fail(), Fail(), Fail(6), Fail(6)}),
  // The file is a 2-port: a 4-port cascaded with it stays a 4-port.
  OP(CascadeWithTouchstone, (Name()), "p6 q21 -f22 y32 | t", Refused(1002), kPortCount),
  OP(VoltageTransferFunction, (50.0, X(0.02), 1324), "d6 q21 -f22 y32 | x", Refused(45)),
  OP(CheckModelPassivity, (P(a), P(b)), MODEL_CHECK "| p", NullSkipped()),
  OP(EnforceModelPassivity, (1.0), MODEL_CHECK "| ~"),
  OP(WritePoles, (Name()), "f8 | o", Refused(9)),
  OP(SweepModelAdaptive, (0.1, X(2e10)), SWEEP "| x", Refused(45)),
  OP(SweepModelLinear, (1e9, X(1e8), 1e10), SWEEP "| x", Refused(45)),
  OP(SweepModelAtDataOf, (P(&Other())), SWEEP "| p", Refused(45)),
  // The length of the host's array cannot be checked: a count of N or
  // 1 << 30 stays within the three frequencies.
  OP(SweepModelAtList, (std::min(Index(3, 2), 3), P(Frequencies())), SWEEP "| ipx",
     {Fail(45), kSame, Fail(45), Fail(45), Fail(45)}),
  OP(WriteSubcircuit, (Name()), "f12 S12 G29 | o", Refused(28)),
  OP(GetModelMutualConductanceDC, (I(), J(), P(a)), MODEL_G "| ep", NullSkipped(19)),
  OP(GetModelMutualConductance, (I(), J(), X(1e9), P(a), P(b)), MODEL_G "| epx", NullSkipped(19)),
  OP(GetEnforcedAccuracy, (P(&rms), P(&largest)), "p f | p", NullSkipped()),
  {"Init", Init, "| ipr", SPECIAL(Null() || c.bad == s.n ? kSame : c.bad < 0 && s.n > 0 ? Ok() : Fail())},
  OP(SetEnforcementMode, (Index(1, c.n)), "| i", SPECIAL(Value(c.bad)), 1),
  OP(GetFirstDataPoint, (), "d6 p"),
  {"GetNextDataPoint", CALL((f.GetFirstDataPoint(), f.GetNextDataPoint())), "d6 2"},
  {"BeginData", CALL((f.BeginData(Size(), kS, P(Ohms(c.n).data())), 1)), "| ip", {Ok(45), Ok(45), kSame}},
  {"AddDataPoint", AddPoint, "d | px"},
  OP(EndData, (), "p", {}, kAnything),
  OP(IsSeriesElement, (), "w40 d6 Y32 s k"),
  OP(IsShuntElement, (), "w40 d6 Z32 s h"),
  OP(IdealizeShuntElement, (), "w40 d6 Z32 s h E42"),
  OP(ConvertDataType, (Index(f.GetDataType() == kS ? kY : kS, 6)), "y32 o6 | i", Refused(32)),
  OP(JoinModalTwoPorts, (Name()), "p6 w6 S6 z42 | t", Refused(1002)),
  OP(ConvertToMixedMode, (Index(1, 4), 2, 3, 4), "431 z42 -c41 | i ~", Refused(37)),
  OP(ConvertToStandardMode, (3, Index(1, 4), 4, 2), "431 z42 -c41 | i ~", Refused(37)),
  OP(ExtractShuntElement, (Index(kZ, 6)), "w40 y32 d6 s20 | i", Refused(32)),
  OP(ExtractSeriesElement, (Index(kY, 6)), "w40 y32 d6 s20 | i", Refused(32)),
  OP(MakeSeriesTwoPort, (), "140 d6 y32"),
  // A failed fit or enforcement may leave a model of its own.
  OP(FitSeriesElement, (), "w40 S32 d6 s20 R44 | ~"),
  OP(GetDataType, (), "", {}, kTypeCode),
  // A bad impedance is read only where the fitter has ports.
  OP(ChangeReferenceImpedances, (P(Impedances(c.n).data())), "v | px", SPECIAL(Null() || s.n > 0 ? Fail(17) : kSame)),
  OP(SetReferenceImpedance, (X(75.0)), "v | x", SPECIAL(s.n > 0 ? Fail(17) : kSame)),
  OP(TerminatePorts, (P(KeepFirst(c.n).data())), "d6 j35 | p", {Fail(), Fail(), Fail(45)}),
  OP(CombinePorts, (P(JoinFirstTwo(c.n).data()), Index(0, c.n)), "d6 -153 S35 | ip", {Fail(54), Fail(54), Fail(45)}),
  OP(ReorderPorts, (P(Reversed(c.n).data())), "| p", {Fail(), Fail(), Fail(45)}),
  OP(GetPortCount, (), "", {}, kPortCount),
  OP(GetReferenceImpedances, (), "z"),
  OP(GetDataPassivityMargins, (), DATA_MARGINS),
  {"GetFirstDataMargin", CALL((f.GetDataPassivityMargins(), f.GetFirstDataMargin(P(a), P(b)))),
   DATA_MARGINS "| p", NullSkipped()},
  {"GetNextDataMargin", CALL((f.GetDataPassivityMargins(), f.GetFirstDataMargin(a, b),
   f.GetNextDataMargin(P(a), P(b)))), DATA_MARGINS "| p", NullSkipped()},
  // No 2-port state holds delays (the check after these: 43).
  OP(JoinModalTwoPortModels, (Name()), "f8 w8 S8 -c41 z42 | l", Refused(14)),
  OP(EvaluateModelElement, (I(), J(), X(1e9), P(a)), "f8 | epx", {Fail(8), Fail(8), kSame, Fail(8), Fail(45)}),
  OP(GetModelPassivityMargins, (), MODEL_MARGINS),
  {"GetFirstModelMargin", CALL((f.GetModelPassivityMargins(), f.GetFirstModelMargin(P(a), P(b)))),
   MODEL_MARGINS "| p", NullSkipped()},
  {"GetNextModelMargin", CALL((f.GetModelPassivityMargins(), f.GetFirstModelMargin(a, b),
   f.GetNextModelMargin(P(a), P(b)))), MODEL_MARGINS "| p", NullSkipped()},
  OP(GetElementModelInfo, (I(), J(), P(&poleCount), P(a), P(b), P(a + 1)), "f8 | ep", NullSkipped(8)),
  OP(GetElementPolesResidues, (I(), J(), P(poles), P(residues)), "f | ep"),
  OP(DefineModel, (Size(), kS, P(Ohms(4).data()), 1), "| ip", SPECIAL(Null() ? kSame : s.n > 0 ? Fail(46) : Fail(45))),
  // With null arrays the scalars are still stored first.
  OP(SetElementModel, (I(), J(), 1, 0.1, 0.0, 0.0, P(Pole()), P(residue)), "m | epx~"),
  OP(ConvertPulseModelToS, (1e-9, X(1.0), 0.0), "f8 18 u8 | x", Refused(45)),
  {"SetTimeStep", CALL((f.SetTimeStep(1e-12), 1)), ""},
  OP(GetTimeResponse, (Span(), 1e-9, P(a), P(b), P(b + 1), I(), J()), "f | ep", {Fail(45), Fail(45), kSame}),
  OP(WriteTimeResponse, (Span(), Name(), I(), J()), "f8 | eo", {Fail(45), Fail(45), Fail(57), Fail(57)}),
  // A bad type stands for another type than the fit's.
  {"CreateSolver", CALL(Owned(f.CreateSolver(Index(f.GetDataType(), 5)))), "f4 y4 | i", Refused(4)},
  OP(MultiplyModelByFrequency, (0.0, X(1e-9)), "f -c 1 ?P0 | x"),
  OP(GetProgress, (), ""),
  OP(SetCancelFlag, (P(&cancelByte)), "| p"),
  OP(GetErrorMessage, (), "!"),
  OP(GetFileComment, (), "", {}, kAnything),
  OP(SetOutputComment, (P("a test")), "| p"),
  OP(SetElementDcOption, (0, I(), J(), 0.5), "e | e", {kSame, Fail(45)}),
  OP(SetElementAsymptote, (0, I(), J(), 0.1), "e l | e", SPECIAL(c.bad < 0 || s.type == kABCD ? kSame : Fail(45))),
  // R is checked (48) before the type (32), both before the port count.
  OP(BuildRLCModel, (X(10.0), 1e-9, 1e-12, Index(kS, 6)), "-n46 | ix", {Fail(32), Fail(32), Fail(), Fail(), Fail(48)}),
  // Without a crossing it returns 0, the model already dropped.
  OP(FindReactanceZeroCrossing, (P(a)), "S50 w50 d6 K51 | p~", NullSkipped(), kAnything),
  OP(GetTouchstonePortCount, (Name()), "| t", Refused(1001), 2),
  OP(GetPolesPortCount, (Name()), "| l", Refused(14), kFilePorts),
};
// clang-format on

// ---------------------------------------------------------------------------
// Expectations

// The outcome of the valid call: the first unmet check decides.
Outcome Valid(const Row& row, const State& s) {
  int recorded = kNoMessage;
  bool unspecified = false;
  std::istringstream checks{std::string(row.Checks())};
  for (std::string w; checks >> w;) {
    const char effect = std::strchr("-~?", w[0]) != nullptr ? w[0] : '+';
    const std::string code = w.substr(1 + (effect != '+'));
    const int error = !code.empty() ? std::stoi(code) : effect == '?' ? kUnchecked : kNoMessage;
    if (s.Has(w[effect != '+']) != (effect == '-')) continue;
    if (effect == '+' || effect == '-') return Fail(error);
    unspecified = unspecified || effect == '?';
    if (recorded == kNoMessage) recorded = error;
  }
  if (unspecified) return Any(recorded);
  switch (row.success) {
    case kNonZero: return Ok(recorded);
    case kAnything: return Any(kNoMessage);
    case kPortCount: return Value(s.n);
    case kTypeCode: return Value(s.type);
    case kFilePorts: return Value(PoleFileFor(s).second);
    default: return Value(row.success);
  }
}

// The outcome of the call being made. `refused` tells whether the call must
// leave data and model as they were even where it returns non-zero: a bad
// argument that is not simply skipped.
Outcome Expected(const Row& row, const State& s, bool* refused) {
  const Outcome valid = Valid(row, s);
  *refused = false;
  if (c.variant == Variant::kValid) return valid;
  // Refused for the state already: a bad argument does not change that,
  // though it may be refused first.
  if (valid.kind == Outcome::kFail || (valid.kind == Outcome::kValue && valid.value == 0)) {
    *refused = true;
    return Fail(valid.code == kNoMessage ? kUnchecked : kSomeMessage);
  }
  if (valid.kind == Outcome::kAny) return Any();
  const Bad& b = row.bad;
  const Variant v = c.variant;
  const Outcome bad = b.special != nullptr ? b.special(s)
                      : v == Variant::kBadI || v == Variant::kBadJ
                          ? (c.bad < 0 ? b.negative : b.large)
                      : v == Variant::kNull   ? b.null
                      : v == Variant::kNumber ? b.number
                                              : b.file;
  if (bad.kind == Outcome::kSame) return valid;
  *refused = bad.kind != Outcome::kAny;
  return bad;
}

// ---------------------------------------------------------------------------
// The driver

// Data and model as a host reads them, bit for bit.
std::vector<double> Contents(cFitAPI& f) {
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
  return v;
}

void ExpectOutcome(const Outcome& want, long got, const char* message) {
  EXPECT_TRUE(want.kind != Outcome::kOk || got != 0) << "expected success";
  EXPECT_TRUE(want.kind != Outcome::kFail || got == 0) << "expected failure, got " << got;
  EXPECT_TRUE(want.kind != Outcome::kValue || got == want.value) << want.value << ", got " << got;
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
  const bool file = row.Takes('t') || row.Takes('l') || row.Takes('o');
  std::vector<Call> calls;
  auto add = [&](Variant v, int bad = 0, double x = 0.0) {
    const int i = v == Variant::kBadI ? bad : s.n > 1 ? 1 : 0;
    calls.push_back({v, s.n, i, v == Variant::kBadJ ? bad : 0, bad, x, s.Has('c'), ""});
    if (v == Variant::kDirectory) calls.back().file = Scratch().path().string();
    if (v == Variant::kDirectory || v == Variant::kEmptyName) return;
    calls.back().file = row.Takes('t')   ? TouchstoneFile()
                        : row.Takes('l') ? PoleFileFor(s).first
                        : row.Takes('o') ? Scratch().NewFile("out")
                                         : "";
  };
  add(Variant::kValid);
  for (int bad : {-1, s.n, 1 << 30}) {
    if (row.Takes('e') || row.Takes('i')) add(Variant::kBadI, bad);
    if (row.Takes('e')) add(Variant::kBadJ, bad);
  }
  if (row.Takes('p') || file) add(Variant::kNull);
  if (file) add(Variant::kEmptyName), add(Variant::kDirectory);
  for (double x : {kNaN, kInf, -kInf}) {
    if (row.Takes('x')) add(Variant::kNumber, 0, x);
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
// each is built and has a row here, and every row names an operation of the
// table.
TEST(OperationTable, EveryOperationHasACallerHere) {
  const auto table = OperationTable();
  ASSERT_EQ(table.size(), 87u) << "every operation of the interface";
  std::set<std::string_view> names;
  for (std::size_t k = 0; k < table.size(); ++k) {
    const OperationRow& operation = table[k];
    EXPECT_EQ(static_cast<std::size_t>(operation.operation), k) << operation.name;
    EXPECT_TRUE(operation.built && RowNamed(operation.name) != nullptr)
        << operation.name << " is not built or has no row in this test";
    names.insert(operation.name);
  }
  for (const Row& row : kRows) EXPECT_TRUE(names.contains(row.name)) << row.name;
}

class EveryOperation : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EveryOperation, EndsAsItsChecksSayAndLeavesAUsableFitter) {
  const State& s = States()[GetParam()];
  testing::LogCapture log;
  for (const Row& row : kRows) {
    for (const Call& call : Calls(row, s)) {
      c = call;
      SCOPED_TRACE(std::string(row.name) + " " + static_cast<char>(c.variant) + " " +
                   std::to_string(c.bad) + " " + std::to_string(c.nonFinite));
      bool refused = false;
      Outcome want = Expected(row, s, &refused);
      // The message of the failed read that made the state stays first.
      if (s.Has('!')) want.code = kUnchecked;
      Fitter f = s.build();
      const auto before = Contents(*f);
      const long got = row.call(*f);
      ExpectOutcome(want, got, f->GetErrorMessage());
      if ((got == 0 || refused) && !row.Takes('~')) {
        EXPECT_TRUE(testing::SameBits(Contents(*f), before)) << "data or model changed";
      }
      cFitParams p = testing::SmallParams();
      if (row.Takes('r')) f->Init(&p);
      ExpectUsable(*f);
      log.clear();
    }
  }
  EXPECT_EQ(s.build()->GetErrorMessage() != nullptr, s.Has('!'));
}

INSTANTIATE_TEST_SUITE_P(States, EveryOperation, ::testing::Range<std::size_t>(0, States().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return States()[info.param].name;
                         });

}  // namespace
}  // namespace cfit
