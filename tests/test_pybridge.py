"""Interpreter objects to JSON values and back, seen through the object-path entry."""

import hashlib
import os
import subprocess
import sys
from decimal import Decimal
from fractions import Fraction

import pytest
from support.interpreter import refcounts
from support.objects import DictSub, IntSub, ListSub, StrSub, TupleSub, boom, nest, never, strict

import quarn_core

UNSUPPORTED = "unsupported value type for Rust export payload processing"
TOO_DEEP = "maximum nesting depth of 512 exceeded while converting a Python object"


def run(value):
    return quarn_core.process_export_payload_pyobject(value, None)


def obj(module=__name__, name="Obj", **methods):
    """An instance of a fresh class with the given dunder methods."""
    return type(name, (), {"__module__": module, **{f"__{k}__": v for k, v in methods.items()}})()


# (value, canonical text of its JSON value, the object it comes back as); None: unsupported
CONVERSIONS = [
    (None, "null", None), (True, "true", True), (False, "false", False), (1, "1", 1), (1.0, "1.0", 1.0),
    (-0.0, "-0.0", -0.0), (2**63 - 1, "9223372036854775807", 2**63 - 1),
    (-(2**63), "-9223372036854775808", -(2**63)), (2**63, "9.223372036854776e+18", 2.0**63),
    (-(2**63) - 1, "-9.223372036854776e+18", -(2.0**63)), (10**308, "1e+308", 1e308),
    (float("nan"), "null", None), (float("inf"), "null", None), (float("-inf"), "null", None),
    ("é\x00\"", '"é\\u0000\\""', "é\x00\""), ((1, (2, 3)), "[1,[2,3]]", [1, [2, 3]]),
    ({"b": 1, "a": [1, 2]}, '{"a":[1,2],"b":1}', {"a": [1, 2], "b": 1}),
    ({"é": 1, "\U0001f600": 2, "\uffff": 3, "B": 4, "ab": 5, "a": 6}, '{"B":4,"a":6,"ab":5,"é":1,"\uffff":3,"\U0001f600":2}',
     {"B": 4, "a": 6, "ab": 5, "é": 1, "\uffff": 3, "\U0001f600": 2}),
    (Decimal("2.5"), "2.5", 2.5), (Fraction(1, 4), "0.25", 0.25), (obj(float=lambda s: 2.5), "2.5", 2.5),
    (obj(index=lambda s: 7, float=never), "7", 7),
    (obj(index=lambda s: 2**64 + 1), "1.8446744073709552e+19", 2.0**64),  # the float protocol uses __index__
    (obj(index=boom, float=lambda s: 0.5), "0.5", 0.5), (obj(index=boom), None, None),
    (IntSub(5), "5", 5), (StrSub("s"), '"s"', "s"), (DictSub(b=1, a=2), '{"a":2,"b":1}', {"a": 2, "b": 1}),
    (ListSub([1, 2]), "[1,2]", [1, 2]), (TupleSub((1, 2)), "[1,2]", [1, 2]),
    (obj("numpy", "bool_", bool=lambda s: True), "true", True),
    (obj("numpy", "bool", bool=lambda s: False, index=never), "false", False),
    (obj("numpy", "bool_", bool=lambda s: 1), None, None),  # __bool__ must give a bool
    (obj("numpy", "int_", bool=lambda s: True), None, None),
    (10**400, None, None), (b"x", None, None), (bytearray(b"x"), None, None), (memoryview(b"x"), None, None),
    ({1, 2}, None, None), (complex(1, 2), None, None), (obj(), None, None), (["ok", "\udc00"], None, None),
    ({"a": {"k": "\ud800"}, 1: 2}, None, None),  # the value fails before the next key is looked at
    # Dicts whose keys repeat an earlier dict's order, or nearly do.
    ([{"b": 1, "a": 2}, {"b": 3, "a": 4}, {"b": 5, "0": 6}, {"b": 7, "a": 8}],
     '[{"a":2,"b":1},{"a":4,"b":3},{"0":6,"b":5},{"a":8,"b":7}]',
     [{"a": 2, "b": 1}, {"a": 4, "b": 3}, {"0": 6, "b": 5}, {"a": 8, "b": 7}]),
]  # fmt: skip


@pytest.mark.parametrize("value, text, back", CONVERSIONS)
def test_conversion(value, text, back):
    if text is None:
        with pytest.raises(TypeError) as e:
            run(value)
        assert e.value.args == (UNSUPPORTED,)
    else:
        normalized, value_hash = run(value)[:2]
        assert value_hash == hashlib.sha256(text.encode()).hexdigest() and strict(normalized, back)


