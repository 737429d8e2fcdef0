#include "common.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <system_error>

#include "api/file_operations.h"

namespace cfit_tool {

Fitter CreateFitter(cFitParams params) {
  Fitter fitter(cFitAPI::Create(&params));
  if (fitter == nullptr) {
    throw Failure("the library cannot set up a fitter for " +
                  std::to_string(params.maxFrequencyPoints) + " points and " +
                  std::to_string(params.maxColumns) +
                  " columns (not enough memory; lower --max-points or --max-columns)");
  }
  return fitter;
}

std::string LibraryMessage(cFitAPI& fitter) {
  const char* message = fitter.GetErrorMessage();
  if (message == nullptr) return std::string();
  // File-qualified messages read "file:\ntext"; keep them on one line.
  std::string text = message;
  for (std::size_t at = text.find(":\n"); at != std::string::npos; at = text.find(":\n", at)) {
    text.replace(at, 2, ": ");
  }
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

void FailWithLibraryMessage(cFitAPI& fitter, const std::string& what, const std::string& file) {
  const std::string message = LibraryMessage(fitter);
  if (message.empty()) throw Failure(what + ": the library gave no reason");
  // A message that names the file says all there is to say.
  if (!file.empty() && message.compare(0, file.size() + 1, file + ":") == 0) throw Failure(message);
  throw Failure(what + ": " + message);
}

int ReadPoleFile(cFitAPI& fitter, const std::string& path) {
  const int ports = fitter.ReadPoles(path.c_str());
  if (ports != 0) return ports;
  if (LibraryMessage(fitter).empty()) {
    throw Failure(path + ": not a pole file (it does not start with a port count of 1 to 1000)");
  }
  FailWithLibraryMessage(fitter, "cannot read the pole file " + path, path);
}

int ReadTouchstoneFile(cFitAPI& fitter, const std::string& path) {
  const int ports = cfit::ReadAnyTouchstone(fitter, path.c_str());
  if (ports == 0) FailWithLibraryMessage(fitter, "cannot read " + path, path);
  return ports;
}

void WriteTouchstoneFile(cFitAPI& fitter, const std::string& path, int format) {
  if (fitter.WriteTouchstone(path.c_str(), format) == 0) {
    FailWithLibraryMessage(fitter, "cannot write " + path, path);
  }
}

void WritePoleFile(cFitAPI& fitter, const std::string& path) {
  if (fitter.WritePoles(path.c_str()) == 0) {
    FailWithLibraryMessage(fitter, "cannot write " + path, path);
  }
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error)) {
    return std::filesystem::equivalent(a, b, error);
  }
  const auto left = std::filesystem::weakly_canonical(a, error);
  if (error) return false;
  const auto right = std::filesystem::weakly_canonical(b, error);
  return !error && left == right;
}

void RefuseOverwrite(const std::vector<std::filesystem::path>& inputs,
                     const std::vector<std::filesystem::path>& outputs) {
  for (const auto& out : outputs) {
    for (const auto& in : inputs) {
      if (!out.empty() && !in.empty() && SameFile(in, out)) {
        throw Failure(out.string() + " would overwrite the input " + in.string());
      }
    }
  }
}

void RequireFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error))
    throw Failure(path.string() + ": no such file");
}

void EnsureDirectory(const std::filesystem::path& directory) {
  if (directory.empty()) return;
  std::error_code error;
  if (std::filesystem::is_directory(directory, error)) return;
  std::filesystem::create_directories(directory, error);
  if (error || !std::filesystem::is_directory(directory)) {
    throw Failure("cannot create the output directory " + directory.string() +
                  (error ? ": " + error.message() : std::string()));
  }
}

void PrepareOutputs(const std::vector<std::filesystem::path>& inputs,
                    const std::vector<std::filesystem::path>& outputs) {
  for (const auto& input : inputs) RequireFile(input);
  RefuseOverwrite(inputs, outputs);
  if (!outputs.empty()) EnsureDirectory(outputs.front().parent_path());
}

std::string LogPathBeside(const Arguments& arguments, const std::filesystem::path& output) {
  return arguments.Text("log").value_or(
      std::filesystem::path(output).replace_extension(".log").string());
}

bool ReadsAsPoleFile(const Arguments& arguments, const std::filesystem::path& path) {
  const auto kind = arguments.Text("as");
  if (!kind) return IsPoleFileName(path);
  if (*kind == "touchstone") return false;
  if (*kind == "poles") return true;
  throw UsageError("--as takes touchstone or poles, not '" + *kind + "'");
}

void PrintWritten(const std::vector<std::string>& files, const std::string& logPath) {
  std::cout << "wrote:\n";
  for (const std::string& file : files) std::cout << "  " << file << "\n";
  std::cout << "  " << logPath << " (run log)\n";
}

bool IsPoleFileName(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".pls";
}

std::string TouchstoneExtension(int ports) { return ".s" + std::to_string(ports) + "p"; }

int FormatCode(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "ri") return 0;
  if (lower == "ma") return 1;
  if (lower == "db") return 2;
  throw UsageError("--format needs ri, ma or db, not '" + text + "'");
}

char TypeLetter(int dataType) {
  switch (dataType) {
    case 1: return 'S';
    case 2: return 'Y';
    case 3: return 'Z';
    case 4: return 'A';
    case 5: return 'P';
    default: return '?';
  }
}

std::string ElementName(char type, int ports, int i, int j) {
  if (ports <= 9) return std::string(1, type) + std::to_string(i + 1) + std::to_string(j + 1);
  return std::string(1, type) + "(" + std::to_string(i + 1) + "," + std::to_string(j + 1) + ")";
}

namespace {
std::string Scaled(double value, const char* const* units, const double* scales, int count,
                   int digits) {
  const double magnitude = std::fabs(value);
  int k = count - 1;
  for (int u = 0; u < count; ++u) {
    if (magnitude >= scales[u]) {
      k = u;
      break;
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*g %s", digits, value / scales[k], units[k]);
  return text;
}
}  // namespace

std::string FormatFrequency(double hertz) {
  static const char* const kUnits[] = {"THz", "GHz", "MHz", "kHz", "Hz"};
  static const double kScales[] = {1e12, 1e9, 1e6, 1e3, 1.0};
  if (hertz == 0.0) return "0 Hz";
  return Scaled(hertz, kUnits, kScales, 5, 6);
}

std::string FormatTime(double seconds) {
  static const char* const kUnits[] = {"s", "ms", "us", "ns", "ps", "fs"};
  static const double kScales[] = {1.0, 1e-3, 1e-6, 1e-9, 1e-12, 1e-15};
  if (seconds == 0.0) return "0 s";
  return Scaled(seconds, kUnits, kScales, 6, 4);
}

std::string FormatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

std::vector<double> SampledFrequencies(cFitAPI& fitter) {
  std::vector<double> frequencies;
  for (DataPointRecord* r = fitter.GetFirstDataPoint(); r != nullptr;
       r = fitter.GetNextDataPoint()) {
    frequencies.push_back(r->frequency);
  }
  return frequencies;
}

}  // namespace cfit_tool
