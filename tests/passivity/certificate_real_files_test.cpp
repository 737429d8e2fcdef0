// The certificate and the residue perturbation on models fitted to real
// files: the library's own sampled sweep never finds a violation outside the
// certified bands, and enforced models end certified passive. An independent
// dense numpy check of the same fits (certificate_crosscheck.py) reads the
// dumps written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "api/iterated_fit_operation.h"
#include "fit/model_evaluation.h"
#include "io/io_support.h"
#include "passivity/accurate_enforcement.h"
#include "passivity/model_dump.h"
#include "passivity/passivity_certificate.h"
#include "passivity/passivity_checks.h"
#include "passivity/residue_perturbation.h"

namespace cfit {
namespace {

using namespace testing;

struct RealCase {
  const char* file;
  int dataType;
  bool individualPoles;
};

// S, Y and Z; individual and common poles; symmetric and not; delays.
const RealCase kCases[] = {
    {"ring_slot_sim.s2p", 1, true},
    {"ring_slot_sim.s2p", 1, false},
    {"ring_slot_measured.s1p", 1, true},
    {"twoport_mixed_eol.s2p", 1, false},
    {"coax_line_sim_crlf.s2p", 1, true},
    {"power_splitter_2way_measured.s3p", 1, false},
    {"bandpass_filter_lumped_sim.s2p", 2, true},
    {"lowpass_filter_measured.s2p", 3, false},
    {"cpw_sim_port_impedance_crlf.s2p", 1, true},
};

std::unique_ptr<cCfit> Fitted(const RealCase& c) {
  LogCapture quiet;
  cFitParams params;
  params.individualPoles = c.individualPoles;
  auto f = NewFitter(params);
  EXPECT_GT(f->ReadTouchstone(RealFile(c.file).c_str()), 0);
  if (c.dataType != 1) {
    EXPECT_EQ(f->ConvertDataType(c.dataType), 1);
  }
  EXPECT_EQ(f->Fit(), 1);
  return f;
}

std::string Name(const RealCase& c) {
  return std::string(c.file) + "." + std::to_string(c.dataType) +
         (c.individualPoles ? ".individual" : ".common");
}

std::vector<double> Frequencies(const cCfit& f) {
  std::vector<double> out;
  for (ConstMatrixView p : f.state().network.data->points()) out.push_back(p.frequency());
  return out;
}

bool Inside(const PassivityCertificate& cert, double f) {
  for (const CertifiedBand& b : cert.bands) {
    if (f >= b.from * (1 - 1e-9) && f <= b.to * (1 + 1e-9)) return true;
  }
  return false;
}

// Dumps for certificate_crosscheck.py, per fit: the delay-free model over
// its poles' span widened 100 times each way (.free.bin), the certified
// bands (.bands, hertz) and the model after the perturbation with its delays
// (.enforced.bin).

// Per fit: every point of the library's adaptive sweep whose measure
// exceeds 1 lies in a band certified for the delay-free model; the model the
// residue perturbation gives is certified passive, and the library's sweep
// agrees where the certificate covers the delays. With CFIT_CERTIFICATE_DUMP
// naming a folder the test also writes the dumps above.
TEST(RealFileCertificate, CoversTheSampledViolationsAndPerturbationEndsPassive) {
  const char* dump = std::getenv("CFIT_CERTIFICATE_DUMP");
  for (const RealCase& c : kCases) {
    SCOPED_TRACE(Name(c));
    auto f = Fitted(c);
    FitterState& s = f->state();
    const ElementTable* elements = s.network.elements.get();
    Model free = *s.model;
    std::fill(free.delay.begin(), free.delay.end(), 0.0);
    const ModelView view{&free, elements, free.individual(), free.symmetric};
    const auto cert = CertifyModel(free, elements);
    ASSERT_TRUE(cert.ok());
    PassivityCurve curve;
    LogCapture quiet;
    ASSERT_TRUE(LargestModelMeasure(view, c.dataType, curve, RunContext()).ok());
    int violating = 0;
    for (const PassivityPoint& p : curve) {
      if (p.frequency >= 1e25 || p.measure <= 1.0 + 1e-9) continue;
      ++violating;
      EXPECT_TRUE(Inside(*cert, p.frequency)) << p.frequency << " " << p.measure;
    }
    EXPECT_EQ(cert->passive, violating == 0 && cert->bands.empty());

    const auto [low, high] = PoleSpan(*s.model);
    const std::string base = dump != nullptr ? std::string(dump) + "/" + Name(c) : "";
    if (dump != nullptr) {
      DumpModel(view, c.dataType, low / 100, high * 100, base + ".free.bin");
      std::ofstream bands(base + ".bands");
      bands.precision(17);
      for (const CertifiedBand& b : cert->bands) bands << b.from << " " << b.to << "\n";
    }

    std::ostringstream log;
    const auto report = EnforceByResiduePerturbation(*s.model, elements, Frequencies(*f), {},
                                                     RunContext(log, nullptr, nullptr));
    ASSERT_TRUE(report.ok()) << log.str();
    const auto enforced = CertifyModel(*s.model, elements);
    EXPECT_TRUE(enforced->passive);
    PassivityCurve enforcedCurve;
    const auto peak = LargestModelMeasure(ViewOf(s), c.dataType, enforcedCurve, RunContext());
    ASSERT_TRUE(peak.ok());
    if (enforced->delays != DelayHandling::kIgnored) {
      EXPECT_LE(peak->measure, 1.0);
      if (dump != nullptr)
        DumpModel(ViewOf(s), c.dataType, low / 100, high * 100, base + ".enforced.bin");
    }
  }
}

// ||H - H_fit||_F / ||H||_F of the fitter's model over its data.
double RelativeRms(const cCfit& f) {
  const FitterState& s = f.state();
  const ModelView view = ViewOf(s);
  double diff = 0.0, norm = 0.0;
  for (ConstMatrixView p : s.network.data->points()) {
    for (int i = 0; i < s.network.portCount; ++i) {
      for (int j = 0; j < s.network.portCount; ++j) {
        const double e = Abs(EvaluateElement(view, i, j, p.frequency()) - p.At(i, j));
        diff += e * e;
        norm += Abs(p.At(i, j)) * Abs(p.At(i, j));
      }
    }
  }
  return std::sqrt(diff / norm);
}

// The file read and fitted by iterated relocation; null when either fails.
std::unique_ptr<cCfit> IteratedFit(const RealCase& c) {
  LogCapture quiet;
  cFitParams params;
  params.individualPoles = c.individualPoles;
  auto f = NewFitter(params);
  if (f->ReadTouchstone(RealFile(c.file).c_str()) <= 0) return nullptr;
  // As cfit fit --passive fits.
  IterationSettings settings;
  settings.holdPassiveConstant = true;
  if (FitIterated(*f, settings) != 1) return nullptr;
  return f;
}

// Every term's pole, list by list, and the lists that have terms.
std::vector<Complex> AllPoles(const Model& m) {
  std::vector<Complex> out;
  for (const PoleTerm& t : m.commonPoles) out.push_back(t.GetPole());
  for (const PoleList& list : m.elementPoles) {
    for (const PoleTerm& t : list) out.push_back(t.GetPole());
  }
  return out;
}
std::size_t ListsWithTerms(const Model& m) {
  std::size_t count = m.commonPoles.empty() ? 0 : 1;
  for (const PoleList& list : m.elementPoles) count += list.empty() ? 0 : 1;
  return count;
}

// Iterated fits of narrow-band data can carry terms that nearly cancel over
// the band and add up to a large response beyond it (the coax line's common
// fit: a constant of 36.8 against data below 1). Making them passive takes
// large changes beyond the band only; the data's error may grow to no more
// than twice the fit's plus 1e-4. Where the violation comes from poles the
// band needs (a sharp resonance below it, terms adding up above it), moving
// the residues alone costs far more than that, and damped poles added at the
// violations bring it back within the bound.
TEST(RealFileCertificate, EnforcementOfIteratedFitsKeepsAccuracy) {
  struct Case {
    RealCase fit;
    bool needsAddedPoles;
  } cases[] = {
      // Its fitted constant moves with the residues, which keeps it within
      // the bound without added poles.
      {{"ring_slot_sim.s2p", 1, true}, false},
      {{"ring_slot_sim.s2p", 1, false}, false},
      {{"ring_slot_measured.s1p", 1, true}, false},
      {{"power_splitter_2way_measured.s3p", 1, false}, false},
      {{"coax_line_sim_crlf.s2p", 1, false}, false},
      {{"aperture_waveguide_port_sim.s1p", 1, true},
       true},  // resonance 18 at 350 GHz, band 500-750
      {{"coax_line_sim_crlf.s2p", 1, true}, true},
      {{"cpw_sim_port_impedance_crlf.s2p", 1, true}, true},
      {{"resonator_36mm_measured.s2p", 1, true}, true},
      // Nearly lossless data (sigma 0.998 at the band's top) with a resonance
      // just above the band: the cutting-plane rounds find the passive model
      // close to the nearest one.
      {{"package_8port_sim.s8p", 1, false}, false},
      // Its enforced model once had a band of relative width 4e-4 at a
      // sharp added pole that the certificate missed.
      {{"microstrip_line_sim_lowercase_option.s2p", 1, true}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.fit));
    auto f = IteratedFit(c.fit);
    ASSERT_TRUE(f != nullptr);
    FitterState& s = f->state();
    const double before = RelativeRms(*f);
    const std::vector<Complex> poles = AllPoles(*s.model);
    std::ostringstream log;
    const auto result =
        EnforceKeepingAccuracy(*s.model, s.network.elements.get(), *s.network.data, Frequencies(*f),
                               {}, RunContext(log, nullptr, nullptr));
    ASSERT_TRUE(result.ok()) << log.str();
    EXPECT_TRUE(CertifyModel(*s.model, s.network.elements.get())->passive);
    EXPECT_LE(RelativeRms(*f), 2.0 * before + 1e-4) << "before " << before << "\n" << log.str();
    EXPECT_NEAR(result->fittedError, before, 1e-12 + 1e-9 * before);
    EXPECT_EQ(result->perturbedError > 2.0 * before + 1e-4, c.needsAddedPoles);
    if (c.needsAddedPoles) {
      EXPECT_GT(result->addedPoles, 0);
    }
    // The fitted poles are all still there, besides the added ones.
    const std::vector<Complex> after = AllPoles(*s.model);
    for (const Complex& p : poles) {
      EXPECT_NE(std::find(after.begin(), after.end(), p), after.end());
    }
    EXPECT_EQ(after.size(), poles.size() + result->addedPoles * ListsWithTerms(*s.model));
    // Narrow bands hide next to sharp poles, where the certificate's
    // eigenvalues are least accurate: a fine sweep across each pole's peak
    // stays passive too.
    const int n = s.network.portCount;
    double largest = 0.0;
    for (const Complex& p : after) {
      if (p.im == 0.0 || Abs(p) >= kConstantPoleBound) continue;
      const double width = std::max(std::abs(p.re), 1e-6 * std::abs(p.im));
      for (int k = -200; k <= 200; ++k) {
        const double f = std::abs(p.im) + 0.05 * k * width;
        std::vector<std::complex<double>> h(static_cast<std::size_t>(n) * n);
        for (int i = 0; i < n; ++i) {
          for (int j = 0; j < n; ++j) {
            const Complex v = EvaluateElement(ViewOf(s), i, j, f);
            h[i * n + j] = {v.re, v.im};
          }
        }
        std::vector<double> values;
        ASSERT_TRUE(HermitianEigen(n, PassivityMatrix(n, h, true), &values, nullptr));
        largest = std::max(largest, values.front());
      }
    }
    EXPECT_LE(largest, 1.0 + 1e-9);
  }
}

}  // namespace
}  // namespace cfit
