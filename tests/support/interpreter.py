"""What the interpreter itself says when one of its own conversions fails.

The module passes these failures on as the interpreter raised them (a parameter's TypeError
behind the module's "argument 'name': " prefix), and their wording differs between interpreter
versions: 3.15 says "Hook.__index__() must return an int, not str" (with the class's module)
where earlier versions say "__index__ returned non-int (type str)". So the tests do not pin
these texts; they make the same call on the same object and take the interpreter's text.
"""

import ctypes
import operator
import sys

# Called through pythonapi, a failing C function raises the error it set.
_as_long_long = ctypes.pythonapi.PyLong_AsLongLong
_as_long_long.argtypes = (ctypes.py_object,)
_as_long_long.restype = ctypes.c_longlong

# The interpreter's conversions whose failures the module passes on, by the names that the
# golden corpus records them under.
CALLS = {
    "index": operator.index,  # an integer parameter read through __index__
    "int64": lambda v: _as_long_long(operator.index(v)),  # ... then as a C long long
    "utf8": lambda s: s.encode("utf-8"),  # a str read as UTF-8
}


def failure(call, value):
    """The exception that the interpreter raises for CALLS[call](value), or None."""
    try:
        CALLS[call](value)
    except Exception as e:  # whatever the interpreter raises is the answer
        return e
    return None


def says(call, value):
    """The text of the exception that the interpreter raises for CALLS[call](value)."""
    e = failure(call, value)
    assert e is not None, f"{call} of {value!r} does not fail"
    return str(e)


def immortal(obj):
    """Whether `obj` is immortal (CPython 3.12 and later): its count is a marker, not a count.

    The one wheel is compiled with 3.10's headers, whose inline reference counting adds to the
    marker where the interpreter's own code leaves it alone; so an immortal object that the
    module puts into a result (a shared str or int) shows a moved count although nothing keeps
    it. Its count says nothing about leaks, and no mortal object reaches 2**30 references here.
    """
    is_immortal = getattr(sys, "_is_immortal", None)
    return is_immortal(obj) if is_immortal is not None else sys.getrefcount(obj) >= 1 << 30


def refcounts(objects):
    """The reference counts of `objects` for comparing before and after calls (None: immortal)."""
    return [None if immortal(o) else sys.getrefcount(o) for o in objects]
