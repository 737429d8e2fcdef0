// Every operation of the fitter interface, called in every state a host can
// reach and with the arguments a careless host passes: null pointers, element
// indices -1, N and 1 << 30, frequencies and values that are not finite, an
// empty file name and a directory as file name. Each call must end with its
// documented result and error, keep data and model when it fails or refuses
// an argument, and leave a fitter that still loads, fits and evaluates. The
// destructor (slot 0) ends every one of these fitters. Operations not built
// yet must fail without recording anything.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <utility>
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
// States

struct StateSpec {
  std::string name;
  int n = 0;
  int type = kNoData;
  int points = 0;           // points of the data set
  bool data = false;        // a data set exists (it may be empty)
  bool fit = false;         // HasFit
  bool model = false;       // model tables exist (a fit, or DefineModel)
  bool elements = false;    // an element table exists
  bool impedances = false;  // reference impedances exist
  bool symmetric = true;
  bool common = false;      // one pole set for all elements
  bool finiteData = true;   // every data value is a finite number
  bool finiteModel = true;  // every model term is a finite number
  bool message = false;     // an error is recorded when the state is reached
  std::function<Fitter()> build;
};

// Flags: d data set, f fit, m model tables, e element table, z impedances,
// a asymmetric, c common poles, D data not finite, M model not finite,
// ! an error recorded.
StateSpec State(std::string name, int n, int type, int points, const std::string& flags,
                std::function<Fitter()> build) {
  auto has = [&](char c) { return flags.find(c) != std::string::npos; };
  StateSpec s;
  s.name = std::move(name);
  s.n = n;
  s.type = type;
  s.points = points;
  s.data = has('d');
  s.fit = has('f');
  s.model = has('m') || s.fit;
  s.elements = has('e');
  s.impedances = has('z');
  s.symmetric = !has('a');
  s.common = has('c');
  s.finiteData = !has('D');
  s.finiteModel = !has('M');
  s.message = has('!');
  s.build = std::move(build);
  return s;
}

