// Failures of code that works on interpreter objects (src/pybridge and the
// call frame's own glue), as values. The call frame raises them; nothing else
// does.
#pragma once

#include <string>
#include <utility>

#include "base/result.h"

namespace quarn {

struct PyFailure {
  enum class Kind : unsigned char {
    Pending,         // the interpreter's error indicator already holds the exception
    TypeError,       // raise TypeError(message)
    ValueError,      // raise ValueError(message), no prefix
    RecursionError,  // raise RecursionError(message)
    Panic,           // raise PanicException(message), with a report on stderr
    Module,          // raise ValueError(prefix of `module_kind` + message)
  };
  Kind kind;
  std::string message;
  ErrorKind module_kind = ErrorKind::InvalidJson;

  static PyFailure pending() { return PyFailure{Kind::Pending, {}}; }
  static PyFailure type_error(std::string m) { return PyFailure{Kind::TypeError, std::move(m)}; }
  static PyFailure value_error(std::string m) { return PyFailure{Kind::ValueError, std::move(m)}; }
  static PyFailure recursion_error(std::string m) { return PyFailure{Kind::RecursionError, std::move(m)}; }
  static PyFailure panic(std::string m) { return PyFailure{Kind::Panic, std::move(m)}; }
  static PyFailure module(ModuleError e) { return PyFailure{Kind::Module, std::move(e.message), e.kind}; }
};

template <class T>
using PyResult = Result<T, PyFailure>;

}  // namespace quarn
