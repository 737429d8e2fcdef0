// The library's one exported entry point.
#include <memory>
#include <new>

#include "api/cfit_impl.h"

cFitAPI* cFitAPI::Create(cFitParams* params) {
  try {
    auto fitter = std::make_unique<cfit::cCfit>();
    if (!fitter->Init(params)) return nullptr;
    return fitter.release();
  } catch (...) {
    return nullptr;
  }
}
