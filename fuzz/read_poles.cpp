// ReadPoles on arbitrary bytes. After a successful read the target walks the
// model element by element, evaluates it, writes it back and reads the copy
// into a fresh fitter, which must hold the same model up to the digits the
// writer keeps.
#include <algorithm>
#include <cmath>
#include <vector>

#include "fuzz_support.h"

namespace {

using cfit_fuzz::Expect;

// Equal up to a relative tolerance; two NaNs count as equal.
bool Close(double a, double b, double tolerance) {
  if (a == b || (std::isnan(a) && std::isnan(b))) return true;
  return std::fabs(a - b) <= tolerance * std::max(std::fabs(a), std::fabs(b));
}

struct Element {
  int poleCount = 0;
  double constant = 0.0, proportional = 0.0, delay = 0.0;
  std::vector<double> poles, residues;
};

Element ReadElement(cFitAPI& fitter, int i, int j) {
  Element e;
  Expect(
      fitter.GetElementModelInfo(i, j, &e.poleCount, &e.constant, &e.proportional, &e.delay) == 1,
      "a read model answers for every element");
  Expect(e.poleCount >= 0 && e.poleCount <= 5000, "a read element has a valid pole count");
  const std::size_t room = 2 * static_cast<std::size_t>(e.poleCount) + 2;
  e.poles.assign(room, 0.0);
  e.residues.assign(room, 0.0);
  const int copied = fitter.GetElementPolesResidues(i, j, e.poles.data(), e.residues.data());
  Expect(copied == e.poleCount, "an element gives as many terms as it counts");
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfit_fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cfit_fuzz::ScratchFile input("read.pls");
  if (!input.Write(data, size)) return 0;
  auto fitter = cfit_fuzz::NewFitter(cfit_fuzz::SmallParams());
  const int n = fitter->ReadPoles(input.path());
  input.Remove();
  if (n == 0) {
    // The object stays usable: a query still answers.
    fitter->HasFit();
    fitter->GetPortCount();
    return 0;
  }
  Expect(n >= 1 && n <= 1000 && fitter->GetPortCount() == n, "the read gives the port count");
  Expect(fitter->GetErrorMessage() == nullptr, "a successful read records no error");
  const int type = fitter->GetDataType();
  Expect(type == 1 || type == 2 || type == 3 || type == 5, "a read model has a file type");
  const double* impedances = fitter->GetReferenceImpedances();
  Expect(impedances != nullptr, "a read model has reference impedances");
  for (int p = 0; p < n; ++p) {
    Expect(impedances[p] > 0.0 && impedances[p] <= 1e6, "read impedances are in range");
  }
  if (!fitter->HasFit()) return 0;  // only constants: nothing counts as fitted

  std::vector<Element> elements;
  elements.reserve(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) elements.push_back(ReadElement(*fitter, i, j));
  }
  const int evaluated = std::min(n, 3);
  for (int i = 0; i < evaluated; ++i) {
    for (int j = 0; j < evaluated; ++j) {
      for (double f : {0.0, 1e9}) {
        double value[2];
        fitter->EvaluateModelElement(i, j, f, value);
      }
    }
  }

  cfit_fuzz::ScratchFile copy("copy.pls");
  Expect(fitter->WritePoles(copy.path()) == 1, "the model is written back");
  fitter.reset();
  auto again = cfit_fuzz::NewFitter(cfit_fuzz::SmallParams());
  Expect(again->ReadPoles(copy.path()) == n, "the copy reads with the same port count");
  Expect(again->GetDataType() == type, "the copy reads with the same data type");
  // Poles, residues and constants keep 15 digits, delays and asymptotes 7.
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Element& before = elements[static_cast<std::size_t>(i * n + j)];
      const Element after = ReadElement(*again, i, j);
      Expect(after.poleCount == before.poleCount, "the copy keeps the pole counts");
      Expect(Close(after.constant, before.constant, 1e-13), "the copy keeps the constants");
      Expect(Close(after.proportional, before.proportional, 1e-6), "the copy keeps asymptotes");
      Expect(Close(after.delay, before.delay, 1e-6), "the copy keeps the delays");
      for (std::size_t k = 0; k < 2 * static_cast<std::size_t>(before.poleCount); ++k) {
        Expect(Close(after.poles[k], before.poles[k], 1e-13), "the copy keeps the poles");
        Expect(Close(after.residues[k], before.residues[k], 1e-13), "the copy keeps residues");
      }
    }
  }
  return 0;
}
