// ReadTouchstone on arbitrary bytes. After a successful read the target walks
// the points, writes them back and reads the copy into a fresh fitter, which
// must see the same network. The input's size picks the read options and the
// number format of the copy, so that every input is replayed the same way.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"

namespace {

using cfit_fuzz::Expect;

// The frequency as the copy gives it back: the writer keeps 16 significant
// digits.
double AsWritten(double frequency) {
  char text[64];
  std::snprintf(text, sizeof text, "%20.15le", frequency);
  return std::strtod(text, nullptr);
}

// A value read from the copy against the one written: equal up to the
// rounding to 16 digits (two NaNs count as equal).
bool SameAsWritten(double read, double held) {
  if (std::isnan(read) || std::isnan(held)) return std::isnan(read) && std::isnan(held);
  return read == AsWritten(held);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfit_fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cfit_fuzz::ScratchFile input("read.s2p");
  if (!input.Write(data, size)) return 0;
  cFitParams params = cfit_fuzz::SmallParams();
  params.addZeroHzPoint = (size & 1) != 0;
  params.reducePoints = (size & 2) != 0;
  const int format = static_cast<int>((size >> 2) % 3);

  auto fitter = cfit_fuzz::NewFitter(params);
  const int n = fitter->ReadTouchstone(input.path());
  input.Remove();
  if (n == 0) {
    cfit_fuzz::ExpectMessage(*fitter, "a failed read records an error");
    return 0;
  }
  Expect(n > 0 && fitter->GetPortCount() == n, "the read gives the port count");
  Expect(fitter->HasSampledData(), "a successful read holds data");
  Expect(fitter->GetErrorMessage() == nullptr, "a successful read records no error");
  const int type = fitter->GetDataType();
  Expect(type >= 1 && type <= 5, "a successful read sets a data type");

  volatile double sink = 0.0;
  const double* impedances = fitter->GetReferenceImpedances();
  Expect(impedances != nullptr, "a successful read sets reference impedances");
  for (int p = 0; p < n; ++p) sink = sink + impedances[p];
  if (const char* comment = fitter->GetFileComment()) {
    for (const char* c = comment; *c != '\0'; ++c) sink = sink + *c;
  }

  std::vector<double> frequencies, values;
  for (DataPointRecord* point = fitter->GetFirstDataPoint(); point != nullptr;
       point = fitter->GetNextDataPoint()) {
    Expect(point->values != nullptr, "a data point has values");
    frequencies.push_back(point->frequency);
    for (int i = 0; i < n; ++i) {
      for (int k = 0; k < 2 * n; ++k) values.push_back(point->values[i][k]);
    }
  }
  Expect(!frequencies.empty(), "a successful read holds a point");

  cfit_fuzz::ScratchFile copy("copy.s2p");
  Expect(fitter->WriteTouchstone(copy.path(), format) == 1, "the data are written back");
  fitter.reset();

  // The copy reads into a fresh fitter with the default options: the same
  // port count and type, and every point whose written frequency still rises.
  std::size_t expectedPoints = 1;
  for (double previous = AsWritten(frequencies[0]); expectedPoints < frequencies.size();
       ++expectedPoints) {
    const double next = AsWritten(frequencies[expectedPoints]);
    if (!(next > previous)) break;
    previous = next;
  }
  auto again = cfit_fuzz::NewFitter(cfit_fuzz::SmallParams());
  Expect(again->ReadTouchstone(copy.path()) == n, "the copy reads with the same port count");
  Expect(again->GetDataType() == type, "the copy reads with the same data type");
  // Real and imaginary parts come back with the 16 digits written, when the
  // copy keeps every point (fewer points can change the symmetry decision,
  // and with it the values).
  const bool compareValues = format == 0 && expectedPoints == frequencies.size();
  std::size_t points = 0, at = 0;
  for (DataPointRecord* point = again->GetFirstDataPoint(); point != nullptr;
       point = again->GetNextDataPoint()) {
    ++points;
    for (int i = 0; i < n && compareValues; ++i) {
      for (int k = 0; k < 2 * n; ++k, ++at) {
        Expect(at < values.size(), "the copy holds no more values");
        if (!SameAsWritten(point->values[i][k], values[at])) {
          std::fprintf(stderr, "point %zu, row %d, entry %d: read %.17g, written %.17g\n",
                       points - 1, i, k, point->values[i][k], values[at]);
          Expect(false, "the copy holds the same values");
        }
      }
    }
  }
  Expect(points == expectedPoints, "the copy holds the same points");
  return 0;
}