class NoName(type):
    def __getattribute__(cls, name):
        return boom() if name == "__qualname__" else type.__getattribute__(cls, name)


@pytest.mark.parametrize("key, type_name", [(1, "int"), (None, "NoneType"), (b"k", "bytes"), ((1,), "tuple"),
                                            (True, "bool"), (DictSub, "type"), (obj(), "Obj"),
                                            (NoName("K", (), {})(), "<failed to extract type name>")])  # fmt: skip
def test_key_must_be_str(key, type_name):
    with pytest.raises(TypeError) as e:
        run({"a": 1, key: 2})
    assert e.value.args == (f"'{type_name}' object cannot be cast as 'str'",)


def interrupt(*_):
    raise KeyboardInterrupt


@pytest.mark.parametrize("hook", ["index", "float"])
def test_interrupt_in_a_hook_is_not_swallowed(hook):
    # A failing hook only rules its test out; an interrupt ends the conversion.
    with pytest.raises(KeyboardInterrupt):
        run({"a": obj(**{hook: interrupt})})
    assert strict(run({"a": obj(index=boom, float=lambda self: 2.5)})[0], {"a": 2.5})


def test_key_with_lone_surrogate_raises_the_encoding_error():
    with pytest.raises(UnicodeEncodeError) as oracle:
        "\ud800".encode("utf-8")
    with pytest.raises(UnicodeEncodeError) as e:
        run({"\ud800": 1})
    assert str(e.value) == str(oracle.value)


def hooked(build, change):
    """build(h) makes a container around h, whose __index__ applies change to that container."""
    box = []
    box.append(build(obj(index=lambda s: (change(box[0]), 7)[1])))
    return box[0]


PANICS = [
    (lambda h: {"a": h}, lambda c: c.update(z=1), "dictionary changed size during iteration"),
    (lambda h: {"a": h, "b": 1}, lambda c: c.clear(), "dictionary changed size during iteration"),
    (lambda h: {"a": 1, "b": h}, lambda c: (c.pop("a"), c.update(z=1)), "dictionary keys changed during iteration"),
]  # fmt: skip


@pytest.mark.parametrize("build, change, message", PANICS)
def test_dict_changed_by_a_hook_panics(build, change, message):
    with pytest.raises(BaseException) as e:
        run(hooked(build, change))
    assert type(e.value).__name__ == "PanicException" and not isinstance(e.value, Exception)
    assert e.value.args == (message,)


CHANGES = [
    (lambda h: [h, 1, 2], lambda c: c.clear(), [7]),
    (lambda h: [h, 1], lambda c: c.append(9), [7, 1]),
    (lambda h: [h, 1], lambda c: c.__setitem__(1, "new"), [7, "new"]),
    (lambda h: [[h, 1]], lambda c: c.clear(), [[7, 1]]),  # the inner list loses its last owner
    (lambda h: ["".join(["y"] * 3000), h], lambda c: c.clear(), ["y" * 3000, 7]),  # a long str too
    (lambda h: {"a": h, "b": 1}, lambda c: c.__setitem__("b", 2), {"a": 7, "b": 2}),
    # changed after conversion: the result holds what was converted
    (lambda h: [10**12, -5, 2.5, -0.0, 1, "s" * 3, h],
     lambda c: c.__setitem__(slice(0, 6), [10**12 + 1, -6, 3.5, 0.0, True, "t" * 3]), [10**12, -5, 2.5, -0.0, 1, "sss", 7]),
    (lambda h: {"a": "x", "b": 1.0, "c": h}, lambda c: c.update(a="y", b=1), {"a": "x", "b": 1.0, "c": 7}),
    (lambda h: {"a": [1, 2], "b": h}, lambda c: c.__setitem__("a", ("x", "y", "z")), {"a": [1, 2], "b": 7}),
    (lambda h: [{"k": "v"}, h], lambda c: c.__setitem__(0, {"k": "w", "j": 1}), [{"k": "v"}, 7]),
]  # fmt: skip


@pytest.mark.parametrize("build, change, expected", CHANGES)
def test_containers_changed_by_a_hook(build, change, expected):
    assert strict(run(hooked(build, change))[0], expected)


def self_containing(c, add):
    add(c)
    return c


