"""The golden corpus format: Python objects as tagged JSON, cases as JSON lines, and the
run and compare step shared by the generator and the test.

A value is written as plain JSON when that is unambiguous: None, bool, exact int, exact str
without surrogates, exact list, and a dict whose keys are all such str (in insertion order;
a dict of one key that starts with "$" is written with the $dict tag). Everything else is an
object with one member, the tag:

    {"$float": "repr"}            exact float (repr reads back as the same double; -0.0, inf, nan)
    {"$ustr": [...]}              str with surrogate code points: text pieces and code point ints
    {"$bytes": "hex"}             bytes; also $bytearray, $memoryview
    {"$tuple": [...]}             tuple; also $set, $frozenset, $iter (a list iterator)
    {"$dict": {...}}              dict of one "$..." key
    {"$items": [[k, v], ...]}     dict with other keys, in insertion order
    {"$sub": [base, value]}       instance of a subclass of int, float, str, bytes, list, tuple, dict
    {"$complex": [re, im]}        complex from two float reprs
    {"$decimal": "text"}, {"$fraction": "n/d"}
    {"$np": [type, text]}         NumPy scalar: bool_ ("true"/"false"), int64, float64, float32
    {"$hook": {...}}              object of a fresh class: optional "name" and "module" of the
                                  class, and dunder methods ("index", "float", "bool", "str")
                                  returning the given value, or raising for "raise" (ValueError)
                                  and "interrupt" (KeyboardInterrupt)
    {"$object": null}             plain object()
    {"$nest": [depth, kind, v]}   v wrapped depth times in a list, tuple or {"k": ...} dict
    {"$loop": kind}               list, dict or tuple (through a list) that contains itself
    {"$toggling": null}           dict whose member's __index__ adds or removes another member

A case is one line: {"id", "args", optional "kwargs", then "result" or "raises": [class,
text]}. Exceptions are named by their class name, prefixed with the module for classes
outside builtins.

An exception's text is a str, held character for character, unless the module passes on a
text that the interpreter wrote (its wording differs between interpreter versions). Such a text
is a list of pieces, joined in order: str pieces are the module's own (the "argument 'name': "
prefix of a parameter's TypeError) and stay held exactly; the one tagged piece

    {"$interpreter": [call, value]}   the text of the exception that the running interpreter
                                      raises for call on the decoded value (support/interpreter.py):
                                      "index" (operator.index), "int64" (operator.index, then
                                      PyLong_AsLongLong) or "utf8" (str.encode("utf-8"))

stands for the interpreter's. The generator records a text in this form when it is exactly
such a text (behind its prefix): "index" of the parameter that a TypeError's prefix names,
"int64" of an argument for an OverflowError, "utf8" of the str that a UnicodeEncodeError names.
"""

import inspect
import json
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

from support.interpreter import failure, says
from support.objects import self_containing_dict, self_containing_list, toggling_dict, via_tuple

import quarn_core

HERE = Path(__file__).resolve().parent

FUNCTIONS = tuple(quarn_core.__all__)


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


class ListSub(list):
    pass


class TupleSub(tuple):
    __slots__ = ()


class DictSub(dict):
    pass


SUBCLASSES = {
    "int": IntSub,
    "float": FloatSub,
    "str": StrSub,
    "bytes": BytesSub,
    "list": ListSub,
    "tuple": TupleSub,
    "dict": DictSub,
}
BASE_OF = {cls: name for name, cls in SUBCLASSES.items()}


def _has_surrogate(s):
    return any(0xD800 <= ord(c) <= 0xDFFF for c in s)


def _ustr_pieces(s):
    pieces, run = [], []
    for c in s:
        if 0xD800 <= ord(c) <= 0xDFFF:
            if run:
                pieces.append("".join(run))
                run = []
            pieces.append(ord(c))
        else:
            run.append(c)
    if run:
        pieces.append("".join(run))
    return pieces