bool Syz(const StateSpec& s) { return s.type == kS || s.type == kY || s.type == kZ; }

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
// and type where it has them (a file without a type letter reads as S into
// any type).
std::pair<std::string, int> PoleFileFor(const StateSpec& s) {
  if (s.n == 0) return {PoleFile(2, kS), 2};
  if (s.type == kPulse) return {PoleFile(1, kPulse), 1};
  return {PoleFile(s.n, Syz(s) ? s.type : kS), s.n};
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

std::string WriteText(const std::string& text) {
  std::string name = Scratch().NewFile("text");
  std::FILE* file = std::fopen(name.c_str(), "w");
  std::fputs(text.c_str(), file);
  std::fclose(file);
  return name;
}

Fitter WithData(int n, int type, double asymmetry = 1.0, bool individual = true) {
  Fitter f = MakeFitter(individual);
  LoadSynthetic(*f, n, type, 20, asymmetry);
  return f;
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

// A value no interface operation accepts, put straight into the state.
void Poison(Fitter& f, double value) {
  if (f->state().data != nullptr) {
    PortMatrix& point = f->state().data->points()[3];
    point.At(point.order() - 1, 0) = Complex(value, 0.0);
  } else {
    FittedModel& m = *f->state().model;
    m.constant[0] = value;
    for (PoleList& list : m.elementPoles) {
      for (PoleTerm& term : list) term.SetResidue00(Complex(value, 0.0));
    }
  }
}

std::vector<StateSpec> MakeStates() {
  std::vector<StateSpec> states;
  states.push_back(State("New", 0, kNoData, 0, "", [] { return MakeFitter(); }));
  for (int n = 1; n <= 4; ++n) {
    for (int type : {kS, kY, kZ}) {
      const std::string size = std::to_string(n) + "Port" + "?SYZ"[type];
      states.push_back(State("Data" + size, n, type, 20, "dez", [=] { return WithData(n, type); }));
      states.push_back(State("Fit" + size, n, type, 0, "fez", [=] {
        Fitter f = MakeFitter();
        f->ReadPoles(PoleFile(n, type).c_str());
        return f;
      }));
      states.push_back(State("DataFit" + size, n, type, 20, "dfez", [=] {
        Fitter f = WithData(n, type);
        f->ReadPoles(PoleFile(n, type).c_str());
        return f;
      }));
    }
  }
  states.push_back(State("Asymmetric", 2, kS, 20, "deza", [] { return WithData(2, kS, 1.5); }));
  states.push_back(State("AsymmetricFit", 2, kS, 20, "dfeza", [] {
    Fitter f = WithData(2, kS, 1.5);
    f->Fit();
    return f;
  }));
  states.push_back(State("CommonPoleFit", 3, kS, 20, "dfezc", [] {
    Fitter f = WithData(3, kS, 1.0, false);
    f->Fit();
    return f;
  }));
  states.push_back(State("Abcd", 2, kABCD, 20, "dez", [] {
    Fitter f = WithData(2, kS);
    f->ConvertDataType(kABCD);
    return f;
  }));
  states.push_back(State("AbcdFit", 2, kABCD, 20, "dfez", [] {
    Fitter f = WithData(2, kS);
    f->ConvertDataType(kABCD);
    f->Fit();
    return f;
  }));
  states.push_back(State("NaNAbcd", 2, kABCD, 10, "dezD", [] { return Converted(2, 0.5, kABCD); }));
  states.push_back(State("ShortAsY", 1, kY, 10, "dez", [] { return Converted(1, -1.0, kY); }));
  // Values are read as the C library converts them, NaN and infinities too.
  states.push_back(State("NaNRead", 2, kS, 6, "dezD", [] {
    std::string text = "# HZ S RI R 50\n";
    for (int k = 1; k <= 6; ++k) {
      text += std::to_string(k) + "e9 0.3 0 0.1 0 0.1 0 " + (k == 4 ? "nan" : "0.3") + " 0\n";
    }
    Fitter f = MakeFitter();
    f->ReadTouchstone(WriteText(text).c_str());
    return f;
  }));
  states.push_back(State("InfDataFit", 3, kZ, 20, "dfezD", [] {
    Fitter f = WithData(3, kZ);
    f->ReadPoles(PoleFile(3, kZ).c_str());
    Poison(f, kInf);
    return f;
  }));
  states.push_back(State("PulseData", 1, kPulse, 20, "dez", [] { return WithData(1, kPulse); }));
  states.push_back(State("PulseModel", 1, kPulse, 0, "fez", [] {
    Fitter f = MakeFitter();
    f->ReadPoles(PoleFile(1, kPulse).c_str());
    return f;
  }));
  states.push_back(State("UnknownType", 2, 9, 20, "dez", [] { return WithData(2, 9); }));
  states.push_back(State("EmptySet", 2, kS, 0, "dez", [] {
    Fitter f = MakeFitter();
    f->BeginData(2, kS, nullptr);
    f->EndData();
    return f;
  }));
  states.push_back(State("DefinedModel", 3, kS, 0, "fez", [] {
    Fitter f = MakeFitter();
    const double p[4] = {1e9, 0, 2e9, -3e9}, r[4] = {0.2, 0, 0.1, 0.05};
    f->DefineModel(3, kS, nullptr, true);
    f->SetElementModel(1, 0, 2, 0.1, 0.0, 1e-10, p, r);
    return f;
  }));
  states.push_back(State("DefinedWithoutTerms", 2, kS, 0, "mez", [] {
    Fitter f = MakeFitter();
    f->DefineModel(2, kS, nullptr, true);
    return f;
  }));
  states.push_back(State("NaNModel", 1, kS, 0, "fezM", [] {
    Fitter f = MakeFitter();
    const double p[2] = {1e9, 0}, r[2] = {0.1, 0};
    f->DefineModel(1, kS, nullptr, true);
    f->SetElementModel(0, 0, 1, 0.0, 0.0, 0.0, p, r);
    Poison(f, kNaN);
    return f;
  }));
  // The option line fails after its type word: the port count and the type
  // stay, with neither data nor an element table.
  states.push_back(State("FailedRead", 1, kS, 0, "!", [] {
    Fitter f = MakeFitter();
    f->ReadTouchstone(WriteText("# GHZ S R 50\n1 0.1 0\n2 0.2 0\n").c_str());
    return f;
  }));
  return states;
}

const std::vector<StateSpec>& States() {
  static const std::vector<StateSpec> states = MakeStates();
  return states;
}

// ---------------------------------------------------------------------------
// Calls and their outcomes

enum class Variant { kValid, kBadI, kBadJ, kNull, kEmptyName, kDirectory, kFrequency, kValue };

struct Call {
  Variant variant = Variant::kValid;
  int n = 0;
  int i = 0, j = 0;
  int bad = 0;             // the index of kBadI and kBadJ
  double nonFinite = 0.0;  // the number of kFrequency and kValue
  std::string file;
  cFitAPI* other = nullptr;
  char cancel = 0;

  bool null() const { return variant == Variant::kNull; }
  // A single index-like argument: `valid`, or the bad index with N standing
  // for `forN`.
  int Index(int valid, int forN) const {
    if (variant != Variant::kBadI) return valid;
    return bad == n ? forN : bad;
  }
  double Frequency(double valid) const {
    return variant == Variant::kFrequency ? nonFinite : valid;
  }
  double Value(double valid) const { return variant == Variant::kValue ? nonFinite : valid; }
  template <class T>
  T* Pointer(T* valid) const {
    return null() ? nullptr : valid;
  }
  const char* name() const { return null() ? nullptr : file.c_str(); }
};

constexpr int kNoMessage = 0;
constexpr int kSomeMessage = -1;
constexpr int kUnchecked = -2;

struct Outcome {
  enum Kind { kOk, kFail, kAny, kValue, kTolerated } kind = kAny;
  int code = kUnchecked;  // a listed code, or one of the three above
  long value = 0;
};

Outcome Ok(int code = kNoMessage) { return {Outcome::kOk, code}; }
Outcome Fail(int code) { return {Outcome::kFail, code}; }
Outcome Any(int code = kUnchecked) { return {Outcome::kAny, code}; }
Outcome Value(long v) { return {Outcome::kValue, kNoMessage, v}; }
Outcome Flag(bool on) { return on ? Ok() : Fail(kNoMessage); }
// The bad argument changes nothing: the outcome of the valid call.
Outcome Tolerated() { return {Outcome::kTolerated}; }

enum Uses : unsigned {
  kNothing = 0,
  kElement = 1,    // element indices i, j
  kIndex = 2,      // one index-like argument
  kPointer = 4,    // pointer arguments
  kFrequency = 8,  // a frequency
  kValue = 16,     // a value that enters data or model
};
enum class FileRole { kNone, kTouchstoneIn, kPolesIn, kOut };

struct Row {
  int slot;
  const char* name;
  unsigned uses;
  FileRole file;
  long (*call)(cFitAPI&, Call&);
  Outcome (*valid)(const StateSpec&);
  // The outcome of a bad argument where the valid call succeeds.
  Outcome (*bad)(const StateSpec&, const Call&);
  // A failure may change data or model: the operation works in place, or
  // stores part of its arguments before it refuses.
  bool mayChange = false;
};

Outcome Unbuilt(const StateSpec&) { return Fail(kNoMessage); }
Outcome UnbuiltBad(const StateSpec&, const Call&) { return Fail(kNoMessage); }
Outcome NullTolerated(const StateSpec&, const Call&) { return Tolerated(); }
template <int code>
Outcome FailsWith(const StateSpec&, const Call&) {
  return Fail(code);
}
// Null out-pointers are skipped; anything else bad records `code`.
template <int code>
Outcome NullOrFails(const StateSpec&, const Call& c) {
  return c.null() ? Tolerated() : Fail(code);
}

// The poisoned point lies away from 0 Hz and 1 GHz, where these ask.
Outcome DataConductance(const StateSpec& s) {
  if (s.points == 0 || !s.symmetric) return Fail(20);
  return !Syz(s) ? Fail(1003) : Ok();
}
Outcome ModelConductance(const StateSpec& s) {
  if (!s.fit || !s.symmetric) return Fail(19);
  return !Syz(s) ? Fail(1003) : !s.finiteModel ? Fail(30) : Ok();
}
Outcome DataMargins(const StateSpec& s) {
  if (!s.data) return Fail(6);
  return !Syz(s) ? Fail(1003) : s.points == 0 || !s.finiteData ? Fail(33) : Ok();
}
Outcome ModelMargins(const StateSpec& s) {
  return !s.fit ? Fail(8) : !Syz(s) ? Fail(1003) : !s.finiteModel ? Fail(34) : Ok();
}
Outcome ModelCheck(const StateSpec& s) {
  return !s.fit ? Fail(12) : !Syz(s) ? Fail(1003) : !s.finiteModel ? Fail(27) : Ok();
}
Outcome Sweep(const StateSpec& s) { return !s.fit ? Fail(8) : !s.finiteModel ? Any() : Ok(); }

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

const std::vector<Row> kRows = {
    {1, "ReadTouchstone", kNothing, FileRole::kTouchstoneIn,
     [](cFitAPI& f, Call& c) -> long { return f.ReadTouchstone(c.name()); },
     [](const StateSpec& s) { return s.data ? Fail(2) : s.fit ? Fail(3) : Ok(); },
     FailsWith<1002>},
    {2, "Fit", kNothing, FileRole::kNone, [](cFitAPI& f, Call&) -> long { return f.Fit(); },
     [](const StateSpec& s) {
       return !s.data ? Fail(5) : !s.finiteData || s.points == 0 ? Fail(26) : Ok();
     },
     nullptr, true},
    {3, "ReadPoles", kNothing, FileRole::kPolesIn,
     [](cFitAPI& f, Call& c) -> long { return f.ReadPoles(c.name()); },
     [](const StateSpec& s) { return s.fit ? Fail(13) : Ok(); }, FailsWith<14>},
    {4, "HasFit", kNothing, FileRole::kNone, [](cFitAPI& f, Call&) { return Bool(f.HasFit()); },
     [](const StateSpec& s) { return Flag(s.fit); }, nullptr},
    {5, "HasSampledData", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Bool(f.HasSampledData()); },
     [](const StateSpec& s) { return Flag(s.data); }, nullptr},
    {6, "IsMixedMode", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Bool(f.IsMixedMode()); },
     [](const StateSpec&) { return Flag(false); }, nullptr},
    {7, "SetMixedModeFlag", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.SetMixedModeFlag(); },
     [](const StateSpec& s) { return Flag(s.n == 4); }, nullptr},
    {8, "SetStandardModeFlag", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.SetStandardModeFlag(); },
     [](const StateSpec&) { return Value(1); }, nullptr},
    {9, "IsSymmetric", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Bool(f.IsSymmetric()); },
     [](const StateSpec& s) { return Flag(s.symmetric); }, nullptr},
    {10, "CheckSymmetry", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) { return Bool(f.CheckSymmetry(c.Pointer(a), c.Pointer(b))); },
     [](const StateSpec& s) { return Flag(!s.data || s.symmetric); }, NullTolerated},
    {11, "Symmetrize", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.Symmetrize(); },
     [](const StateSpec& s) { return !s.data ? Fail(6) : s.fit ? Fail(22) : Ok(); }, nullptr},
    {12, "CheckDataPassivity", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.CheckDataPassivity(c.Pointer(a), c.Pointer(b)); },
     [](const StateSpec& s) {
       return !s.data ? Fail(10) : !Syz(s) ? Fail(1003) : !s.finiteData ? Fail(33) : Ok();
     },
     NullTolerated},
    {13, "EnforceDataPassivity", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.EnforceDataPassivity(1.0); },
     [](const StateSpec& s) {
       return !s.data ? Fail(10) : !Syz(s) ? Fail(1003) : !s.finiteData ? Fail(11) : Ok();
     },
     nullptr, true},
    {14, "GetDataMutualConductanceDC", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetDataMutualConductanceDC(c.i, c.j, c.Pointer(a));
     },
     DataConductance, NullOrFails<20>},
    {15, "GetDataMutualConductance", kElement | kPointer | kFrequency, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetDataMutualConductance(c.i, c.j, c.Frequency(1e9), c.Pointer(a), c.Pointer(b));
     },
     DataConductance, NullOrFails<20>},
    {16, "GetLowestPointTransfer", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.GetLowestPointTransfer(c.i, c.j, c.Pointer(a)); },
     [](const StateSpec& s) {
       return s.n < 2 || s.points == 0 ? Fail(20) : Syz(s) ? Ok() : Fail(1003);
     },
     NullOrFails<20>},
    {17, "GetMaxElementMagnitude", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetMaxElementMagnitude(c.i, c.j, c.Pointer(a), c.Pointer(b));
     },
     [](const StateSpec& s) { return s.n < 2 || s.points == 0 ? Fail(20) : Ok(); },
     NullOrFails<20>},
    // An index outside the matrix asks for the whole matrix. A data type
    // without a letter records 7 for the header and still writes the table.
    {18, "WriteDataTable", kElement, FileRole::kOut,
     [](cFitAPI& f, Call& c) -> long { return f.WriteDataTable(c.name(), c.i, c.j, true, true, 1); },
     [](const StateSpec& s) {
       return !s.data ? Fail(6) : s.type >= kS && s.type <= kPulse ? Ok() : Ok(7);
     },
     [](const StateSpec&, const Call& c) {
       return c.variant == Variant::kBadI || c.variant == Variant::kBadJ ? Tolerated() : Fail(6);
     }},
    // A format code other than 0, 1 and 2 fails without an error.
    {19, "WriteTouchstone", kIndex, FileRole::kOut,
     [](cFitAPI& f, Call& c) -> long { return f.WriteTouchstone(c.name(), c.Index(1, 3)); },
     [](const StateSpec& s) {
       return !s.data ? Fail(6) : s.type >= kS && s.type <= kPulse ? Ok() : Fail(7);
     },
     [](const StateSpec&, const Call& c) {
       return c.variant == Variant::kBadI ? Fail(kNoMessage) : Fail(6);
     }},
    {20, "CascadeWithTouchstone", kNothing, FileRole::kTouchstoneIn,
     [](cFitAPI& f, Call& c) -> long { return f.CascadeWithTouchstone(c.name()); }, Unbuilt,
     UnbuiltBad},
    {21, "VoltageTransferFunction", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.VoltageTransferFunction(50.0, 0.02, c.Index(0, c.n));
     },
     Unbuilt, UnbuiltBad},
    {22, "CheckModelPassivity", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.CheckModelPassivity(c.Pointer(a), c.Pointer(b)); },
     ModelCheck, NullTolerated},
    {23, "EnforceModelPassivity", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.EnforceModelPassivity(1.0); }, ModelCheck, nullptr,
     true},
    {24, "WritePoles", kNothing, FileRole::kOut,
     [](cFitAPI& f, Call& c) -> long { return f.WritePoles(c.name()); },
     [](const StateSpec& s) { return !s.fit ? Fail(8) : Ok(); }, FailsWith<9>},
    {25, "SweepModelAdaptive", kFrequency, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.SweepModelAdaptive(0.1, c.Frequency(2e10)); },
     Sweep, FailsWith<45>},
    {26, "SweepModelLinear", kFrequency, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.SweepModelLinear(1e9, c.Frequency(1e8), 1e10); },
     Sweep, FailsWith<45>},
    {27, "SweepModelAtDataOf", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.SweepModelAtDataOf(c.Pointer(c.other)); }, Sweep,
     FailsWith<45>},
    // The length of the host's array cannot be checked: a count of N or
    // 1 << 30 stays within the three frequencies.
    {28, "SweepModelAtList", kIndex | kPointer | kFrequency, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       frequencies[0] = 1e8;
       frequencies[1] = c.Frequency(1e9);
       frequencies[2] = 5e9;
       return f.SweepModelAtList(std::min(c.Index(3, 2), 3), c.Pointer(frequencies));
     },
     Sweep,
     [](const StateSpec&, const Call& c) {
       return c.variant == Variant::kBadI && c.bad >= 0 ? Tolerated() : Fail(45);
     }},
    {29, "WriteSubcircuit", kNothing, FileRole::kOut,
     [](cFitAPI& f, Call& c) -> long { return f.WriteSubcircuit(c.name()); },
     [](const StateSpec& s) {
       return !s.fit || s.type != kS ? Fail(12) : !s.finiteModel ? Fail(29) : Ok();
     },
     FailsWith<28>},
    {30, "GetModelMutualConductanceDC", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetModelMutualConductanceDC(c.i, c.j, c.Pointer(a));
     },
     ModelConductance, NullOrFails<19>},
    {31, "GetModelMutualConductance", kElement | kPointer | kFrequency, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetModelMutualConductance(c.i, c.j, c.Frequency(1e9), c.Pointer(a), c.Pointer(b));
     },
     ModelConductance, NullOrFails<19>},
    // Without out-pointers the accuracy goes to the log.
    {32, "GetEnforcedAccuracy", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetEnforcedAccuracy(c.Pointer(&rms), c.Pointer(&largest));
     },
     [](const StateSpec& s) { return s.points == 0 || !s.fit ? Fail(kNoMessage) : Ok(); },
     NullTolerated},
    // -1 points still leave the 2N rows an N-port needs; 1 << 30 points need
    // more rows than an int counts.
    {33, "Init", kIndex | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) {
       cFitParams p = testing::SmallParams();
       p.maxFrequencyPoints = c.Index(200, 200);
       return Bool(f.Init(c.Pointer(&p)));
     },
     [](const StateSpec&) { return Ok(); },
     [](const StateSpec& s, const Call& c) {
       if (c.null() || c.bad == s.n) return Tolerated();
       return c.bad < 0 && s.n > 0 ? Ok() : Fail(kNoMessage);
     }},
    {34, "SetEnforcementMode", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.SetEnforcementMode(c.Index(1, c.n)); },
     [](const StateSpec&) { return Value(1); },
     [](const StateSpec&, const Call& c) { return Value(c.bad); }},
    {35, "GetFirstDataPoint", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Ptr(f.GetFirstDataPoint()); },
     [](const StateSpec& s) {
       return !s.data ? Fail(6) : s.points == 0 ? Fail(kNoMessage) : Ok();
     },
     nullptr},
    {36, "GetNextDataPoint", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) {
       f.GetFirstDataPoint();
       return Ptr(f.GetNextDataPoint());
     },
     [](const StateSpec& s) {
       return !s.data ? Fail(6) : s.points < 2 ? Fail(kNoMessage) : Ok();
     },
     nullptr},
    // A port count outside 1..4096 records 45 and keeps what the fitter
    // holds; null impedances stand for 50 ohms.
    {37, "BeginData", kIndex | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       const std::vector<double> z = Impedances(4);
       f.BeginData(c.Index(c.n > 0 ? c.n : 2, 0), kS, c.Pointer(z.data()));
       return 1;
     },
     [](const StateSpec&) { return Ok(); },
     [](const StateSpec&, const Call& c) { return c.null() ? Tolerated() : Ok(45); }},
    // A null record and a record without rows are refused alike.
    {38, "AddDataPoint", kPointer | kFrequency | kValue, FileRole::kNone,
     [](cFitAPI& f, Call& c) {
       testing::PointRecord record(c.n);
       for (int i = 0; i < c.n; ++i) record.Set(i, i, {c.Value(0.1), 0.0});
       DataPointRecord* point = record.get(c.Frequency(1e12));
       if (!c.null()) return Bool(f.AddDataPoint(point));
       DataPointRecord noRows{1e12, nullptr};
       return Bool(f.AddDataPoint(nullptr) || (c.n > 0 && f.AddDataPoint(&noRows)));
     },
     [](const StateSpec& s) { return Flag(s.data); }, FailsWith<kNoMessage>},
    {39, "EndData", kNothing, FileRole::kNone, [](cFitAPI& f, Call&) { return Bool(f.EndData()); },
     [](const StateSpec& s) { return s.points == 0 ? Fail(kNoMessage) : Any(kNoMessage); },
     nullptr},
    {40, "IsSeriesElement", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Bool(f.IsSeriesElement()); }, Unbuilt, nullptr},
    {41, "IsShuntElement", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Bool(f.IsShuntElement()); }, Unbuilt, nullptr},
    {42, "IdealizeShuntElement", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.IdealizeShuntElement(); }, Unbuilt, nullptr},
    {43, "ConvertDataType", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.ConvertDataType(c.Index(f.GetDataType() == kS ? kY : kS, 6));
     },
     [](const StateSpec& s) { return !Syz(s) ? Fail(32) : !s.fit && !s.data ? Fail(6) : Ok(); },
     FailsWith<32>},
    {44, "ExtractShuntElement", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.ExtractShuntElement(c.Index(1, c.n)); }, Unbuilt,
     UnbuiltBad},
    {45, "ExtractSeriesElement", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.ExtractSeriesElement(c.Index(1, c.n)); }, Unbuilt,
     UnbuiltBad},
    {46, "MakeSeriesTwoPort", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.MakeSeriesTwoPort(); }, Unbuilt, nullptr},
    {47, "FitSeriesElement", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Bool(f.FitSeriesElement()); }, Unbuilt, nullptr},
    {48, "ConvertToStandardMode", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.ConvertToStandardMode(c.Index(1, c.n), 2, 3, 4); },
     Unbuilt, UnbuiltBad},
    {49, "ConvertToMixedMode", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.ConvertToMixedMode(c.Index(1, c.n), 2, 3, 4); },
     Unbuilt, UnbuiltBad},
    {50, "JoinModalTwoPorts", kNothing, FileRole::kTouchstoneIn,
     [](cFitAPI& f, Call& c) -> long { return f.JoinModalTwoPorts(c.name()); }, Unbuilt,
     UnbuiltBad},
    {51, "ChangeReferenceImpedances", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       const std::vector<double> z = Impedances(c.n);
       return f.ChangeReferenceImpedances(c.Pointer(z.data()));
     },
     Unbuilt, UnbuiltBad},
    {52, "SetReferenceImpedance", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.SetReferenceImpedance(75.0); }, Unbuilt, nullptr},
    {53, "TerminatePorts", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       const std::vector<int> codes(std::max(c.n, 1), 0);
       return f.TerminatePorts(c.Pointer(codes.data()));
     },
     Unbuilt, UnbuiltBad},
    {54, "CombinePorts", kIndex | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       const std::vector<unsigned char> join(std::max(c.n, 1), 1);
       return f.CombinePorts(c.Pointer(join.data()), c.Index(0, c.n));
     },
     Unbuilt, UnbuiltBad},
    {55, "ReorderPorts", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       std::vector<int> order(std::max(c.n, 1));
       for (std::size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int>(k);
       return f.ReorderPorts(c.Pointer(order.data()));
     },
     Unbuilt, UnbuiltBad},
    {56, "GetDataType", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.GetDataType(); },
     [](const StateSpec& s) { return Value(s.type); }, nullptr},
    {57, "GetPortCount", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.GetPortCount(); },
     [](const StateSpec& s) { return Value(s.n); }, nullptr},
    {58, "GetReferenceImpedances", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Ptr(f.GetReferenceImpedances()); },
     [](const StateSpec& s) { return Flag(s.impedances); }, nullptr},
    {59, "GetDataPassivityMargins", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.GetDataPassivityMargins(); }, DataMargins, nullptr},
    {60, "GetFirstDataMargin", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       f.GetDataPassivityMargins();
       return f.GetFirstDataMargin(c.Pointer(a), c.Pointer(b));
     },
     DataMargins, NullTolerated},
    {61, "GetNextDataMargin", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       f.GetDataPassivityMargins();
       f.GetFirstDataMargin(nullptr, nullptr);
       return f.GetNextDataMargin(c.Pointer(a), c.Pointer(b));
     },
     DataMargins, NullTolerated},
    {62, "JoinModalTwoPortModels", kNothing, FileRole::kPolesIn,
     [](cFitAPI& f, Call& c) -> long { return f.JoinModalTwoPortModels(c.name()); }, Unbuilt,
     UnbuiltBad},
    {63, "EvaluateModelElement", kElement | kPointer | kFrequency, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.EvaluateModelElement(c.i, c.j, c.Frequency(1e9), c.Pointer(a));
     },
     [](const StateSpec& s) { return !s.fit ? Fail(8) : Ok(); },
     [](const StateSpec&, const Call& c) {
       return c.null() ? Tolerated() : c.variant == Variant::kFrequency ? Fail(45) : Fail(8);
     }},
    {64, "GetModelPassivityMargins", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long { return f.GetModelPassivityMargins(); }, ModelMargins,
     nullptr},
    {65, "GetFirstModelMargin", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       f.GetModelPassivityMargins();
       return f.GetFirstModelMargin(c.Pointer(a), c.Pointer(b));
     },
     ModelMargins, NullTolerated},
    {66, "GetNextModelMargin", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       f.GetModelPassivityMargins();
       f.GetFirstModelMargin(nullptr, nullptr);
       return f.GetNextModelMargin(c.Pointer(a), c.Pointer(b));
     },
     ModelMargins, NullTolerated},
    {67, "GetElementModelInfo", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetElementModelInfo(c.i, c.j, c.Pointer(&poleCount), c.Pointer(a), c.Pointer(b),
                                    c.Pointer(a + 1));
     },
     [](const StateSpec& s) { return !s.fit ? Fail(8) : Ok(); }, NullOrFails<8>},
    {68, "GetElementPolesResidues", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetElementPolesResidues(c.i, c.j, c.Pointer(poles), c.Pointer(residues));
     },
     [](const StateSpec& s) { return Flag(s.fit); },
     FailsWith<kNoMessage>},
    {69, "DefineModel", kIndex | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       const std::vector<double> z = Impedances(4);
       return f.DefineModel(c.Index(c.n > 0 ? c.n : 2, 0), kS, c.Pointer(z.data()), true);
     },
     [](const StateSpec&) { return Ok(); },
     [](const StateSpec& s, const Call& c) {
       return c.null() ? Tolerated() : s.n > 0 ? Fail(46) : Fail(45);
     }},
    // Null arrays store the scalars first, as the operation is specified.
    {70, "SetElementModel", kElement | kPointer | kValue, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       const double pole[2] = {1e9, c.Value(-2e9)}, residue[2] = {0.1, 0.05};
       return f.SetElementModel(c.i, c.j, 1, 0.1, 0.0, 0.0, c.Pointer(pole), c.Pointer(residue));
     },
     [](const StateSpec& s) { return Flag(s.model); }, FailsWith<kNoMessage>, true},
    {71, "ConvertPulseModelToS", kValue, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.ConvertPulseModelToS(1e-9, c.Value(1.0), 0.0); },
     [](const StateSpec& s) { return !s.fit || s.n != 1 || s.type != kPulse ? Fail(8) : Ok(); },
     FailsWith<45>},
    {72, "SetTimeStep", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) -> long {
       f.SetTimeStep(1e-12);
       return 1;
     },
     [](const StateSpec&) { return Ok(); }, nullptr},
    {73, "MultiplyModelByFrequency", kValue, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.MultiplyModelByFrequency(0.0, c.Value(1e-9)); },
     [](const StateSpec& s) {
       if (!s.fit || s.common || s.n != 1) return Fail(kNoMessage);
       // A fitted Y or Z model may hold a proportional term already.
       return s.type == kS || s.type == kPulse ? Ok() : Any(kNoMessage);
     },
     FailsWith<kNoMessage>},
    {74, "GetTimeResponse", kElement | kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long {
       return f.GetTimeResponse(TimeResponseParameters{}, 1e-9, c.Pointer(a), c.Pointer(b),
                                c.Pointer(b + 1), c.i, c.j);
     },
     Unbuilt, UnbuiltBad},
    {75, "WriteTimeResponse", kElement, FileRole::kOut,
     [](cFitAPI& f, Call& c) -> long {
       return f.WriteTimeResponse(TimeResponseParameters{}, c.name(), c.i, c.j);
     },
     Unbuilt, UnbuiltBad},
    {76, "GetProgress", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Ptr(f.GetProgress()); },
     [](const StateSpec&) { return Ok(); }, nullptr},
    // Null clears the cancel byte and the output comment, and is returned.
    {77, "SetCancelFlag", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) { return Ptr(f.SetCancelFlag(c.Pointer(&c.cancel))); },
     [](const StateSpec&) { return Ok(); }, FailsWith<kNoMessage>},
    {78, "GetErrorMessage", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Ptr(f.GetErrorMessage()); },
     [](const StateSpec& s) { return Flag(s.message); }, nullptr},
    {79, "GetFileComment", kNothing, FileRole::kNone,
     [](cFitAPI& f, Call&) { return Ptr(f.GetFileComment()); },
     [](const StateSpec&) { return Any(kNoMessage); }, nullptr},
    {80, "SetOutputComment", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) { return Ptr(f.SetOutputComment(c.Pointer("written by a test"))); },
     [](const StateSpec&) { return Ok(); }, FailsWith<kNoMessage>},
    // A negative index addresses every element; N or more none (45).
    {81, "SetElementDcOption", kElement, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.SetElementDcOption(0, c.i, c.j, 0.5); },
     [](const StateSpec& s) { return Flag(s.elements); },
     [](const StateSpec&, const Call& c) { return c.bad < 0 ? Tolerated() : Fail(45); }},
    // ABCD data accept any request and store nothing.
    {82, "SetElementAsymptote", kElement, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.SetElementAsymptote(0, c.i, c.j, 0.1); },
     [](const StateSpec& s) { return Flag(s.elements && s.type >= kS && s.type <= kPulse); },
     [](const StateSpec& s, const Call& c) {
       return c.bad < 0 || s.type == kABCD ? Tolerated() : Fail(45);
     }},
    {83, "BuildRLCModel", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.BuildRLCModel(50, 1e-9, 1e-12, c.Index(0, 9)); },
     Unbuilt, UnbuiltBad},
    {84, "FindReactanceZeroCrossing", kPointer, FileRole::kNone,
     [](cFitAPI& f, Call& c) -> long { return f.FindReactanceZeroCrossing(c.Pointer(a)); },
     Unbuilt, UnbuiltBad},
    {85, "GetTouchstonePortCount", kNothing, FileRole::kTouchstoneIn,
     [](cFitAPI& f, Call& c) -> long { return f.GetTouchstonePortCount(c.name()); },
     [](const StateSpec&) { return Value(2); }, FailsWith<1001>},
    {86, "GetPolesPortCount", kNothing, FileRole::kPolesIn,
     [](cFitAPI& f, Call& c) -> long { return f.GetPolesPortCount(c.name()); },
     [](const StateSpec& s) { return Value(PoleFileFor(s).second); }, FailsWith<14>},
    {87, "CreateSolver", kIndex, FileRole::kNone,
     [](cFitAPI& f, Call& c) { return Ptr(f.CreateSolver(c.Index(kS, 9))); }, Unbuilt,
     UnbuiltBad},
};

