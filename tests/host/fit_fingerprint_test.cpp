// Fits of every real Touchstone file, held bit for bit against the recorded
// fingerprints in fit_fingerprints.txt. A fingerprint hashes every number of
// the model a host can read (per element: pole count, constant, proportional
// term, delay, poles and residues), so any change to the fitted or enforced
// models shows here. Only the public header is used.
//
// A deliberate change of the numbers: run the test with
// CFIT_UPDATE_FINGERPRINTS=1 to rewrite the file, and say why in the commit.
#include <cfit/cfit.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/fnv_hash.h"

namespace {

namespace fs = std::filesystem;

struct Deleter {
  void operator()(cFitAPI* f) const { delete f; }
};
using Fitter = std::unique_ptr<cFitAPI, Deleter>;

using Hash = FnvHash;

// The model's numbers, or "none" when the fitter holds no fit.
std::string Fingerprint(cFitAPI& f) {
  if (!f.HasFit()) return "none";
  Hash hash;
  const int n = f.GetPortCount();
  hash.Add(n);
  hash.Add(f.GetDataType());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      int poles = 0;
      double constant = 0, proportional = 0, delay = 0;
      if (f.GetElementModelInfo(i, j, &poles, &constant, &proportional, &delay) == 0) {
        hash.Add(-1);
        continue;
      }
      hash.Add(poles);
      hash.Add(constant);
      hash.Add(proportional);
      hash.Add(delay);
      std::vector<double> p(2 * static_cast<std::size_t>(std::max(poles, 1)));
      std::vector<double> r(p.size());
      if (poles > 0 && f.GetElementPolesResidues(i, j, p.data(), r.data()) != 0) {
        for (double x : p) hash.Add(x);
        for (double x : r) hash.Add(x);
      }
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash.value()));
  return text;
}

// The ways each file is fitted: the defaults, common poles, and the
// defaults followed by passivity enforcement.
struct Variant {
  const char* name;
  bool individual;
  bool enforce;
};
constexpr Variant kVariants[] = {
    {"individual", true, false}, {"common", false, false}, {"enforced", true, true}};

// Runs `body` with standard output (the run log) sent to /dev/null.
template <class F>
void Quietly(F&& body) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  std::FILE* null = std::fopen("/dev/null", "w");
  ::dup2(::fileno(null), 1);
  body();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  std::fclose(null);
}

std::map<std::string, std::string> FitEverything(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".md") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::map<std::string, std::string> result;
  Quietly([&] {
    for (const fs::path& file : files) {
      for (const Variant& v : kVariants) {
        cFitParams params;
        params.individualPoles = v.individual;
        Fitter f(cFitAPI::Create(&params));
        std::string print = "unread";
        if (f->ReadTouchstone(file.c_str()) != 0) {
          if (f->Fit() == 0) {
            print = "unfitted";
          } else if (v.enforce && f->EnforceModelPassivity(1.0) == 0) {
            print = "unenforced";
          } else {
            print = Fingerprint(*f);
          }
        }
        result[file.filename().string() + " " + v.name] = print;
      }
    }
  });
  return result;
}

TEST(FitFingerprints, EveryRealFileFitsBitForBitAsRecorded) {
  const char* data = std::getenv("CFIT_TEST_DATA");
  if (data == nullptr || *data == '\0') GTEST_SKIP() << "real files not found";
  const std::map<std::string, std::string> now = FitEverything(data);
  const std::string recordPath = CFIT_FINGERPRINTS;

  const char* update = std::getenv("CFIT_UPDATE_FINGERPRINTS");
  if (update != nullptr && update[0] == '1') {
    std::ofstream out(recordPath);
    out << "# file variant fingerprint (tests/host/fit_fingerprint_test.cpp)\n";
    for (const auto& [key, print] : now) out << key << " " << print << "\n";
    GTEST_SKIP() << "rewrote " << recordPath;
  }

  std::ifstream in(recordPath);
  ASSERT_TRUE(in) << recordPath;
  std::map<std::string, std::string> recorded;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string file, variant, print;
    fields >> file >> variant >> print;
    recorded[file + " " + variant] = print;
  }
  EXPECT_EQ(now.size(), recorded.size());
  for (const auto& [key, print] : now) {
    const auto it = recorded.find(key);
    ASSERT_NE(it, recorded.end()) << key << " is not recorded";
    EXPECT_EQ(print, it->second) << key;
  }
}

}  // namespace
