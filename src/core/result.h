// Results as values: an operation of the engine returns either what it made
// or the condition that stopped it. The facade turns a failure into the
// host's error slot; engine callers (the cfit program, the Python module)
// read it directly.
#ifndef CFIT_CORE_RESULT_H
#define CFIT_CORE_RESULT_H

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "core/error_code.h"

namespace cfit {

// Why an operation failed. Some failures record nothing (`code` empty): the
// operation only reports that it did not succeed. File conditions name the
// file they concern.
struct Failure {
  std::optional<ErrorCode> code;
  std::optional<std::string> file;

  static Failure Silent() { return {}; }
  static Failure Of(ErrorCode c) { return {c, std::nullopt}; }
  static Failure OfFile(ErrorCode c, std::string name) { return {c, std::move(name)}; }
};

template <class T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}  // NOLINT
  Result(ErrorCode code) : Result(Failure::Of(code)) {}                            // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const Failure& failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// The result of an operation that makes nothing.
struct Done {};
using Status = Result<Done>;
inline Status Success() { return Done{}; }

}  // namespace cfit

#endif  // CFIT_CORE_RESULT_H
