// A process-wide unique number for an object, new for every construction
// and every copy, so that a cache can tell a replaced object from the one it
// was computed from even when the new one reuses the old one's address.
#ifndef CFIT_NUMERIC_OBJECT_ID_H
#define CFIT_NUMERIC_OBJECT_ID_H

#include <atomic>
#include <cstdint>

namespace cfit {

class ObjectId {
 public:
  ObjectId() : value_(Next()) {}
  ObjectId(const ObjectId&) : value_(Next()) {}
  ObjectId& operator=(const ObjectId&) {
    value_ = Next();
    return *this;
  }
  std::uint64_t value() const { return value_; }
  // Marks the object as changed in place.
  void Renew() { value_ = Next(); }

 private:
  static std::uint64_t Next() {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  std::uint64_t value_;
};

}  // namespace cfit

#endif  // CFIT_NUMERIC_OBJECT_ID_H
