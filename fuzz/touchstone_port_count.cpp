// GetTouchstonePortCount on arbitrary bytes: a count or a recorded error. A
// file whose count is found is then read, and the read must find the same
// count when it succeeds.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cfit_fuzz::Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cfit_fuzz::ScratchFile input("count.s2p");
  if (!input.Write(data, size)) return 0;
  auto fitter = cfit_fuzz::NewFitter(cfit_fuzz::SmallParams());
  const int n = fitter->GetTouchstonePortCount(input.path());
  if (n == 0) {
    cfit_fuzz::ExpectMessage(*fitter, "a failed count records an error");
    return 0;
  }
  cfit_fuzz::Expect(n > 0 && fitter->GetErrorMessage() == nullptr, "a count records no error");
  cfit_fuzz::Expect(!fitter->HasSampledData(), "counting ports reads no data");
  const int read = fitter->ReadTouchstone(input.path());
  cfit_fuzz::Expect(read == 0 || read == n, "a read finds the counted ports");
  return 0;
}
