// Element access, caller-defined models and the two model rewrites, checked
// through EvaluateModelElement against the closed form of their terms.
#include "network/model_access.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "network_test_support.h"

namespace cfit {
namespace {

using std::numbers::pi;
using testing::C;
using testing::NewFitter;

std::string Message(cCfit& f) {
  const char* m = f.GetErrorMessage();
  return m != nullptr ? m : "";
}

C Evaluate(cCfit& f, int i, int j, double freq) {
  double v[2] = {0.0, 0.0};
  EXPECT_EQ(f.EvaluateModelElement(i, j, freq, v), 1);
  return {v[0], v[1]};
}

// The closed form of an element: d + j f e + real terms R / (1 + j f / P) +
// pairs 1/2 (R / (1 + j f / P) + conj R / (1 + j f / conj P)), delayed by tau.
struct Term {
  C pole, residue;
};
C ClosedForm(const std::vector<Term>& terms, double d, double e, double tau, double f) {
  const C jf(0.0, f);
  C h(d, f * e);
  for (const Term& t : terms) {
    if (t.pole.imag() == 0.0) {
      h += t.residue.real() / (1.0 + jf / t.pole);
    } else {
      h += 0.5 * (t.residue / (1.0 + jf / t.pole) +
                  std::conj(t.residue) / (1.0 + jf / std::conj(t.pole)));
    }
  }
  return h * std::exp(C(0.0, -2.0 * pi * f * tau));
}

void ExpectNear(C got, C want, double tol = 1e-13) {
  EXPECT_LE(std::abs(got - want), tol * std::max(1.0, std::abs(want))) << got << " vs " << want;
}

// Flattens terms into the caller's (re, im) arrays.
void Arrays(const std::vector<Term>& terms, std::vector<double>& poles,
            std::vector<double>& residues) {
  poles.clear();
  residues.clear();
  for (const Term& t : terms) {
    poles.insert(poles.end(), {t.pole.real(), t.pole.imag()});
    residues.insert(residues.end(), {t.residue.real(), t.residue.imag()});
  }
}

const std::vector<Term> kTerms = {
    {C(2e9, 0.0), C(0.4, 0.0)}, {C(1e9, -6e9), C(0.3, -0.2)}, {C(5e8, 0.0), C(-0.1, 0.0)}};

TEST(CallerModel, DefinedElementsEvaluateToTheirClosedForm) {
  auto f = NewFitter();
  const double z0[] = {50.0, 75.0};
  ASSERT_EQ(f->DefineModel(2, kY, z0, false), 1);
  EXPECT_FALSE(f->HasFit());  // no poles yet
  EXPECT_EQ(f->GetReferenceImpedances()[1], 75.0);
  std::vector<double> poles, residues;
  Arrays(kTerms, poles, residues);
  ASSERT_EQ(f->SetElementModel(1, 0, 3, 0.2, 3e-11, 1e-10, poles.data(), residues.data()), 1);
  ASSERT_TRUE(f->HasFit());
  for (double freq : {0.0, 1e8, 1.3e9, 7e9}) {
    // At 0 Hz neither the delay nor e counts: d + sum Re R.
    const C want =
        freq == 0.0 ? C(0.2 + 0.4 + 0.3 - 0.1, 0.0) : ClosedForm(kTerms, 0.2, 3e-11, 1e-10, freq);
    ExpectNear(Evaluate(*f, 1, 0, freq), want);
    ExpectNear(Evaluate(*f, 0, 1, freq), 0.0);  // not symmetric: (0, 1) is its own, empty
  }
  int count = -1;
  double d = 0, e = 0, tau = 0;
  ASSERT_EQ(f->GetElementModelInfo(1, 0, &count, &d, &e, &tau), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(d, 0.2);
  EXPECT_EQ(e, 3e-11);
  EXPECT_EQ(tau, 1e-10);
  std::vector<double> p(6), r(6);
  ASSERT_EQ(f->GetElementPolesResidues(1, 0, p.data(), r.data()), 3);
  EXPECT_EQ(p, poles);
  EXPECT_EQ(r, residues);
  // A real pole keeps only the real part of its residue, as evaluated.
  const double realPole[] = {1e9, 0.0}, complexResidue[] = {0.5, 0.7};
  ASSERT_EQ(f->SetElementModel(0, 1, 1, 0.0, 0.0, 0.0, realPole, complexResidue), 1);
  ASSERT_EQ(f->GetElementPolesResidues(0, 1, p.data(), r.data()), 1);
  EXPECT_EQ(r[0], 0.5);
  EXPECT_EQ(r[1], 0.0);
}

TEST(CallerModel, SymmetricStorageKeepsTheListBelowAndScalarsAtBothPlaces) {
  auto f = NewFitter();
  ASSERT_EQ(f->DefineModel(2, kS, nullptr, true), 1);
  EXPECT_EQ(f->GetReferenceImpedances()[0], 50.0);
  std::vector<double> poles, residues;
  Arrays(kTerms, poles, residues);
  ASSERT_EQ(f->SetElementModel(0, 1, 3, 0.1, 0.0, 2e-10, poles.data(), residues.data()), 1);
  const FittedModel& m = *f->state().model;
  EXPECT_EQ(m.elementPoles[m.Index(1, 0)].size(), 3u);
  EXPECT_TRUE(m.elementPoles[m.Index(0, 1)].empty());
  for (auto [i, j] : {std::pair{0, 1}, std::pair{1, 0}}) {
    int count = 0;
    double d = 0, e = -1, tau = 0;
    ASSERT_EQ(f->GetElementModelInfo(i, j, &count, &d, &e, &tau), 1);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(d, 0.1);
    EXPECT_EQ(e, 0.0);
    EXPECT_EQ(tau, 2e-10);
    std::vector<double> p(6), r(6);
    ASSERT_EQ(f->GetElementPolesResidues(i, j, p.data(), r.data()), 3);
    EXPECT_EQ(p, poles);
    EXPECT_EQ(r, residues);
    ExpectNear(Evaluate(*f, i, j, 2.5e9), ClosedForm(kTerms, 0.1, 0.0, 2e-10, 2.5e9));
  }
  // Setting (1, 0) replaces the same list.
  ASSERT_EQ(f->SetElementModel(1, 0, 1, 0.1, 0.0, 0.0, poles.data(), residues.data()), 1);
  EXPECT_EQ(f->GetElementPolesResidues(0, 1, poles.data(), residues.data()), 1);
}

TEST(CallerModel, RefusalsAndNullArrays) {
  auto f = NewFitter();
  const double pole[] = {1e9, 0.0}, residue[] = {1.0, 0.0};
  // No model tables yet: 0, nothing changes.
  EXPECT_EQ(f->SetElementModel(0, 0, 1, 1.0, 0.0, 0.0, pole, residue), 0);
  EXPECT_EQ(f->state().model, nullptr);
  int count = 0;
  EXPECT_EQ(f->GetElementModelInfo(0, 0, &count, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Message(*f), "Fitted data not available");

  ASSERT_EQ(f->DefineModel(2, kS, nullptr, false), 1);
  for (auto [i, j] : {std::pair{-1, 0}, std::pair{0, 2}, std::pair{2, 0}, std::pair{0, 1 << 30}}) {
    EXPECT_EQ(f->SetElementModel(i, j, 1, 1.0, 0.0, 0.0, pole, residue), 0);
  }
  EXPECT_FALSE(f->HasFit());
  // Null arrays: the scalars are stored, no list, result 0.
  EXPECT_EQ(f->SetElementModel(0, 0, 1, 0.7, 0.0, 1e-9, nullptr, residue), 0);
  EXPECT_EQ(f->SetElementModel(1, 1, 1, 0.0, 0.0, 0.0, pole, residue), 1);
  ASSERT_TRUE(f->HasFit());
  double d = 0, tau = 0;
  ASSERT_EQ(f->GetElementModelInfo(0, 0, &count, &d, nullptr, &tau), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(d, 0.7);
  EXPECT_EQ(tau, 1e-9);
  double p[2], r[2];
  EXPECT_EQ(f->GetElementPolesResidues(0, 0, p, r), 0);
  EXPECT_EQ(f->GetElementPolesResidues(1, 1, nullptr, r), 0);
  EXPECT_EQ(f->GetElementPolesResidues(2, 1, p, r), 0);
  EXPECT_EQ(f->GetElementModelInfo(0, 2, &count, &d, nullptr, &tau), 0);
}

TEST(CallerModel, DefineModelKeepsThePortCountAndDropsTheData) {
  auto four = NewFitter();
  four->BeginData(4, kS, nullptr);
  EXPECT_EQ(four->DefineModel(2, kS, nullptr, false), 0);
  EXPECT_EQ(Message(*four), "The object already contains fitted data of different size");
  EXPECT_EQ(four->GetPortCount(), 4);
  EXPECT_TRUE(four->HasSampledData());

  auto two = NewFitter();
  two->BeginData(2, kZ, nullptr);
  two->state().session.dataMargins.points.resize(2);
  const double z0[] = {10.0, 20.0};
  ASSERT_EQ(two->DefineModel(2, kY, z0, true), 1);
  EXPECT_FALSE(two->HasSampledData());
  EXPECT_TRUE(two->state().session.dataMargins.points.empty());
  EXPECT_EQ(two->GetDataType(), kY);
  EXPECT_TRUE(two->IsSymmetric());
  EXPECT_EQ(two->GetReferenceImpedances()[1], 20.0);

  for (int bad : {0, -3, kMaxDefinedPorts + 1}) {
    auto f = NewFitter();
    EXPECT_EQ(f->DefineModel(bad, kS, nullptr, false), 0);
    EXPECT_EQ(Message(*f), "Input parameters to the function are invalid");
    EXPECT_EQ(f->GetPortCount(), 0);
  }
}

TEST(CallerModel, CommonPolesReadTheirElementsResidue) {
  auto f = NewFitter();
  ASSERT_EQ(f->DefineModel(2, kS, nullptr, false), 1);
  FitterState& s = f->state();
  s.model->shape = PoleShape::kCommon;
  PoleTerm t(2);
  t.SetPole(1e9, -2e9);
  t.SetResidue(1, 0, Complex(0.3, 0.1));
  s.model->commonPoles = {t, t};
  int count = 0;
  ASSERT_EQ(f->GetElementModelInfo(1, 0, &count, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(count, 2);
  double p[4], r[4];
  ASSERT_EQ(f->GetElementPolesResidues(1, 0, p, r), 2);
  EXPECT_EQ(p[2], 1e9);
  EXPECT_EQ(p[3], -2e9);
  EXPECT_EQ(r[2], 0.3);
  EXPECT_EQ(r[3], 0.1);
  ASSERT_EQ(f->GetElementPolesResidues(0, 1, p, r), 2);
  EXPECT_EQ(r[0], 0.0);
}

// A 1-port pulse model with the terms kTerms and a constant.
std::unique_ptr<cCfit> PulseModel(int type = kPulse) {
  auto f = NewFitter();
  EXPECT_EQ(f->DefineModel(1, type, nullptr, false), 1);
  std::vector<double> poles, residues;
  Arrays(kTerms, poles, residues);
  EXPECT_EQ(f->SetElementModel(0, 0, 3, 0.05, 0.0, 0.0, poles.data(), residues.data()), 1);
  return f;
}

TEST(PulseModel, ResiduesTakeTheScaleAndThePulseSpectrumAtTheirPole) {
  auto s = PulseModel(kS);
  EXPECT_EQ(s->ConvertPulseModelToS(0.0, 2.0, 0.0), 0);
  EXPECT_EQ(Message(*s), "Fitted data not available");

  auto f = PulseModel();
  ASSERT_EQ(f->ConvertPulseModelToS(0.0, 2.0, -1.0), 3);
  EXPECT_EQ(f->GetDataType(), kS);
  double p[6], r[6];
  ASSERT_EQ(f->GetElementPolesResidues(0, 0, p, r), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(r[2 * k], 2.0 * kTerms[k].residue.real());
    EXPECT_EQ(r[2 * k + 1], 2.0 * kTerms[k].residue.imag());
  }
  int count;
  double d, tau;
  ASSERT_EQ(f->GetElementModelInfo(0, 0, &count, &d, nullptr, &tau), 1);
  EXPECT_EQ(tau, 0.0);  // a delay <= 0 is ignored
  EXPECT_EQ(d, 0.05);   // constants stay

  // With a width T: r * scale * q / (1 - exp(-q T)), q = 2 pi p.
  for (double width : {2e-10, 1e-16}) {
    SCOPED_TRACE(width);
    auto g = PulseModel();
    ASSERT_EQ(g->ConvertPulseModelToS(width, 1.5, 3e-11), 3);
    ASSERT_EQ(g->GetElementPolesResidues(0, 0, p, r), 3);
    for (int k = 0; k < 3; ++k) {
      const C q = 2.0 * pi * kTerms[k].pole;
      // For tiny x = q T the series (1 + x / 2 + x^2 / 12) / T is exact to
      // rounding; the direct quotient would lose digits there.
      const C x = q * width;
      const C factor =
          std::abs(x) < 1e-5 ? (1.0 + x / 2.0 + x * x / 12.0) / width : q / (1.0 - std::exp(-x));
      C want = 1.5 * kTerms[k].residue * factor;
      if (kTerms[k].pole.imag() == 0.0) want.imag(0.0);
      ExpectNear(C(r[2 * k], r[2 * k + 1]), want, 1e-12);
      EXPECT_EQ(p[2 * k], kTerms[k].pole.real());
    }
    ASSERT_EQ(g->GetElementModelInfo(0, 0, &count, &d, nullptr, &tau), 1);
    EXPECT_EQ(tau, 3e-11);
  }
  // A pole at 0 takes the limit 1 / T of the factor.
  auto z = NewFitter();
  ASSERT_EQ(z->DefineModel(1, kPulse, nullptr, false), 1);
  const double zeroPole[] = {0.0, 0.0}, one[] = {1.0, 0.0};
  ASSERT_EQ(z->SetElementModel(0, 0, 1, 0.0, 0.0, 0.0, zeroPole, one), 1);
  ASSERT_EQ(z->ConvertPulseModelToS(1e-9, 1.0, 0.0), 1);
  ASSERT_EQ(z->GetElementPolesResidues(0, 0, p, r), 1);
  EXPECT_DOUBLE_EQ(r[0], 1e9);
}

TEST(MultiplyByFrequency, RefusesModelsItCannotRework) {
  auto withE = NewFitter();
  ASSERT_EQ(withE->DefineModel(1, kY, nullptr, false), 1);
  const double pole[] = {1e9, 0.0}, residue[] = {1.0, 0.0};
  ASSERT_EQ(withE->SetElementModel(0, 0, 1, 0.5, 1e-12, 0.0, pole, residue), 1);
  auto two = NewFitter();
  ASSERT_EQ(two->DefineModel(2, kY, nullptr, false), 1);
  ASSERT_EQ(two->SetElementModel(0, 0, 1, 0.5, 0.0, 0.0, pole, residue), 1);
  auto common = PulseModel(kY);
  common->state().model->shape = PoleShape::kCommon;
  common->state().model->commonPoles = common->state().model->elementPoles[0];
  auto empty = NewFitter();
  for (cCfit* f : {withE.get(), two.get(), common.get(), empty.get()}) {
    const auto before =
        f->state().model != nullptr ? f->state().model->constant : std::vector<double>{};
    EXPECT_EQ(f->MultiplyModelByFrequency(0.0, 1.0), 0);
    if (f->state().model != nullptr) {
      EXPECT_EQ(f->state().model->constant, before);
    }
    EXPECT_EQ(f->GetErrorMessage(), nullptr);
  }
}

TEST(MultiplyByFrequency, TheModelIsMultipliedByJTwoPiFactorF) {
  // Y data, so that the proportional term counts in the evaluation.
  for (double closing : {0.0, 3e9}) {
    SCOPED_TRACE(closing);
    auto f = PulseModel(kY);
    const double factor = 2e-11;
    std::vector<C> before;
    const double freqs[] = {1e7, 8e8, 2.2e9, 9e9};
    for (double freq : freqs) before.push_back(Evaluate(*f, 0, 0, freq));
    ASSERT_EQ(f->MultiplyModelByFrequency(closing, factor), 1);
    // c = sum Re(k P R) over the original terms; with a closing pole it
    // becomes the first term, c / (1 + j f / closing), in place of the constant.
    C c = 0.0;
    const double k = 2.0 * pi * factor;
    for (const Term& t : kTerms) {
      c += (k * t.pole * (t.pole.imag() == 0.0 ? C(t.residue.real()) : t.residue)).real();
    }
    for (std::size_t n = 0; n < std::size(freqs); ++n) {
      const C jkf(0.0, k * freqs[n]);
      C want = jkf * before[n];
      if (closing != 0.0) want += -c + c / (1.0 + C(0.0, freqs[n]) / closing);
      ExpectNear(Evaluate(*f, 0, 0, freqs[n]), want, 1e-12);
    }
    // The stored terms: e = k d, constant c (or 0), residues -k P R.
    int count;
    double constant, e;
    ASSERT_EQ(f->GetElementModelInfo(0, 0, &count, &constant, &e, nullptr), 1);
    EXPECT_EQ(count, closing == 0.0 ? 3 : 4);
    EXPECT_DOUBLE_EQ(e, k * 0.05);
    EXPECT_DOUBLE_EQ(constant, closing == 0.0 ? c.real() : 0.0);
    double p[8], r[8];
    ASSERT_EQ(f->GetElementPolesResidues(0, 0, p, r), count);
    const int first = closing == 0.0 ? 0 : 1;
    EXPECT_DOUBLE_EQ(r[2 * first], -k * kTerms[0].pole.real() * kTerms[0].residue.real());
    if (closing != 0.0) {
      EXPECT_EQ(p[0], closing);
      EXPECT_DOUBLE_EQ(r[0], c.real());
    }
  }
}

}  // namespace
}  // namespace cfit
