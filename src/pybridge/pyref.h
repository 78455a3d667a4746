// Owned and borrowed interpreter references.
//
// `Ref` owns one reference: it is move-only, releases the reference when it
// goes, and is made only by `Ref::steal` (take over a new reference, e.g. a
// call's result) or `Ref::borrow` (add a reference to a borrowed object).
// A plain `PyObject*` in this code base is always borrowed: it is valid only
// while its owner (an argument tuple, a container, a `Ref`) keeps it alive.
#pragma once

#include <utility>

#include "pybridge/python.h"

namespace quarn {

class Ref {
 public:
  constexpr Ref() noexcept = default;
  // Takes over `p` (a new reference, or null).
  [[nodiscard]] static Ref steal(PyObject* p) noexcept { return Ref(p); }
  // Adds a reference to the borrowed `p` (may be null).
  [[nodiscard]] static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }

  // The object, still owned by this Ref.
  PyObject* get() const noexcept { return p_; }
  // Gives up ownership: the caller now owns the reference.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    PyObject* old = std::exchange(p_, nullptr);
    Py_XDECREF(old);
  }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace quarn