// ---------------------------------------------------------------------------
// The driver

// Data and model of a fitter, bit for bit.
std::vector<unsigned char> Contents(const cCfit& f) {
  std::vector<double> v;
  const FitterState& s = f.state();
  if (s.data != nullptr) {
    for (const PortMatrix& p : s.data->points()) {
      v.push_back(p.frequency());
      for (int k = 0; k < p.order() * p.order(); ++k) {
        v.insert(v.end(),
                 {p.At(k / p.order(), k % p.order()).re, p.At(k / p.order(), k % p.order()).im});
      }
    }
  }
  if (s.model != nullptr) {
    const FittedModel& m = *s.model;
    v.push_back(m.n);
    for (const auto* table : {&m.constant, &m.proportional, &m.delay}) {
      v.insert(v.end(), table->begin(), table->end());
    }
    auto terms = [&](const PoleList& list, int n) {
      v.push_back(static_cast<double>(list.size()));
      for (const PoleTerm& t : list) {
        v.insert(v.end(), {t.GetPole().re, t.GetPole().im});
        for (int k = 0; k < n * n; ++k) {
          v.insert(v.end(), {t.GetResidue(k / n, k % n).re, t.GetResidue(k / n, k % n).im});
        }
      }
    };
    terms(m.commonPoles, m.n);
    for (const PoleList& list : m.elementPoles) terms(list, 1);
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

// One call on a fresh fitter in state `s`: its outcome, data and model kept
// after a failure (and after a refused argument when `mustKeep`), and a
// usable fitter afterwards.
void RunOne(const Row& row, const StateSpec& s, Call c, Outcome want, bool mustKeep) {
  static const char* kVariants[] = {"valid",      "bad i",     "bad j",     "null",
                                    "empty name", "directory", "frequency", "value"};
  SCOPED_TRACE(std::string(kVariants[static_cast<int>(c.variant)]) + " " + std::to_string(c.bad) +
               " " + std::to_string(c.nonFinite));
  Fitter f = s.build();
  Fitter other;
  if (row.slot == 27) {
    other = MakeFitter();
    LoadSynthetic(*other, 2, kS, 5);
    c.other = other.get();
  }
  // The message of the failed read that made the state stays first.
  if (s.message) want.code = kUnchecked;
  const auto before = Contents(*f);
  const long got = row.call(*f, c);
  ExpectOutcome(want, got, f->GetErrorMessage());
  if ((got == 0 || mustKeep) && !row.mayChange) {
    EXPECT_TRUE(Contents(*f) == before) << "data or model changed";
  }
  // Init may have left a tiny working set, or none when it refused the
  // size: a valid Init is the following operation then.
  if (row.slot == 33) {
    cFitParams p = testing::SmallParams();
    f->Init(&p);
  }
  ExpectUsable(*f);
}

std::vector<Call> BadCalls(const Row& row, int n) {
  std::vector<Call> calls;
  auto add = [&](Variant v, int bad = 0, double x = 0.0) {
    Call c;
    c.variant = v;
    c.bad = bad;
    c.nonFinite = x;
    calls.push_back(c);
  };
  for (int bad : {-1, n, 1 << 30}) {
    if (row.uses & kElement) {
      add(Variant::kBadI, bad);
      add(Variant::kBadJ, bad);
    }
    if (row.uses & kIndex) add(Variant::kBadI, bad);
  }
  if ((row.uses & kPointer) || row.file != FileRole::kNone) add(Variant::kNull);
  if (row.file != FileRole::kNone) {
    add(Variant::kEmptyName);
    add(Variant::kDirectory);
  }
  for (double x : {kNaN, kInf, -kInf}) {
    if (row.uses & kFrequency) add(Variant::kFrequency, 0, x);
    if (row.uses & kValue) add(Variant::kValue, 0, x);
  }
  return calls;
}

void Complete(Call& c, const Row& row, const StateSpec& s) {
  c.n = s.n;
  c.i = c.variant == Variant::kBadI ? c.bad : s.n > 1 ? 1 : 0;
  c.j = c.variant == Variant::kBadJ ? c.bad : 0;
  if (c.variant == Variant::kEmptyName) return;
  if (c.variant == Variant::kDirectory) {
    c.file = Scratch().path().string();
    return;
  }
  switch (row.file) {
    case FileRole::kTouchstoneIn: c.file = TouchstoneFile(); break;
    case FileRole::kPolesIn: c.file = PoleFileFor(s).first; break;
    case FileRole::kOut: c.file = Scratch().NewFile("out"); break;
    case FileRole::kNone: break;
  }
}

class EveryOperation : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EveryOperation, EndsAsDocumentedAndLeavesAUsableFitter) {
  const StateSpec& s = States()[GetParam()];
  testing::LogCapture log;
  {
    Fitter f = s.build();
    ASSERT_EQ(f->GetPortCount(), s.n);
    ASSERT_EQ(f->GetDataType(), s.type);
    ASSERT_EQ(f->HasSampledData(), s.data);
    ASSERT_EQ(f->HasFit(), s.fit);
    ASSERT_EQ(f->state().model != nullptr, s.model);
    ASSERT_EQ(f->state().data != nullptr ? f->state().data->point_count() : 0, s.points);
    ASSERT_EQ(f->GetErrorMessage() != nullptr, s.message);
  }
  ASSERT_EQ(kRows.size(), 87u);
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::to_string(row.slot) + " " + row.name);
    const Outcome valid = row.valid(s);
    Call call;
    Complete(call, row, s);
    RunOne(row, s, call, valid, false);
    log.clear();
    const bool succeeds =
        valid.kind == Outcome::kOk || (valid.kind == Outcome::kValue && valid.value != 0);
    for (Call bad : BadCalls(row, s.n)) {
      Complete(bad, row, s);
      Outcome want = Any();
      if (succeeds) {
        want = row.bad(s, bad);
      } else if (valid.kind != Outcome::kAny) {
        // Refused for the state already; a bad argument does not change that.
        want = Fail(valid.code == kNoMessage ? kUnchecked : kSomeMessage);
      }
      const bool tolerated = want.kind == Outcome::kTolerated;
      RunOne(row, s, bad, tolerated ? valid : want, !tolerated && want.kind != Outcome::kAny);
      log.clear();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(States, EveryOperation, ::testing::Range<std::size_t>(0, States().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return States()[info.param].name;
                         });

}  // namespace
}  // namespace cfit