class Tagged:
    """A value given directly in its tagged form (hooks, NumPy scalars, nesting, ...)."""

    def __init__(self, data):
        self.data = data


def encode(value):
    """The tagged JSON form of value; the types must be exact (subclasses only of SUBCLASSES)."""
    kind = type(value)
    if kind is Tagged:
        return value.data
    if value is None or kind is bool or kind is int:
        return value
    if kind is float:
        return {"$float": repr(value)}
    if kind is str:
        return {"$ustr": _ustr_pieces(value)} if _has_surrogate(value) else value
    if kind is bytes:
        return {"$bytes": value.hex()}
    if kind is list:
        return [encode(v) for v in value]
    if kind is tuple:
        return {"$tuple": [encode(v) for v in value]}
    if kind is dict:
        if all(type(k) is str and not _has_surrogate(k) for k in value):
            members = {k: encode(v) for k, v in value.items()}
            return {"$dict": members} if _is_tag(members) else members
        return {"$items": [[encode(k), encode(v)] for k, v in value.items()]}
    if kind in (set, frozenset):
        return {"$" + kind.__name__: [encode(v) for v in sorted(value, key=repr)]}
    if kind in BASE_OF:
        base = BASE_OF[kind]
        return {"$sub": [base, encode(SUBCLASSES[base].__mro__[1](value))]}
    raise TypeError(f"no tagged form for {kind.__qualname__}")


def _is_tag(data):
    return len(data) == 1 and next(iter(data)).startswith("$")


def _hook_method(given):
    if given == "raise":

        def method(self):
            raise ValueError("hook")

    elif given == "interrupt":

        def method(self):
            raise KeyboardInterrupt("hook")

    else:
        result = decode(given)

        def method(self):
            return result

    return method


def _hook(given):
    members = {"__module__": given.get("module", __name__)}
    for key, method_value in given.items():
        if key not in ("name", "module"):
            members[f"__{key}__"] = _hook_method(method_value)
    return type(given.get("name", "Hook"), (), members)()


LOOPS = {"list": self_containing_list, "dict": self_containing_dict, "tuple": via_tuple}

WRAP = {"list": lambda v: [v], "tuple": lambda v: (v,), "dict": lambda v: {"k": v}}


def _numpy(kind, text):
    import numpy as np  # only the cases that name a NumPy scalar need it

    if kind == "bool_":
        return np.bool_(text == "true")
    return getattr(np, kind)(text)


def _decode_tagged(tag, body):
    simple = {
        "float": float,
        "bytes": bytes.fromhex,
        "bytearray": bytearray.fromhex,
        "memoryview": lambda h: memoryview(bytes.fromhex(h)),
        "decimal": Decimal,
        "fraction": Fraction,
        "object": lambda _: object(),
        "loop": lambda kind: LOOPS[kind](),
        "toggling": lambda _: toggling_dict(),
        "hook": _hook,
    }
    if tag in simple:
        return simple[tag](body)
    containers = {"tuple": tuple, "set": set, "frozenset": frozenset, "iter": iter}
    if tag in containers:
        return containers[tag](decode(v) for v in body)
    if tag == "ustr":
        return "".join(p if isinstance(p, str) else chr(p) for p in body)
    if tag == "dict":
        return {k: decode(v) for k, v in body.items()}
    if tag == "items":
        return {decode(k): decode(v) for k, v in body}
    if tag == "sub":
        base, inner = body
        return SUBCLASSES[base](decode(inner))
    if tag == "complex":
        return complex(float(body[0]), float(body[1]))
    if tag == "np":
        return _numpy(*body)
    if tag == "nest":
        depth, kind, inner = body
        value = decode(inner)
        for _ in range(depth):
            value = WRAP[kind](value)
        return value
    raise ValueError(f"unknown tag {tag!r}")


def decode(data):
    """A fresh Python object from its tagged JSON form."""
    if isinstance(data, list):
        return [decode(v) for v in data]
    if isinstance(data, dict):
        if _is_tag(data):
            ((tag, body),) = data.items()
            return _decode_tagged(tag[1:], body)
        return {k: decode(v) for k, v in data.items()}
    return data