# (container wrapper, column of the 128th opening bracket in the printed text)
@pytest.mark.parametrize("wrap, column", [(lambda v: [v], 128), (lambda v: (v,), 128),
                                          (lambda v: {"k": v}, 636), (lambda v: DictSub(k=v), 636)])  # fmt: skip
def test_depth_bound(wrap, column):
    # 512 levels convert (and then exceed the reader's own limit); 513 do not.
    with pytest.raises(ValueError) as e:
        run(nest(512, wrap))
    assert e.value.args == (f"serialization error: recursion limit exceeded at line 1 column {column}",)
    for value in (
        nest(513, wrap),
        self_containing([], lambda c: c.append(c)),
        self_containing({}, lambda c: c.update(a=c)),
    ):
        with pytest.raises(RecursionError) as e:
            run(value)
        assert e.value.args == (TOO_DEEP,)


SMALL_STACK = """
import threading, quarn_core
from support.objects import nest
out = []
def body():
    for wrap in (lambda v: [v], lambda v: {"k": v}, lambda v: (v,)):
        for args in ((nest(512, wrap), None), ({}, {"a": {"x": nest(510, wrap)}}), (nest(127, wrap), None),
                     (nest(513, wrap), None)):
            try:
                out.append(type(quarn_core.process_export_payload_pyobject(*args)).__name__)
            except BaseException as e:
                out.append(type(e).__name__)
threading.stack_size(256 * 1024)
t = threading.Thread(target=body)
t.start()
t.join()
print(*out)
"""


def subprocess_run(script, **env):
    return subprocess.run(
        [sys.executable, "-c", script],
        capture_output=True,
        text=True,
        cwd=os.path.dirname(__file__),
        env={**os.environ, **env},
    )


@pytest.mark.skipif(
    os.environ.get("QUARN_SANITIZED") == "1",
    reason="AddressSanitizer's larger stack frames do not fit the small thread stack",
)
def test_depth_bound_fits_a_small_thread_stack():
    r = subprocess_run(SMALL_STACK)
    assert (r.returncode, r.stdout.split()) == (0, ["ValueError", "tuple", "tuple", "RecursionError"] * 3), (
        r.stderr
    )


def test_hook_cases_under_the_debug_allocator():
    # Freed memory is overwritten there, so an object used after a hook dropped it shows.
    r = subprocess_run(
        "import pytest; raise SystemExit(pytest.main(['-q', '-p', 'no:cacheprovider', "
        "'test_pybridge.py', '-k', 'changed or references']))",
        PYTHONMALLOC="debug",
    )
    assert r.returncode == 0, r.stdout + r.stderr


def test_references_are_given_back():
    key, text, big, long = "k" + str(id(0)), "v" * 50, 10**30, "".join(["w"] * 5000)
    inner = [text, big, (text, long)]
    hook = obj(float=lambda s: 1.5)
    payload, failing = {key: inner, "h": hook, long: long}, {key: [inner, set()]}
    objs = (key, text, big, long, inner, hook, payload, failing)
    before = refcounts(objs)
    for _ in range(3):
        result = run(payload)
        for bad in (failing, {key: inner, 1: 2}, hooked(lambda h: {key: [inner, h]}, dict.clear)):
            with pytest.raises(BaseException):
                run(bad)
    counts = sys.getrefcount(result[0]), sys.getrefcount(result[0][key]), sys.getrefcount(result[2])
    assert counts == (2, 2, 2) and result[0][key] is not inner
    del result  # it may share strings and numbers with the payload
    assert refcounts(objs) == before


def test_numpy_values():
    np = pytest.importorskip("numpy")
    values = [
        np.True_,
        np.False_,
        np.int64(-5),
        np.uint64(2**64 - 1),
        np.float32(1.5),
        np.float64("nan"),
        np.str_("s"),
    ]
    normalized, value_hash = run(values)[:2]
    assert value_hash == hashlib.sha256(b'[true,false,-5,1.8446744073709552e+19,1.5,null,"s"]').hexdigest()
    assert strict(normalized, [True, False, -5, 2.0**64, 1.5, None, "s"])


def test_module_never_imports_numpy():
    r = subprocess_run(
        "import sys, quarn_core, test_pybridge as t\n"
        "quarn_core.process_export_payload_pyobject([v for v, text, _ in t.CONVERSIONS if text], None)\n"
        "print('numpy' in sys.modules)"
    )
    assert (r.returncode, r.stdout.strip()) == (0, "False"), r.stderr
