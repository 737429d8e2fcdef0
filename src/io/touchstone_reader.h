// Touchstone reader: parses a file of sampled S, Y or Z data of an N-port
// into a value. It knows nothing of a fitter; storing the points is the
// caller's business.
#ifndef CFIT_IO_TOUCHSTONE_READER_H
#define CFIT_IO_TOUCHSTONE_READER_H

#include <string>
#include <vector>

#include "core/result.h"
#include "core/run_context.h"
#include "numeric/point_block.h"

namespace cfit {

// Which files the reader takes. kVersion1 is the reader the host interface
// has always had. kVersion2Allowed also reads files that start with a UTF-8
// byte-order mark and version 2.0 files (those whose first line other than
// a comment is the [Version] keyword).
enum class TouchstoneDialect { kVersion1, kVersion2Allowed };

struct TouchstoneOptions {
  TouchstoneDialect dialect = TouchstoneDialect::kVersion1;
};

// What a successful read found.
struct TouchstoneFile {
  int portCount = 0;
  int dataType = 0;  // S, Y, Z or the pulse model, as the fitter's data type codes
  int version = 1;
  std::vector<double> impedances;  // one per port, in ohms
  PointBlock points;               // in file order, in hertz and real/imaginary form
  std::string comment;             // the header comment
};

// How far a read got, filled whether it succeeds or not: a failed read
// still tells its caller the port count it detected and the data type of
// the option line.
struct TouchstoneReach {
  bool opened = false;   // the file could be read
  bool started = false;  // the port count was found and the start line logged
  int portCount = 0;
  int dataType = 0;  // 0 when no option line gave a type
};

// Reads a Touchstone file, logging through `context` the start line and the
// reading diagnostics (the caller that stores the points logs the end line
// with LogTouchstoneReadEnd once it has, when reach.started). Fails with
// 1002 when the file cannot be read, 1003 when no supported parameter type
// was given, and 1001 for every other syntax fault; all with the file name.
Result<TouchstoneFile> ReadTouchstoneFile(const std::string& fileName,
                                          const TouchstoneOptions& options = {},
                                          const RunContext& context = RunContext(),
                                          TouchstoneReach* reach = nullptr);

// The end line of a Touchstone read.
void LogTouchstoneReadEnd(const std::string& fileName, const RunContext& context = RunContext());

// The port count a Touchstone file's number layout (or a version 2 file's
// port keyword) gives. Fails with 1001 (with the file name) when the file
// cannot be opened or no count is found, logging why.
Result<int> TouchstonePortCount(const std::string& fileName, const TouchstoneOptions& options = {},
                                const RunContext& context = RunContext());

}  // namespace cfit

#endif  // CFIT_IO_TOUCHSTONE_READER_H
