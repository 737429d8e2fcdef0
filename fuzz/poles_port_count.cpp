// GetPolesPortCount on arbitrary bytes: a count in 1..1000 or 0, and the
// fitter's file comment untouched. A file whose count is found is then read,
// and the read must find the same count when it succeeds.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfit_fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cfit_fuzz::ScratchFile input("count.pls");
  if (!input.Write(data, size)) return 0;
  auto fitter = cfit_fuzz::NewFitter(cfit_fuzz::SmallParams());
  const int n = fitter->GetPolesPortCount(input.path());
  cfit_fuzz::Expect(n >= 0 && n <= 1000, "the count is in range");
  cfit_fuzz::Expect(fitter->GetFileComment() == nullptr, "counting leaves the file comment");
  cfit_fuzz::Expect(!fitter->HasFit() && fitter->GetPortCount() == 0, "counting reads no model");
  if (n == 0) return 0;
  const int read = fitter->ReadPoles(input.path());
  cfit_fuzz::Expect(read == 0 || read == n, "a read finds the counted ports");
  return 0;
}
