// Pieces the commands share: the failure exception, the fitter handle,
// library messages, output naming and number formatting.
#ifndef CFIT_TOOLS_CFIT_COMMON_H
#define CFIT_TOOLS_CFIT_COMMON_H

#include <cfit/cfit.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "arguments.h"

namespace cfit_tool {

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;  // 128 + SIGINT, as shells report Ctrl-C

// A failure the program reports on standard error before exiting with 1.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FitterDeleter {
  void operator()(cFitAPI* fitter) const { delete fitter; }
};
using Fitter = std::unique_ptr<cFitAPI, FitterDeleter>;

// Creates a fitter; throws a Failure when the library cannot size its
// working storage for the record.
Fitter CreateFitter(cFitParams params);

// The fitter's recorded message on one line ("file: text"), or an empty
// string when nothing is recorded.
std::string LibraryMessage(cFitAPI& fitter);

// Throws a Failure with `what` followed by the fitter's message (or a note
// that the library gave no reason). A message that starts with `file` is
// given alone, as it already names what failed.
[[noreturn]] void FailWithLibraryMessage(cFitAPI& fitter, const std::string& what,
                                         const std::string& file = std::string());

// Reads a pole file into the fitter and returns its port count; throws a
// Failure with the library's message, or with a note of its own where the
// library refuses a file silently (a head without a valid port count).
int ReadPoleFile(cFitAPI& fitter, const std::string& path);

// Reads a Touchstone file of any kind the library knows into the fitter and
// returns its port count; throws a Failure with the library's message.
int ReadTouchstoneFile(cFitAPI& fitter, const std::string& path);

// Write the fitter's data or model; throw a Failure with the library's
// message.
void WriteTouchstoneFile(cFitAPI& fitter, const std::string& path, int format);
void WritePoleFile(cFitAPI& fitter, const std::string& path);

// Returns true when `a` and `b` name the same file (both must exist for a
// true result, or be equal paths after normalisation).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Throws a Failure when one of `outputs` (empty paths ignored) names one of
// `inputs`, before anything is opened for writing.
void RefuseOverwrite(const std::vector<std::filesystem::path>& inputs,
                     const std::vector<std::filesystem::path>& outputs);

// Throws a Failure unless `path` is an existing file (checked before a log
// file is made for it).
void RequireFile(const std::filesystem::path& path);

// Creates the directory when it is missing; throws a Failure when it cannot.
void EnsureDirectory(const std::filesystem::path& directory);

// The checks made before a command writes anything: every input exists
// (RequireFile, in order), no output names an input, and the directory of
// the first output exists.
void PrepareOutputs(const std::vector<std::filesystem::path>& inputs,
                    const std::vector<std::filesystem::path>& outputs);

// The run log's path: --log, or `output` with the extension .log.
std::string LogPathBeside(const Arguments& arguments, const std::filesystem::path& output);

// Whether FILE is read as a pole file: by its extension, unless --as says
// touchstone or poles.
bool ReadsAsPoleFile(const Arguments& arguments, const std::filesystem::path& path);

// The closing lines of a command that wrote files: "wrote:", each file and
// the run log.
void PrintWritten(const std::vector<std::string>& files, const std::string& logPath);

// Whether the name has the pole file's extension, .pls (any case).
bool IsPoleFileName(const std::filesystem::path& path);

// Touchstone file extension for N ports: ".s2p".
std::string TouchstoneExtension(int ports);

// Touchstone number format code from "ri", "ma" or "db" (any case); throws
// UsageError for other text.
int FormatCode(const std::string& text);

// Type letter of a data type code: S, Y, Z, A, P; '?' for others.
char TypeLetter(int dataType);

// Element name: S21 for up to 9 ports, S(12,3) above.
std::string ElementName(char type, int ports, int i, int j);

// "75 GHz", "2.35 MHz", "0 Hz".
std::string FormatFrequency(double hertz);
// "12.35 ps", "1.5 ns", "0 s" (four significant digits).
std::string FormatTime(double seconds);
// A double in %.3g form.
std::string FormatNumber(double value);

// Frequencies of the fitter's sampled points, in order.
std::vector<double> SampledFrequencies(cFitAPI& fitter);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_COMMON_H
