// The correction record of the passivity enforcement loops.
//
// For S data it describes the suppression factor
//   g(s) = C + ((al A1 + w0 A2) s + (al^2 + w0^2) A1) / (s^2 + 2 al s + al^2 + w0^2),
// s = j f, with poles -al +/- j w0. For Y and Z data it describes one of four
// real-part responses (see yz_correction.h).
#ifndef CFIT_PASSIVITY_CORRECTION_RECORD_H
#define CFIT_PASSIVITY_CORRECTION_RECORD_H

namespace cfit {

struct Sp {
  double C = 1.0;
  double A1 = 0.0;
  double A2 = 0.0;
  double al = 1e8;
  double w0 = 1e8;
  int type = 1;
};

// A band of a passivity curve: indices of its left end, peak and right end.
struct Band {
  int left = 0;
  int peak = 0;
  int right = 0;
};

}  // namespace cfit

#endif  // CFIT_PASSIVITY_CORRECTION_RECORD_H
