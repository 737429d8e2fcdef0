// Passivity enforcement that keeps accuracy: the residues of the model are
// moved by the smallest change of its response over the data band that
// satisfies linearised passivity constraints at the frequencies where the
// exact certificate (passivity_certificate.h) finds violations, repeated
// until the certificate finds none.
//
// The response is linear in the residues, so at a frequency f with singular
// triplet (sigma, u, v) of H(j f) the change dH moves sigma by
// Re(u^H dH v) to first order (S), and an eigenpair (lambda, w) of the
// Hermitian part moves by Re(w^H dH w) (Y/Z). Each step solves
//
//   minimise   sum over the data frequencies of sum_ij |dH_ij(f)|^2
//   subject to sigma_k(f_c) + Re(u_k^H dH(f_c) v_k) <= 1 - margin   (S)
//              lambda_k(f_c) + Re(w_k^H dH(f_c) w_k) >= margin       (Y/Z)
//
// for every constraint frequency f_c met so far (each band's worst point and
// points spread across the band) and every singular value (eigenvalue) near
// the limit there. The objective is a quadratic form in the residues whose
// Gram matrix is block diagonal (one block per matrix element); the small
// problem in the constraints' multipliers (the dual) is solved exactly
// (numeric/nonnegative_qp.h). Where several values are beyond the target at one
// frequency, unit combinations of their vectors constrain them in pairs
// too. A step that would leave the model further beyond the limit over the
// constraint points (the singular vectors turn under a large step) is
// shortened by halving, and constraint points that stayed inactive for a
// few steps are dropped.
//
// A fitted constant matrix D moves with the residues: its entries are
// unknowns too (a change of 1 at every frequency), and a constraint point at
// infinite frequency, where the response is D alone, keeps it passive. A
// fit's residues can cancel a large D inside the band, and only moving both
// brings such a model back without a large change there. A constant fixed
// by the caller (no asymptote) stays; a D that does not move is made
// passive on its own first (S singular values at or above 1 clipped to
// 1 - margin, Y/Z negative eigenvalues of the Hermitian part raised to the
// margin), and the residues give back over the band what they can of that
// change. An S proportional term is dropped, and the skew part of a Y/Z
// one. Poles, delays and the pole shape stay as they are (common poles stay
// common); the certificate and the constraints read the delay-free model.
#ifndef CFIT_PASSIVITY_RESIDUE_PERTURBATION_H
#define CFIT_PASSIVITY_RESIDUE_PERTURBATION_H

#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "fit/model.h"
#include "numeric/element_table.h"
#include "passivity/passivity_certificate.h"

namespace cfit {

struct PerturbationOptions {
  // S: distance kept below 1 by the constrained singular values; Y/Z: the
  // same fraction of the response's largest magnitude over the band, kept
  // above 0 by the constrained eigenvalues.
  double margin = 1e-5;
  int maxIterations = 60;
  // When positive: the perturbation gives up, leaving the model as it was,
  // as soon as its cutting-plane rounds show that a passive model with these
  // poles needs a change of the response over the band (relative, as
  // relativeChange) above this. For callers that have a better start to
  // turn to when this one would cost too much accuracy.
  double giveUpChange = 0.0;
};

struct PerturbationReport {
  bool passive = false;  // the certificate's verdict at the end
  int rounds = 0;        // cutting-plane rounds before the steps
  int iterations = 0;    // perturbation steps made
  int constraints = 0;   // constraints of the last step
  bool constantChanged = false;
  bool proportionalChanged = false;
  // RMS over the data frequencies and elements of the change of the
  // response, relative to the RMS of the response itself.
  double relativeChange = 0.0;
  PassivityCertificate certificate;  // the last one
  // The rounds' lower bound on the change passed options.giveUpChange: the
  // model is as it was and `passive` is false.
  bool gaveUp = false;
};

// Makes `model` passive by the certificate, or fails without a code (the
// model keeps the last step's changes) when `maxIterations` steps do not
// reach it, or with the certificate's failure; returns the report with
// `gaveUp` set when it gives up (see PerturbationOptions). `frequencies` (hertz) are the
// data band's sample points, where the change is weighed. Fails with 1003
// for data types other than S, Y and Z.
Result<PerturbationReport> EnforceByResiduePerturbation(Model& model, const ElementTable* elements,
                                                        const std::vector<double>& frequencies,
                                                        const PerturbationOptions& options,
                                                        const RunContext& context);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_RESIDUE_PERTURBATION_H
