"""Interpreter objects for the conversion tests: nestings, subclasses of the built-in
containers and scalars whose protocol methods must never be called, instances with given
protocol methods, and containers that contain themselves or change while being read."""


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


def hook(**methods):
    """An instance of a fresh class with the given dunder methods."""
    return type("Hook", (), {f"__{k}__": v for k, v in methods.items()})()


def interrupt(*_):
    raise KeyboardInterrupt("hook")


def toggling_dict():
    """A dict whose member's __index__ adds or removes another member on every call."""
    d = {}

    def flip(_):
        if "z" in d:
            del d["z"]
        else:
            d["z"] = 1
        return 7

    d["a"] = hook(index=flip)
    return d


def self_containing_list():
    box = []
    box.append(box)
    return box


def self_containing_dict():
    d = {}
    d["me"] = d
    return d


def via_tuple():
    inner = []
    outer = (inner,)
    inner.append(outer)
    return outer
