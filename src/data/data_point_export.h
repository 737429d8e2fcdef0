// The data-point record handed to the host by GetFirstDataPoint and
// GetNextDataPoint. The fitter owns the record and its rows; they stay valid
// until the next GetFirstDataPoint or the fitter's deletion.
#ifndef CFIT_DATA_DATA_POINT_EXPORT_H
#define CFIT_DATA_DATA_POINT_EXPORT_H

#include <vector>

#include "cfit/cfit.h"
#include "numeric/port_matrix.h"

namespace cfit {

class DataPointExport {
 public:
  // Releases any previous record and builds one with `order` rows of
  // 2 * order doubles.
  void Rebuild(int order);
  // Copies a point of the record's order into it. Returns null when the
  // orders differ or no record exists.
  DataPointRecord* Fill(ConstMatrixView point);
  void Release();

 private:
  int order_ = -1;
  std::vector<double> values_;
  std::vector<double*> rows_;
  DataPointRecord record_{0.0, nullptr};
};

// Builds a point of order n from a host record. Returns false when the record
// or any of its rows is missing.
bool PointFromRecord(const DataPointRecord& record, int n, PortMatrix* point);

}  // namespace cfit

#endif  // CFIT_DATA_DATA_POINT_EXPORT_H
