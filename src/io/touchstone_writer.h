// Touchstone writer and plain data table. Both write the values they are
// given to a checked file: a device that refuses the bytes fails the write.
#ifndef CFIT_IO_TOUCHSTONE_WRITER_H
#define CFIT_IO_TOUCHSTONE_WRITER_H

#include <vector>

#include "core/result.h"
#include "data/sampled_data.h"

namespace cfit {

// What the header says about the points: their data type, port count and
// reference impedances (50 ohms for ports without one), and the comment
// written in front (null: the generated-by line).
struct TouchstoneHeader {
  int dataType = 0;
  int portCount = 0;
  const std::vector<double>* impedances = nullptr;
  const char* comment = nullptr;
};

// True when the data type has a letter in a Touchstone option line.
bool HasTouchstoneLetter(int dataType);

// Writes the points as a Touchstone file in one of the number formats 0 RI,
// 1 MA, 2 DB. Fails with 6 when the file cannot be opened or written, with 7
// for a data type without a letter and without a code for another format.
Status WriteTouchstoneFile(const char* fileName, const SampledData& data,
                           const TouchstoneHeader& header, int format);

// Writes element (i, j) of every point as a table line (negated and shifted
// by `offset` when asked), or whole matrices when (i, j) is outside the
// matrix; with `withHeader`, the Touchstone header in RI first. A data type
// without a letter writes no header, sets *headerRefused and the table is
// written all the same. Fails with 6 when the file cannot be opened or
// written.
Status WriteDataTableFile(const char* fileName, const SampledData& data,
                          const TouchstoneHeader& header, bool withHeader, int i, int j,
                          bool negate, double offset, bool* headerRefused);

}  // namespace cfit

#endif  // CFIT_IO_TOUCHSTONE_WRITER_H
