// Results and error values: how failures travel from the bodies to the call
// frame.
//
// Every operation of the JSON, payload and proto code reports failure by
// returning a `ModuleError` inside a `Result<T>`; nothing in those folders
// throws on bad input or touches the interpreter. The call frame
// (src/module) turns a `ModuleError` into `ValueError` with the kind's
// prefix.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "base/messages.h"

namespace quarn {

enum class ErrorKind : std::uint8_t {
  InvalidJson,    // text handed in as JSON is not readable or has the wrong shape
  Serialization,  // a step inside the module failed after the input was accepted
};

struct ModuleError {
  ErrorKind kind;
  std::string message;
};

// The prefix of a kind's printed form ("invalid json: ", "serialization error: ").
constexpr const char* error_prefix(ErrorKind kind) noexcept {
  return kind == ErrorKind::InvalidJson ? msg::kInvalidJsonPrefix : msg::kSerializationPrefix;
}

// Prefix of the kind followed directly by the message.
inline std::string to_string(const ModuleError& e) {
  std::string out = error_prefix(e.kind);
  out += e.message;
  return out;
}

// Either a value of type T or an error of type E. Move-only.
template <class T, class E = ModuleError>
class [[nodiscard]] Result {
 public:
  Result(T value) : ok_(true) { new (&value_) T(std::move(value)); }   // NOLINT: implicit on purpose
  Result(E error) : ok_(false) { new (&error_) E(std::move(error)); }  // NOLINT: implicit on purpose

  Result(Result&& other) noexcept(std::is_nothrow_move_constructible_v<T>) : ok_(other.ok_) {
    if (ok_) new (&value_) T(std::move(other.value_));
    else new (&error_) E(std::move(other.error_));
  }
  Result& operator=(Result&& other) noexcept(std::is_nothrow_move_constructible_v<T>) {
    if (this != &other) {
      destroy();
      ok_ = other.ok_;
      if (ok_) new (&value_) T(std::move(other.value_));
      else new (&error_) E(std::move(other.error_));
    }
    return *this;
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { destroy(); }

  bool ok() const noexcept { return ok_; }
  explicit operator bool() const noexcept { return ok_; }

  T& value() & noexcept { return value_; }
  const T& value() const& noexcept { return value_; }
  T&& value() && noexcept { return std::move(value_); }
  T& operator*() & noexcept { return value_; }
  const T& operator*() const& noexcept { return value_; }
  T* operator->() noexcept { return &value_; }
  const T* operator->() const noexcept { return &value_; }

  E& error() & noexcept { return error_; }
  E&& error() && noexcept { return std::move(error_); }
  const E& error() const& noexcept { return error_; }

 private:
  void destroy() noexcept {
    if (ok_) value_.~T();
    else error_.~E();
  }
  bool ok_;
  union {
    T value_;
    E error_;
  };
};

// Unit value for results that carry nothing but success.
struct Ok {};
using Status = Result<Ok>;

[[nodiscard]] inline ModuleError invalid_json(std::string message) {
  return ModuleError{ErrorKind::InvalidJson, std::move(message)};
}
[[nodiscard]] inline ModuleError serialization_error(std::string message) {
  return ModuleError{ErrorKind::Serialization, std::move(message)};
}

}  // namespace quarn
