// Shared pieces of the fuzz targets: the input bytes go to the readers
// through a scratch file, the run log is silenced, and a broken expectation
// aborts so that libFuzzer keeps the input. Only the public header is used
// (and the sanitizer interface, for the clean-up at a report).
#ifndef CFIT_FUZZ_FUZZ_SUPPORT_H
#define CFIT_FUZZ_FUZZ_SUPPORT_H

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "cfit/cfit.h"

namespace cfit_fuzz {

// Paths of the scratch files that exist now: an abort skips the destructors
// that would remove them.
inline std::set<std::string>& LiveScratchFiles() {
  static std::set<std::string> paths;
  return paths;
}

inline void RemoveLiveScratchFiles() {
  for (const std::string& path : LiveScratchFiles()) ::unlink(path.c_str());
}

// Aborts with a message when an expectation about the library does not hold.
inline void Expect(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "cfit fuzz expectation failed: %s\n", what);
  RemoveLiveScratchFiles();
  std::abort();
}

// Set-up of every target. The run log goes to standard output, where a fuzz
// run would spend its time: it is silenced unless CFIT_FUZZ_LOG=1 (for looking
// at one reproducer). A sanitizer report removes the scratch files before the
// process dies.
inline void Initialize() {
  __sanitizer_set_death_callback(RemoveLiveScratchFiles);
  const char* keep = std::getenv("CFIT_FUZZ_LOG");
  if (keep != nullptr && keep[0] == '1') return;
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY);
  if (null < 0) return;
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
}

// The folder for scratch files: /dev/shm when it can be written (no disk
// traffic), else $TMPDIR, else /tmp.
inline std::string ScratchFolder() {
  if (::access("/dev/shm", W_OK) == 0) return "/dev/shm";
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
}

// A file whose name is unique to this process (libFuzzer's -jobs and -fork
// run several processes); removed when the object goes.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix)
      : path_(ScratchFolder() + "/cfit_fuzz_" + std::to_string(::getpid()) + "_" + suffix) {
    LiveScratchFiles().insert(path_);
  }
  ~ScratchFile() {
    Remove();
    LiveScratchFiles().erase(path_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char* path() const { return path_.c_str(); }

  // Writes the bytes exactly. False when the file cannot be written.
  bool Write(const uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
  }
  void Remove() { ::unlink(path_.c_str()); }

 private:
  std::string path_;
};

// Construction record with a small working set: the readers do not depend
// on it, and the default one would be allocated and released per input.
inline cFitParams SmallParams() {
  cFitParams params;
  params.maxFrequencyPoints = 64;
  params.maxColumns = 16;
  return params;
}

inline std::unique_ptr<cFitAPI> NewFitter(cFitParams params) {
  std::unique_ptr<cFitAPI> fitter(cFitAPI::Create(&params));
  Expect(fitter != nullptr, "Create gives a fitter");
  return fitter;
}

// A failed operation leaves a message behind.
inline void ExpectMessage(cFitAPI& fitter, const char* what) {
  const char* message = fitter.GetErrorMessage();
  Expect(message != nullptr && message[0] != '\0', what);
}

}  // namespace cfit_fuzz

#endif  // CFIT_FUZZ_FUZZ_SUPPORT_H
