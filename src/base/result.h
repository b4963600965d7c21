// Result<T>: a value or an error message, the daemon's way of carrying
// failures across module boundaries without exceptions.
//
// The interface is a subset of std::expected<T, std::string> so that the
// type can become an alias once the project moves to C++23.
#ifndef TARVIX_BASE_RESULT_H_
#define TARVIX_BASE_RESULT_H_

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace tarvix {

// The error half of a Result, spelled like std::unexpected.
template <typename E>
class Unexpected {
 public:
  explicit Unexpected(E error) : error_(std::move(error)) {}
  const E& error() const& { return error_; }
  E&& error() && { return std::move(error_); }

 private:
  E error_;
};

// Builds the error half of any Result from a message.
inline Unexpected<std::string> Error(std::string message) {
  return Unexpected<std::string>(std::move(message));
}

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(Unexpected<std::string> error)  // NOLINT
      : state_(std::in_place_index<1>, std::move(error).error()) {}

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { assert(has_value()); return std::get<0>(state_); }
  const T& value() const& { assert(has_value()); return std::get<0>(state_); }
  T&& value() && { assert(has_value()); return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const std::string& error() const& { assert(!has_value()); return std::get<1>(state_); }
  std::string&& error() && { assert(!has_value()); return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, std::string> state_;
};

// Result<void>: success carries nothing.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Unexpected<std::string> error)  // NOLINT
      : failed_(true), error_(std::move(error).error()) {}

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  const std::string& error() const& { assert(failed_); return error_; }
  std::string&& error() && { assert(failed_); return std::move(error_); }

 private:
  bool failed_ = false;
  std::string error_;
};

}  // namespace tarvix

#endif  // TARVIX_BASE_RESULT_H_
