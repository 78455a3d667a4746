"""A slow, independent reference of the canonical JSON text, for comparison with the module.

Structure and strings come from the standard library's parser and printer; numbers follow the
module's conversion written out step by step in Python: an unsigned 64-bit significand S, a
decimal exponent X, the table of nearest doubles 10^0 .. 10^308, and one IEEE operation per step
(Python floats are IEEE doubles in the default rounding mode). Doubles are laid out from the
shortest digits that `repr` gives.
"""

import decimal
import json
import math
import re

POW10 = [float(f"1e{i}") for i in range(309)]
U64_MAX = 2**64 - 1
CUT = U64_MAX // 10
NUMBER = re.compile(r"(-?)(0|[1-9][0-9]*)(?:\.([0-9]+))?(?:[eE]([+-]?)([0-9]+))?\Z")


class OutOfRange(Exception):
    """The number would be infinite; `position` is the 1-based byte the parser reports."""

    def __init__(self, position):
        super().__init__(position)
        self.position = position


def parse_number(text):
    """('u', int) | ('i', int) | ('d', float) for a number token, or raises OutOfRange."""
    m = NUMBER.match(text)
    assert m, text
    minus, integer, fraction, exp_sign, exp_digits = m.groups()
    s, x, dropped = 0, 0, False
    for c in integer:
        d = int(c)
        if not dropped and (s > CUT or (s == CUT and d > 5)):
            dropped = True
        if dropped:
            x += 1
        else:
            s = s * 10 + d
    refused = False
    for c in fraction or "":
        d = int(c)
        if not refused and (s > CUT or (s == CUT and d > 5)):
            refused = True
        if not refused:
            s, x = s * 10 + d, x - 1
    if exp_digits is not None:
        e = 0
        first = m.start(5)
        for i, c in enumerate(exp_digits):
            d = int(c)
            if e > 214748364 or (e == 214748364 and d > 7):
                if s != 0 and exp_sign != "-":
                    raise OutOfRange(first + i + 1)
                return ("d", -0.0 if minus else 0.0)
            e = e * 10 + d
        x = x - e if exp_sign == "-" else x + e
        x = max(-(2**31), min(2**31 - 1, x))
    if fraction is None and exp_digits is None and not dropped:
        if not minus:
            return ("u", s)
        if 1 <= s <= 2**63:
            return ("i", -s)
        return ("d", -float(s))
    f = float(s)
    while abs(x) > 308:
        if f == 0:
            break
        if x > 0:
            raise OutOfRange(len(text))
        f, x = _ieee(f, 1e308, divide=True), x + 308
    else:
        if x >= 0:
            f = _ieee(f, POW10[x], divide=False)
            if math.isinf(f):
                raise OutOfRange(len(text))
        else:
            f = _ieee(f, POW10[-x], divide=True)
    return ("d", -f if minus else f)


def _ieee(a, b, divide):
    """a / b or a * b of two positive doubles, rounded once to the nearest double (ties to even)
    from the exact rational result, as IEEE arithmetic does. Python's own float operators round
    twice where the interpreter computes on x87 registers (32-bit x86 builds), which would make
    the reference, not the module, depend on the CPU."""
    (n1, d1), (n2, d2) = a.as_integer_ratio(), b.as_integer_ratio()
    num, den = (n1 * d2, d1 * n2) if divide else (n1 * n2, d1 * d2)
    try:
        return num / den  # int / int is correctly rounded, subnormal results included
    except OverflowError:
        return math.inf


def layout(f):
    """The canonical text of a finite double."""
    sign = "-" if math.copysign(1.0, f) < 0 else ""
    if f == 0:
        return sign + "0.0"
    t = decimal.Decimal(repr(abs(f))).as_tuple()
    digits = "".join(map(str, t.digits)).rstrip("0")
    k = len(t.digits) + t.exponent
    n = len(digits)
    if -4 <= k <= 0:
        return sign + "0." + "0" * -k + digits
    if 1 <= k <= 16:
        if n <= k:
            return sign + digits + "0" * (k - n) + ".0"
        return sign + digits[:k] + "." + digits[k:]
    rest = "." + digits[1:] if n > 1 else ""
    return f"{sign}{digits[0]}{rest}e{'+' if k - 1 >= 0 else '-'}{abs(k - 1)}"


def print_number(value):
    kind, v = value
    return layout(v) if kind == "d" else str(v)


def canonical_number(text):
    """Parse, print, parse, print: what the module makes of a document that is one number."""
    return print_number(parse_number(print_number(parse_number(text))))


class Number(str):
    """A number token kept as its text by the standard parser."""


def _reject_constant(name):
    raise ValueError(f"not JSON: {name}")


def reference_canonical(text):
    """The canonical text of `text`, or raises ValueError / OutOfRange where the module fails.

    Does not know the nesting limit or lone surrogate escapes (the standard parser accepts both).
    """
    value = json.loads(text, parse_int=Number, parse_float=Number, parse_constant=_reject_constant)
    return dump(value)


def dump(value):
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, Number):
        return canonical_number(value)
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, list):
        return "[" + ",".join(dump(v) for v in value) + "]"
    # surrogatepass: the standard parser lets lone surrogate escapes into names; a document
    # holding one may still fail first on a number, which dump must then report.
    items = sorted(value.items(), key=lambda kv: kv[0].encode("utf-8", "surrogatepass"))
    return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + dump(v) for k, v in items) + "}"
