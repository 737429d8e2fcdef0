#include "data/data_point_export.h"

#include <cstddef>
#include <utility>

namespace cfit {

void DataPointExport::Release() {
  order_ = -1;
  values_.clear();
  values_.shrink_to_fit();
  rows_.clear();
  rows_.shrink_to_fit();
  record_ = {0.0, nullptr};
}

void DataPointExport::Rebuild(int order) {
  Release();
  if (order < 0) return;
  const auto n = static_cast<std::size_t>(order);
  values_.assign(2 * n * n, 0.0);
  rows_.resize(n);
  for (std::size_t i = 0; i < n; ++i) rows_[i] = values_.data() + 2 * n * i;
  order_ = order;
  record_ = {0.0, rows_.data()};
}

DataPointRecord* DataPointExport::Fill(ConstMatrixView point) {
  if (order_ < 0 || point.order() != order_) return nullptr;
  record_.frequency = point.frequency();
  for (int i = 0; i < order_; ++i) {
    const Complex* row = point.Row(i);
    double* out = rows_[static_cast<std::size_t>(i)];
    for (int j = 0; j < order_; ++j) {
      out[2 * j] = row[j].re;
      out[2 * j + 1] = row[j].im;
    }
  }
  return &record_;
}

bool PointFromRecord(const DataPointRecord& record, int n, PortMatrix* point) {
  if (n > 0 && record.values == nullptr) return false;
  for (int i = 0; i < n; ++i) {
    if (record.values[i] == nullptr) return false;
  }
  PortMatrix built(n);
  built.set_frequency(record.frequency);
  for (int i = 0; i < n; ++i) {
    const double* row = record.values[i];
    for (int j = 0; j < n; ++j) built.At(i, j) = {row[2 * j], row[2 * j + 1]};
  }
  *point = std::move(built);
  return true;
}

}  // namespace cfit
