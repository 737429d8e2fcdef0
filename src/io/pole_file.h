// The pole file: a fitted model as text, written and read back.
#ifndef CFIT_IO_POLE_FILE_H
#define CFIT_IO_POLE_FILE_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "fit/model.h"

namespace cfit {

// The largest port count a pole file may state: the reader refuses larger
// ones, so the writer refuses to write them.
inline constexpr int kMaxPoleFilePorts = 1000;

// The model a pole file is written from (its port count, type, impedances,
// shape and symmetric flag are the file's) and the comment in front.
struct PoleFileModel {
  const Model& model;
  const char* comment;  // written as comment lines in front; null: none
};

// Writes the banner, the start line, the file and the end line. Fails with
// 9 (with the file name when there is one) when the name is missing, the
// model has more ports than a pole file may state, or the file cannot be
// opened or written.
Status WritePoleFile(const std::string& fileName, const PoleFileModel& content,
                     const RunContext& context = RunContext());

// What a pole file holds: the comment and the model, with individual pole
// lists, whose port count, data type, impedances and symmetric flag are the
// file's.
struct PoleFile {
  std::string comment;
  std::unique_ptr<Model> model;
};

// What the file must agree with: a type letter must name `dataType` and the
// port count must be `portCount`, unless these are 0.
struct PoleFileExpectation {
  int dataType = 0;
  int portCount = 0;
};

// Reads a pole file, logging its start line (the caller that takes the
// model logs the end line). Fails with 14 (with the file name) when it
// cannot be opened, 15 for a type letter of another type, 16 for another
// port count, 17 for an impedance out of range, 18 (with the file name) for
// any other content error, and without a code for a port count outside
// 1..kMaxPoleFilePorts.
Result<PoleFile> ReadPoleFile(const std::string& fileName, const PoleFileExpectation& expected,
                              const RunContext& context = RunContext());

// The port count a pole file states. Fails with 14 (with the file name) when
// it cannot be opened and without a code when no count in 1..kMaxPoleFilePorts
// is found.
Result<int> PoleFilePortCount(const std::string& fileName);

// The end line of a pole-file read.
void LogPoleFileReadEnd(const std::string& fileName, const RunContext& context = RunContext());

}  // namespace cfit

#endif  // CFIT_IO_POLE_FILE_H
