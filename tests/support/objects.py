"""Interpreter objects for the conversion tests: nestings, and subclasses of the built-in
containers and scalars whose protocol methods must never be called."""


def nest(depth, wrap, inner=0):
    for _ in range(depth):
        inner = wrap(inner)
    return inner


def strict(a, b):
    """Equal with equal types all the way down, dicts in the same order."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(strict(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(map(strict, a, b))
    return repr(a) == repr(b) if isinstance(a, float) else a == b


def never(*_):
    raise AssertionError("never called")


def boom(*_):
    raise ValueError("boom")


class DictSub(dict):
    items = keys = values = __iter__ = __getitem__ = __len__ = never


class ListSub(list):
    __iter__ = __getitem__ = __len__ = never


class TupleSub(tuple):
    __iter__ = __getitem__ = __len__ = never


class IntSub(int):
    __index__ = __float__ = never


class StrSub(str):
    __str__ = never
