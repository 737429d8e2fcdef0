// An exact passivity certificate of a rational model: the frequencies where
// the model's passivity condition changes are found as the purely imaginary
// eigenvalues of a Hamiltonian matrix built from the model's state-space
// realisation, so that no frequency band between samples can hide a
// violation.
//
// S models (bounded realness): with H(s) = C (sI - A)^-1 B + D, a singular
// value of H(j w) equals 1 exactly when j w is an eigenvalue of
//
//   M = [ A - B R^-1 D^T C          -B R^-1 B^T             ]
//       [ C^T Q^-1 C                -A^T + C^T D R^-1 B^T   ],
//   R = D^T D - I,  Q = D D^T - I,
//
// (M - j w I is singular iff I - H(-j w)^T H(j w) is, and H(-j w)^T is
// H(j w)^H for a real realisation). Y and Z models (positive realness): an
// eigenvalue of the Hermitian part H(j w) + H(j w)^H is 0 exactly when j w
// is an eigenvalue of
//
//   M = [ A - B R^-1 C              -B R^-1 B^T             ]
//       [ C^T R^-1 C                -A^T + C^T R^-1 B^T     ],
//   R = D + D^T.
//
// For a symmetric H (H(s)^T = H(s), a reciprocal network) the same
// frequencies come from a matrix of half the order, whose eigenvalues are
// the squares s^2 of the Hamiltonian's (-w^2 for a crossing j w):
//
//   S:   P = (A - B (D - I)^-1 C) (A - B (D + I)^-1 C)
//   Y/Z: P = A (A - B D^-1 C)
//
// (H(j w)^H = H(-j w) when H is symmetric and real, and the two factors are
// the state matrices of (H - I)^-1 and (H + I)^-1, for Y/Z of H and H^-1;
// for symmetric D, D^T D - I = (D - I)(D + I) and D + D^T = 2 D, so the
// factors exist exactly when the Hamiltonian does). Its eigenvalues cost an
// eighth of the Hamiltonian's. It is formed as a product, so its rounding is
// that of its factors: when they grow far beyond A (a constant with a
// singular value near 1) the Hamiltonian is used after all.
//
// All these statements are identities of the Schur complement, not
// approximations: between two neighbouring crossings the sign of the
// violation cannot change, so one evaluation inside each interval decides
// it. The eigenvalues come from the library's own kernels (balancing,
// Hessenberg reduction by elimination, hqr), after a scaling of the states
// that keeps B and C of one size per block. The Hamiltonian is far from
// normal, and a narrow band (two crossings close together) is a nearly
// double eigenvalue, which the eigensolver can push off the imaginary axis
// by a few per cent on badly scaled models; so every eigenvalue within 10 %
// of the axis is a candidate, each is polished on the response itself by
// bracketed root finding, and around a candidate visibly off the axis the
// response is scanned across a few times its distance for the crossings
// that sit there. Crossings so found are exact to the rounding of the
// response; the verdict of each interval is an evaluation of the response.
//
// When R is singular (an S model whose constant matrix has a singular value
// of exactly 1, or a Y/Z model with D + D^T singular) the test is made at a
// limit moved by a relative 1e-9 (S: singular values crossing 1 + 1e-9; Y/Z:
// an eigenvalue of the Hermitian part crossing -1e-9 times the response's
// scale); the certificate says so in `shiftedLimit`.
#ifndef CFIT_PASSIVITY_PASSIVITY_CERTIFICATE_H
#define CFIT_PASSIVITY_PASSIVITY_CERTIFICATE_H

#include <complex>
#include <vector>

#include "core/result.h"
#include "fit/model.h"
#include "numeric/element_table.h"

