// The real state-space realisation of a fitted model.
//
// x' = A x + B u, y = C x + D u + (s e / (2 pi)) u, with s in rad/s and the
// delay of element (i, j) applied to that element outside (its input u_j is
// taken tau_ij earlier). A is block diagonal: a 1 x 1 block [sigma] per real
// pole and a 2 x 2 block [[sigma, omega], [-omega, sigma]] per complex pair,
// sigma = -2 pi Re P and omega = -2 pi Im P for the stored pole P (model.h),
// so the block's poles are sigma +- j omega.
//
// Scaling: a block of pole magnitude |p| (rad/s) is fed with |p| from its
// input into its first state and nothing into the second, so every state is
// its input low-passed at gain of order 1 and the entries of C are the
// stored residues' size (a real pole's C entry is the stored residue R; a
// pair's are Re(P R) / |P| and Im(P R) / |P|).
//
// Individual poles: each element (i, j) has its own blocks, fed from input j
// and read by output i only. Common poles: one set of blocks per input port j
// (N x poles states in all), read by every output i with residue (i, j).
// Poles beyond 1e20 (stored) stand for a constant and go into D, as the
// netlists write them.
#ifndef CFIT_FIT_STATE_SPACE_H
#define CFIT_FIT_STATE_SPACE_H

#include <vector>

#include "core/result.h"
#include "fit/model.h"
#include "numeric/complex.h"
#include "numeric/element_table.h"

namespace cfit {

// One diagonal block of A with what feeds it and what reads it.
struct StateBlock {
  int first = 0;          // index of its first state
  int size = 1;           // 1: real pole, 2: complex pair
  int input = 0;          // the input port feeding it (B column)
  int output = -1;        // the one output reading it, or -1 for every output
  double sigma = 0.0;     // A block entries in rad/s (see above)
  double omega = 0.0;     // 0 for a real pole
  double gain = 0.0;      // B entry into the first state (|p|)
  std::vector<double> c;  // ports x size, row-major: the C entries of its states
};

struct StateSpace {
  int ports = 0, states = 0;
  std::vector<double> a;  // states x states, row-major (block diagonal)
  std::vector<double> b;  // states x ports
  std::vector<double> c;  // ports x states
  std::vector<double> d;  // ports x ports
  // ports x ports: the stored proportional term e, in the model's own unit:
  // H(s) += s e / (2 pi), i.e. j f e with f in hertz (seconds per radian
  // times 2 pi). Zero where the element table gives no proportional term.
  std::vector<double> e;
  std::vector<double> delay;  // ports x ports, seconds; applied to element (i, j) outside
  // The diagonal blocks in state order, with their feeds and reads (the same
  // numbers as in a, b and c); a caller can evaluate or scale block by block.
  std::vector<StateBlock> blocks;
};

// The realisation of `model`. `elements` gives the asymptote modes (null
// counts no proportional term), as the model's evaluation reads them. With
// `dense` false the matrices a, b and c stay empty (the blocks carry all of
// them), for models too large for dense matrices. Fails with 29 for a pole
// that no stable model holds or a value that is not finite, and with 45 for
// a model whose tables do not match its port count.
Result<StateSpace> Realize(const Model& model, const ElementTable* elements, bool dense = true);

// H(j 2 pi f) of the realisation without delays, ports x ports row-major,
// from its dense matrices (block by block along `blocks`).
std::vector<Complex> EvaluateRealization(const StateSpace& system, double f);

}  // namespace cfit

#endif  // CFIT_FIT_STATE_SPACE_H
