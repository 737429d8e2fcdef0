// FNV-1a over the bytes of values: a fingerprint of a model that changes
// with any bit of any number in it.
#ifndef CFIT_TESTS_SUPPORT_FNV_HASH_H
#define CFIT_TESTS_SUPPORT_FNV_HASH_H

#include <cstddef>
#include <cstdint>

class FnvHash {
 public:
  void Add(const void* bytes, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t k = 0; k < size; ++k) {
      value_ ^= p[k];
      value_ *= 1099511628211ULL;
    }
  }
  void Add(double x) { Add(&x, sizeof x); }
  void Add(int x) { Add(&x, sizeof x); }
  std::uint64_t value() const { return value_; }

 private:
  std::uint64_t value_ = 14695981039346656037ULL;
};

#endif  // CFIT_TESTS_SUPPORT_FNV_HASH_H