namespace cfit {

// What passivity means for the model's data type.
enum class PassivityKind {
  kScattering,  // S: no singular value above 1
  kImmittance,  // Y or Z: no negative eigenvalue of the Hermitian part
};

// A real state-space system x' = A x + B u, y = C x + D u; all matrices
// row-major, A block diagonal with 1 x 1 and 2 x 2 blocks (blocks are found
// from the non-zero entries next to the diagonal).
struct SystemView {
  int ports = 0;
  int states = 0;
  const double* a = nullptr;  // states x states
  const double* b = nullptr;  // states x ports
  const double* c = nullptr;  // ports x states
  const double* d = nullptr;  // ports x ports
  // H(s) is symmetric (a reciprocal model, whose elements (i, j) and (j, i)
  // are the same numbers): the certificate may use the half-size matrix.
  bool symmetric = false;
};

// One band where the model is not passive, with its worst point. Frequencies
// in hertz (`to` is +infinity for a band that reaches infinite frequency).
// `worst` is the largest singular value (S, above 1 inside the band) or the
// smallest eigenvalue of the Hermitian part (Y/Z, below 0 inside the band);
// `measure` is the library's passivity measure of that point (sigma^2 for S,
// 1 - lambda for Y/Z).
struct CertifiedBand {
  double from = 0.0;
  double to = 0.0;
  double worstAt = 0.0;
  double worst = 0.0;
  double measure = 0.0;
};

// How the model's delays entered the certificate. A delay changes the phase
// of one element only, so |S| of a 1-port and the singular values of a
// matrix whose delays factor as tau(i, j) = a(i) + b(j) (a common delay, or
// one per port) are those of the delay-free model: the certificate is exact
// for them. Other delays are left out: the delay-free model is certified.
enum class DelayHandling { kNone, kFactored, kIgnored };

struct PassivityCertificate {
  bool passive = true;
  // Frequencies in hertz, rising, where the largest singular value crosses
  // 1 (S) or the smallest eigenvalue of the Hermitian part crosses 0 (Y/Z).
  // (Crossings of the others split intervals too but are not listed.)
  std::vector<double> crossings;
  std::vector<CertifiedBand> bands;
  // The order of the matrix whose eigenvalues gave the crossings: the
  // Hamiltonian, or the half-size matrix when `halfSize`.
  int hamiltonianOrder = 0;
  bool halfSize = false;
  bool shiftedLimit = false;
  DelayHandling delays = DelayHandling::kNone;
  // S: a proportional term makes |S| grow without bound; Y/Z: only its skew
  // part does (a symmetric one is lossless). Either gives a band to infinity.
  bool proportionalViolation = false;
  // S: passive by the bound of magnitude_bound.h (below 1), without a
  // Hamiltonian (its order stays 0); exact with the delays too.
  bool byMagnitudeBound = false;
};

// The order of the matrix the certificate of `model` builds (its
// realisation's state count for a symmetric model whose half-size factors
// stay near A, twice that for the Hamiltonian otherwise), or 0 when the model cannot be realised.
// Its cost grows as the cube of the order: above kLargeCertificateOrder (a minute or more on one
// core) callers may prefer a sampled method.
int CertificateOrder(const Model& model, const ElementTable* elements);
inline constexpr int kLargeCertificateOrder = 2000;

// How the model's delays enter its certificate.
DelayHandling ClassifyDelays(const Model& model);

// Certifies a state-space system. `hertzPerUnit` converts the system's
// frequency unit into hertz (1 / 2 pi for s in rad/s). Fails without a code
// when the eigensolver does not converge or the system is empty.
Result<PassivityCertificate> CertifySystem(const SystemView& system, PassivityKind kind,
                                           double hertzPerUnit);

// Certifies a model through its real realisation (delays as above), or for
// S without it when the magnitude bound is below 1. Fails with 1003 for
// data types other than S, Y and Z.
Result<PassivityCertificate> CertifyModel(const Model& model, const ElementTable* elements);

// The response of the system at s = j w (w in the system's unit), ports x
// ports row-major, for the certificate's own evaluations and for tests.
std::vector<std::complex<double>> SystemResponse(const SystemView& system, double w);

// The Hermitian matrix whose eigenvalues decide passivity at one frequency,
// from the response H (n x n, row-major): H^H H for scattering data (its
// eigenvalues are the squared singular values of H), the Hermitian part
// (H + H^H) / 2 for immittances.
std::vector<std::complex<double>> PassivityMatrix(int n, const std::vector<std::complex<double>>& h,
                                                  bool scattering);

// Eigenvalues (descending) and unit eigenvectors of an n x n Hermitian
// matrix (row-major), through the library's symmetric eigensolver on the
// real 2n x 2n embedding. False when the eigensolver fails.
bool HermitianEigen(int n, const std::vector<std::complex<double>>& p, std::vector<double>* values,
                    std::vector<std::vector<std::complex<double>>>* vectors);

}  // namespace cfit

#endif  // CFIT_PASSIVITY_PASSIVITY_CERTIFICATE_H
