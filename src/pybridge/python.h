// The one way this module includes the interpreter's C API: the limited API
// (stable ABI) of CPython 3.10, so one binary serves every later version.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
