// The call frame: binding call arguments to parameters, converting them by
// parameter kind, raising failures, and the guard that keeps C++ exceptions
// out of the interpreter.
//
// All functions here expect the interpreter lock to be held. Functions that
// return `bool` return false with the interpreter's error indicator set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <string_view>

#include "base/result.h"
#include "pybridge/pyfailure.h"
#include "pybridge/pyref.h"
#include "pybridge/python.h"

namespace quarn::frame {

enum class ParamKind : std::uint8_t { Text, OptText, Int32, Int64, Bool, Object, OptObject };

struct Param {
  std::string_view name;  // NUL-terminated literal
  ParamKind kind;
};

struct Signature {
  const char* function;  // plain name, as in the messages
  std::span<const Param> params;
};

// Binds positional and keyword arguments to `sig.params`. On success every
// slot holds an owned reference to its argument. Raises TypeError with the
// interpreter's usual texts for too many positional arguments, unknown or
// repeated keywords and missing arguments.
bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, Ref* slots);

// Parameter conversions. A failure whose class is exactly TypeError is raised
// again as TypeError("argument '<name>': <message>"), keeping the cause;
// other failures (overflow, encoding) pass unchanged.
//
// The text is the object's UTF-8 form, valid while the object lives (the
// caller's slot keeps it alive).
bool to_text(const Param& p, PyObject* obj, std::string_view& out);
bool to_opt_text(const Param& p, PyObject* obj, std::optional<std::string_view>& out);
bool to_int32(const Param& p, PyObject* obj, std::int32_t& out);
bool to_int64(const Param& p, PyObject* obj, std::int64_t& out);
bool to_bool(const Param& p, PyObject* obj, bool& out);
// `None` gives nullptr; any other object itself (borrowed from the slot).
inline PyObject* to_opt_object(PyObject* obj) noexcept { return obj == Py_None ? nullptr : obj; }

// Raising. Each returns nullptr so that entries can `return raise(...)`.
PyObject* raise(const ModuleError& e);
PyObject* raise(const PyFailure& f, const char* function);

// Turns an internal failure into PanicException(message), with a short report
// on standard error naming `function`. A failure while doing so ends the
// process with "uncaught panic at ffi boundary".
PyObject* panic(const char* function, std::string_view message) noexcept;

// A new result object, or PanicException if the interpreter could not create
// it (only when out of memory).
PyObject* result(PyObject* obj, const char* function) noexcept;

// Runs `body` and converts any C++ exception into PanicException.
template <class F>
PyObject* guard(const char* function, F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    return panic(function, e.what());
  } catch (...) {
    return panic(function, msg::kPanicUnknown);
  }
}

}  // namespace quarn::frame
