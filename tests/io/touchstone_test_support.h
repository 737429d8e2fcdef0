// Helpers shared by the Touchstone tests: scratch files and fresh fitters.
#ifndef CFIT_TESTS_IO_TOUCHSTONE_TEST_SUPPORT_H
#define CFIT_TESTS_IO_TOUCHSTONE_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "api/cfit_impl.h"

namespace cfit::testing {

// A folder of its own for the running test, removed afterwards. Tests run as
// separate processes in parallel, so the name carries the process id.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("cfit_ts_") + (info ? info->test_suite_name() : "x") + "_" +
                       (info ? info->name() : "y") + "_" + std::to_string(::getpid());
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes `bytes` exactly (binary) and returns the full path.
  std::string Write(const std::string& fileName, const std::string& bytes) const {
    const std::string full = (path_ / fileName).string();
    std::ofstream out(full, std::ios::binary);
    out << bytes;
    return full;
  }
  std::string Path(const std::string& fileName) const { return (path_ / fileName).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fitter initialised with `params` (defaults when null).
inline std::unique_ptr<cCfit> NewFitter(cFitParams params = cFitParams{}) {
  auto fitter = std::make_unique<cCfit>();
  EXPECT_TRUE(fitter->Init(&params));
  return fitter;
}

inline std::string Message(cCfit& fitter) {
  const char* m = fitter.GetErrorMessage();
  return m != nullptr ? m : "";
}

// The log of a read with the two timestamped lines replaced by "<start>" and
// "<end>", so that whole logs can be compared as text.
inline std::string WithoutTimestamps(const std::string& log) {
  static const std::regex start(" Reading from touchstone file [^\n]* start: [^\n]*\n");
  static const std::regex end(" Reading from touchstone file [^\n]*   end: [^\n]*\n");
  return std::regex_replace(std::regex_replace(log, start, "<start>"), end, "<end>");
}

}  // namespace cfit::testing

#endif  // CFIT_TESTS_IO_TOUCHSTONE_TEST_SUPPORT_H