def _names_numpy(data):
    if isinstance(data, list):
        return any(_names_numpy(v) for v in data)
    if isinstance(data, dict):
        return "$np" in data or any(_names_numpy(v) for v in data.values())
    return False


def needs_numpy(case):
    """True when an argument of the case is a NumPy scalar."""
    return _names_numpy(case["args"]) or _names_numpy(list(case.get("kwargs", {}).values()))


def exception_name(e):
    cls = type(e)
    return cls.__name__ if cls.__module__ == "builtins" else f"{cls.__module__}.{cls.__qualname__}"


def _interpreter_calls(e, fn, args, kwargs):
    """(module's prefix, call, tagged value) for each interpreter call whose failure e may pass on."""
    if type(e) is UnicodeEncodeError:
        return [("", "utf8", encode(e.object))]
    bound = dict(zip(inspect.signature(fn).parameters, args)) | kwargs
    if type(e) is TypeError:
        return [(f"argument '{name}': ", "index", data) for name, data in bound.items()]
    if type(e) is OverflowError:
        return [("", "int64", data) for data in bound.values()]
    return []


def _text_of(e, fn, args, kwargs):
    """The recorded form of e's text: a list of pieces where it is the interpreter's, else str(e)."""
    message = str(e)
    for prefix, call, data in _interpreter_calls(e, fn, args, kwargs):
        if message.startswith(prefix):
            said = failure(call, decode(data))
            if type(said) is type(e) and prefix + str(said) == message:
                return ([prefix] if prefix else []) + [{"$interpreter": [call, data]}]
    return message


def run(function, args, kwargs):
    """The outcome of one call from tagged arguments: {"result": ...} or {"raises": [...]}."""
    fn = getattr(quarn_core, function)
    call_args = [decode(a) for a in args]
    call_kwargs = {k: decode(v) for k, v in kwargs.items()}
    try:
        result = fn(*call_args, **call_kwargs)
    except BaseException as e:  # the exception is the outcome under test
        return {"raises": [exception_name(e), _text_of(e, fn, args, kwargs)]}
    return {"result": encode(result)}


def _piece(piece):
    if isinstance(piece, str):
        return piece
    ((tag, (call, data)),) = piece.items()
    if tag != "$interpreter":
        raise ValueError(f"unknown text piece {tag!r}")
    return says(call, decode(data))


def resolved(outcome):
    """The outcome with an exception's text as the running interpreter writes it."""
    if "raises" not in outcome or isinstance(outcome["raises"][1], str):
        return outcome
    name, pieces = outcome["raises"]
    return {"raises": [name, "".join(map(_piece, pieces))]}


def outcome_of(case):
    return {k: case[k] for k in ("result", "raises") if k in case}


def text(data):
    """One line of JSON in UTF-8, with every non-printable character escaped so that
    lines never break inside a case and invisible characters stay visible."""
    out = json.dumps(data, ensure_ascii=False, separators=(", ", ": "))
    return "".join(c if c.isprintable() else _escape(c) for c in out)


def _escape(c):
    code = ord(c)
    if code <= 0xFFFF:
        return f"\\u{code:04x}"
    code -= 0x10000
    return f"\\u{0xD800 + (code >> 10):04x}\\u{0xDC00 + (code & 0x3FF):04x}"


def path_of(function):
    return HERE / f"{function}.jsonl"


def load(function):
    with open(path_of(function), encoding="utf-8", newline="\n") as f:
        return [json.loads(line) for line in f.read().split("\n") if line]


def difference(function, case):
    """None when the module gives the case's recorded outcome (an interpreter's text as the running
    interpreter writes it), else (expected, got) as text."""
    got = run(function, case["args"], case.get("kwargs", {}))
    expected, actual = text(resolved(outcome_of(case))), text(resolved(got))
    return None if expected == actual else (expected, actual)
