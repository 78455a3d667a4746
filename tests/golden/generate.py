#!/usr/bin/env python3
"""Builds the golden corpus: the cases of all nine functions and the outcomes the installed
module gives for them.

    python tests/golden/generate.py            compare with the files, print every difference
    python tests/golden/generate.py --update   write the files

Run plainly it exits 1 when any outcome, input or case differs from the files. Every random
input comes from a fixed seed, so the cases are the same on every run and machine.
"""

import argparse
import base64
import inspect
import json
import random
import struct
import sys
from fractions import Fraction
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

import corpus  # noqa: E402
from corpus import Tagged as T  # noqa: E402
from support.wire import items_chain, ld, nested_groups, nested_structs  # noqa: E402

import quarn_core  # noqa: E402

MAX_LINE = 50_000
MAX_FILE = 1_000_000


class Cases:
    def __init__(self):
        self.items = []
        self.ids = set()

    def add(self, case_id, *args, **kwargs):
        if case_id in self.ids:
            raise ValueError(f"duplicate case id {case_id}")
        self.ids.add(case_id)
        case = {"id": case_id, "args": [corpus.encode(a) for a in args]}
        if kwargs:
            case["kwargs"] = {k: corpus.encode(v) for k, v in kwargs.items()}
        self.items.append(case)


def params(function):
    return list(inspect.signature(getattr(quarn_core, function)).parameters)


def hook(**methods):
    """An object of a fresh class; name and module name the class, other keywords are dunder
    methods returning the given value ("raise" and "interrupt" raise instead)."""
    return T({"$hook": {k: v if k in ("name", "module") else corpus.encode(v) for k, v in methods.items()}})


def nest(depth, kind, inner=0):
    return T({"$nest": [depth, kind, corpus.encode(inner)]})


def np(kind, text):
    return T({"$np": [kind, text]})


def sub(base, value):
    return T({"$sub": [base, corpus.encode(value)]})


def binding_cases(cases, function, valid):
    """Binding errors and keyword calls of function; valid is a list of good arguments."""
    names = params(function)
    cases.add("bind/no-arguments")
    cases.add("bind/one-too-many", *valid, valid[-1])
    cases.add("bind/two-too-many", *valid, valid[-1], valid[0])
    cases.add("bind/unexpected-keyword", *valid, payload="x")
    cases.add("bind/unexpected-keyword-first-wins", *valid, zzz=1, yyy=2)
    cases.add("bind/multiple-values", *valid, **{names[0]: valid[0]})
    cases.add("bind/unexpected-before-multiple-values", *valid, nope=1, **{names[-1]: valid[-1]})
    cases.add("bind/multiple-values-before-unexpected", *valid, **{names[-1]: valid[-1]}, nope=1)
    cases.add("bind/keywords", **dict(zip(names, valid)))
    cases.add("bind/keywords-reversed", **dict(reversed(list(zip(names, valid)))))
    cases.add("bind/last-keyword-only", **{names[-1]: valid[-1]})
    for n in range(1, len(names)):
        if n <= 3 or n >= len(names) - 3:
            cases.add(f"bind/positional-{n}", *valid[:n])
    if len(names) > 1:
        cases.add("bind/first-keyword-only", **{names[0]: valid[0]})
        cases.add("bind/too-many-and-unexpected", *valid, valid[0], bogus=1)


# fmt: off
TEXT_REFUSED = [
    ("bytes", b"{}"), ("none", None), ("int", 5), ("bool", True), ("float", 1.5), ("list", ["{}"]),
    ("bytearray", T({"$bytearray": "7b7d"})), ("object", T({"$object": None})),
    ("lone-surrogate", '"\ud800"'), ("low-surrogate-at-3", "[1,\udc00]"), ("surrogate-pair-chars", '"\ud83d\ude00"'),
    ("str-subclass", sub("str", '{"b":1,"a":2}')), ("dict", {"a": 1}),
    ("hook-str", hook(str="{}")),
]
# fmt: on


# ---- JSON text ---------------------------------------------------------------------------------

# fmt: off
NUMBER_TEXTS = [
    "0", "-0", "-0.0", "0.0", "1", "-1", "1.0", "1e2", "1E2", "1e+2", "1E-2", "0.1e1", "100e-2", "123e0", "123.0",
    "1e15", "1e16", "1e21", "1e22", "1e23", "1e-5", "1e-6", "5e-5", "123.456e-10", "1.5", "-1.5", "0.5",
    "0.30000000000000004", "0.1", "0.2", "0.3", "2.5", "3.14159", "1.5e300", "-1e-7", "9.999999999999999e22",
    "18446744073709551615", "18446744073709551616", "18446744073709551617", "-9223372036854775808",
    "-9223372036854775809", "-9223372036854775807", "9223372036854775807", "9223372036854775808",
    "-18446744073709551615", "-18446744073709551616", "9007199254740993", "9007199254740992", "-9007199254740993",
    "184467440737095516150", "184467440737095516160", "12345678901234567890123",
    "1844674407370955161600000000000000000000e-20", "18446744073709551616.3e-45", "18446744073709551619.5",
    "0.18446744073709551615", "0.18446744073709551616", "1.2345678901234567890123", "1844674407370955161.7",
    "9007199254740993.0", "123456789012345.67", "-0e5", "-0.0e-5", "0e-5", "-0e999999999999", "0e2147483648",
    "1e-2147483648", "-1e-2147483647", "-1e-99999999999", "1e-309", "1e-324", "3e-324", "2.4703282292062328e-324",
    "2.4703282292062329e-324", "0.001e311", "0.1e309", "100000e-313", "0e400", "17976931348623157e292",
    "2.2250738585072014e-308", "2.2250738585072011e-308", "2.2250738585072012e-308", "4.9406564584124654e-324",
    "4.9e-324", "5e-324", "1e-323", "1.7976931348623157e308", "1.7976931348623157e+308", "1e308",
    "3.5e-308", "3.5E-308", "8e126", "8E126", "4.379870024434759e+127", "7.751518962134485e-29",
    "7.751518962134483e-29", "79282456097322440e24", "38405519742678236e-24", "0.000012345", "0.000001",
    "0.0000015", "0.123", "1e1", "1234567890123456.0", "1234567890123456.7", "12345678901234567.0", "1e17",
    "12345678901234567890.0", "123e-2", "1.00000000000000000000000000000000000001", "0.0000000000000000000001",
    "1e0000000000000000000000000000002", "1e-0000000000000000000000000000002", "1E+00", "-1E-00", "0e0", "-0E+0",
    "1e2147483647", "1e2147483648", "0e2147483647", "1e-2147483647", "1e-2147483649", "-0e-2147483649",
    "0.0e2147483648", "0.1e2147483648", "1e214748364", "1e2147483640", "1e-214748364", "1e-2147483640",
    "10000000000000000000000000000000000000000000000e-340", "1" + "0" * 308, "9" * 309 + "e-1",
    "0." + "0" * 320 + "1", "0." + "0" * 330 + "1e330", "1" * 40 + "e-30", "1" * 30 + "e-10",
    "2.2204460492503131e-16", "1.1102230246251565e-16", "4503599627370496.5", "4503599627370497.5",
    "9007199254740991", "9007199254740991.0", "9007199254740995.0", "9007199254740997.0",
    "36028797018963967", "36028797018963967.0", "295147905179352825856", "295147905179352825857",
    "1.7976931348623158e308", "1e309", "-1e309", "1e400", "10e308", "1000e306", "1e21474836489", "1e99999999999",
    "1" * 400, "-1e+2147483648", "1.8e308", "-1.7976931348623159e308", "0.1e310", "100e307",
]
# fmt: on

LAYOUT_DIGITS = ["1", "15", "12345678901234567", "9999999999999999", "1000000000000001", "5"]


def number_sweeps():
    """Seeded numbers near powers of two and ten, midpoints and random bit patterns."""
    rng = random.Random(20261208)
    out = []
    # fmt: off
    exponents = [-1074, -1073, -1072, -1023, -1022, -1021, -1000, -600, -300, -52, -1, 0, 1, 52, 53, 54, 63,
                 64, 65, 100, 300, 500, 1000, 1022, 1023]
    # fmt: on
    exponents += rng.sample(range(-1074, 1024), 25)
    for e in exponents:
        x = 2.0**e
        up = struct.unpack("<d", struct.pack("<q", struct.unpack("<q", struct.pack("<d", x))[0] + 1))[0]
        out.append(("pow2/%d/repr" % e, repr(x)))
        out.append(("pow2/%d/17" % e, "%.16e" % x))
        if up != float("inf"):
            mid = (Fraction(x) + Fraction(up)) / 2
            out.append(("pow2/%d/mid" % e, _sci(mid, 26)))
            out.append(("pow2/%d/below-mid" % e, _sci(mid, 17, lambda d: d - 1)))
    tens = list(range(-330, -300, 3)) + list(range(-20, 25, 1)) + list(range(290, 310, 2))
    tens += rng.sample(range(-300, 290), 20)
    for k in sorted(set(tens)):
        out.append(("pow10/%d/one" % k, "1e%d" % k))
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(15, 21)))
        out.append(("pow10/%d/random" % k, "%d.%se%d" % (rng.randint(1, 9), digits, k)))
        out.append(("pow10/%d/nines" % k, "9.99999999999999999e%d" % (k - 1)))
    for i in range(60):
        bits = rng.getrandbits(63)
        f = struct.unpack("<d", struct.pack("<Q", bits))[0]
        if f != f or f == float("inf"):
            continue
        out.append(("random-bits/%02d" % i, repr(f)))
        out.append(("random-bits/%02d/g12" % i, "%.12g" % f))
    for i in range(40):
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(19, 42)))
        digits = str(rng.randint(1, 9)) + digits
        point = rng.randint(1, len(digits))
        exp = rng.randint(-60, 60)
        out.append(("long-mantissa/%02d" % i, "%s.%se%d" % (digits[:point], digits[point:] or "0", exp)))
    for k in range(-9, 22):
        for d in LAYOUT_DIGITS:
            mantissa = d[0] + ("." + d[1:] if len(d) > 1 else "")
            out.append(("layout/k%d/%s" % (k, d), "%se%d" % (mantissa, k - 1)))
    return out


def _sci(value, digits, adjust=None):
    """value (a Fraction) written with digits significant digits, truncated; adjust changes the
    digit string as an int."""
    exp = 0
    v = Fraction(value)
    while v >= 10:
        v /= 10
        exp += 1
    while v < 1:
        v *= 10
        exp -= 1
    n = int(v * 10 ** (digits - 1))
    if adjust:
        n = adjust(n)
    s = str(n)
    return "%s.%se%d" % (s[0], s[1:], exp)


# fmt: off
STRING_TEXTS = [
    '"\\u00e9"', '"\\/"', '"\\t"', '"\\u001F"', '"\\ud83d\\ude00"', '"\\uD83D\\uDE00"', '"\\u0000"', '"\\u007f\x7f"',
    '"\\u0022\\u005c"', '"\\"\\\\\\b\\f\\n\\r"', '"\\u0008\\u000c\\u000a\\u000d\\u0009\\u000b"', '"\\u2028\u2029"',
    '"\\udbff\\udfff"', '"\\ud800\\udc00x"', '"\\uFFFF"', '"a\\nb\u00e9\\u00e9\U0001f600"', '"\\\\u0041"',
    '"\u2028\u2029\u0085\ufeff\u200b"', '"\U0010ffff\U00010000"', '"\ufffd\uffff\ue000"', '"\x7f\u0080\u07ff\u0800"',
    '"\\uD7FF\\uE000"', '"\\u20AC\\u20ac"', '""', '" "', '"a b\\u0020c"', '"\\"\\"\\""', '"\\\\\\\\"',
    '"<script>&amp;</script>"', '"tab\there"'.replace("\t", "\\t"), '"\\u0041\\u0042\\u0043"',
    '"\u65e5\u672c\u8a9e"', '"\u0645\u0631\u062d\u0628\u0627"', '"e\u0301"', '"\U0001f468\u200d\U0001f469"',
]
STRING_TEXTS += ['"\\u%04X"' % b for b in range(0x20)] + ['"\\u%04x\\u%04x"' % (b, b) for b in (0x7F, 0x80)]
# fmt: on

# fmt: off
DOCUMENTS = [
    ' {"b": 1, "a": [true, null, "x"]} ', '{"a":1,"a":2}', '{"B":1,"a":2,"ab":3,"\u00e9":4}',
    '{"\u00e9":1,"ab":2,"a":3,"B":4}', "[]", "{}", " [ ] ", "\t{\r\n}\n", "null", "true", "false", '""',
    "[[],{},[{}]]", '{"a":{"c":1,"b":[{"z":0,"y":1}]}}', '{"a":1,"b":2,"a":3}', '{"b":1,"a":2,"b":3}',
    '{"a":{"x":1},"a":[2]}', '{"a":1,"\\u0061":2}', '{"a":1,"a":2,"a":3,"a":4}',
    '{"a":[{"k":1,"k":null}],"a":[{"k":2,"k":false}]}', '{"c":1,"b":2,"a":3}', '{"c":1,"a":2,"b":3,"a":4,"c":5}',
    '{"\U0001f600":1,"\uffff":2,"\u00e9":3,"z":4,"":5,"aa":6,"a":7}', '{"a\\u0000":1,"a":2,"a\\u0001":3}',
    '{"\ue000":1,"\U00010000":2,"\ud7ff":3}', '{"":{"":{"":[]}}}', '{"a":{"a":{"a":1,"a":2},"a":3}}',
    '{"Z":1,"a":2,"_":3,"0":4,"~":5," ":6}', '{"ab":1,"a":2,"abc":3,"b":4,"a\\u007f":5,"a\u0080":6}',
    '[1,1.0,-0,0,"1",true,null,{},[]]', '[{"b":2,"a":1},{"d":4,"c":3}]', "[[[[[[[[[[0]]]]]]]]]]",
    '{"x":[1,{"y":[2,{"z":[3]}]}]}', '{"\\"":1,"\\\\":2,"/":3,"\\/":4}', '{"\\n":1,"\\t":2,"\\u0000":0}',
    "  \n\t\r [ \n 1 , \t 2 \r ] \n ", '{ "a" : { } , "b" : [ ] }', '"\\u00e9\\/\\t\\u001F"',
    "[1e2, 15e-1, -0, 0, 1e16, 1e-5, 1e-6]", '{"b": [1.50, {"y": null}], "a": "\\u00e9"}',
    '{"n":18446744073709551615,"m":-9223372036854775808,"o":18446744073709551616}',
    "[" * 127 + "]" * 127, '{"a":' * 127 + "0" + "}" * 127, '[{"a":' * 63 + "[0]" + "}]" * 63,
    '{"a":[' * 63 + "{}" + "]}" * 63, "[" + ",".join(["[" * 126 + "]" * 126] * 3) + "]",
    " [ " * 127 + " null " + " ] " * 127, "[" * 127 + '"deep"' + "]" * 127,
]
# fmt: on

# fmt: off
ERROR_TEXTS = [
    "", "   ", " \n ", "x", "{} x", "nullx", "1.5.3", "0x10", "[1,]", "[1, ]", '{"a":1,}', "[1,\r\n2,\r\n]", "01",
    "-01", "[1\n", "[", "[1", "[1,", "[1 2]", "[1}", "[1,,2]", "[,1]", "NaN", "Infinity", "-Infinity", "\ufeff{}",
    "[1,\f2]", "[1\f,2]", ".5", "+1", "True", "\r\r]", "\n\n\n]", "{", '{"a"', '{"a" ', '{"a":', '{"a":1',
    '{"a":1,', '{"a" 1}', '{"a":1 "b":2}', '{"a":1]', '{"a":}', "{a:1}", '{"a":1,2:3}', "{,}", "nul", "nulx",
    "nil", "tru", "trUe", "fals", "falsy", '"abc', '"', '"\\', '"\\x"', '"\\U0041"', '"\\u12"', '"\\u12G4"',
    '"\\uD800"', '"\\uD800x"', '"\\uD800\\n"', '"\\uD800\\u0041"', '"\\uD800\\uD800"', '"\\uDBFF\\uE000"',
    '"\\uDC00"', '"\\uDFFF\\uDC00"', '"\\uD800', '"\\uD800\\', '"\\uD800\\u', '"\\uD800\\uDC0', '"\\uD800\\uDCxx"',
    '{"\\uDC00":1}', '"a\x01"', '"a\nb"', '"\u00e9\x1f"', '["a",\n "b\tc"]', '"\\n\x00"', "-", "-x", "[-]", "1.",
    "1.x", "[1.]", "1e", "1e+", "1e+x", "[1E-]", '{"a":\n  -1e309}', "[" * 128, "[\n" * 128, '{"a":' * 128,
    '[{"a":' * 64, "\u00e9", "[\u00e9]", "[0," * 86 + "[" * 42, '{"a":' * 127 + "{}" + "}" * 127,
    "[" * 128 + "]" * 128, "[" * 1000, "]", "}", ":", ",", '{"a":1}}', "[]]", "1 2", "// c\n1", "/* c */ 1",
    "'a'", "[1,2", '{"a":[1,2}', "\x00", " \x00", "[\x0b]", "\u00a0 1", "1\u3000", "truefalse", "[true false]",
    '"\\u0000\\uD800\\uDC00\\uDBFF"', '"\x7f\\a"', "-0.", "-.0", "1e+-2", "00", "0.0.0", "1E", "-e1", "[1e]",
    '{"a":1 , }', '{"a":1,"b"}', '{"a":1,"b":}', '{"a"::1}', '{:1}', "\r\n\r\n", "\t\t[\t\t1\t\t,]",
]
# fmt: on


def random_documents(count, seed):
    """Seeded JSON texts with random whitespace, member order, duplicates and every kind."""
    rng = random.Random(seed)
    names = [
        "a",
        "b",
        "ab",
        "B",
        "",
        "\u00e9",
        "\U0001f600",
        "\uffff",
        "a b",
        "\\n",
        "k\\u0000",
        "z",
        "aa",
        "0",
    ]
    scalars = [
        "null",
        "true",
        "false",
        "0",
        "-0",
        "1",
        "-1",
        "1.5",
        "1e3",
        "-2.5e-7",
        "18446744073709551615",
        "-9223372036854775808",
        "3.5e-308",
        "8e126",
        '"s"',
        '""',
        '"\\u00e9"',
        '"\\t\\n"',
        '"\U0001f600"',
    ]

    def ws():
        return rng.choice(["", "", "", " ", "\n", "\t", " \r\n "])

    def value(depth):
        roll = rng.random()
        if depth > 5 or roll < 0.45:
            return rng.choice(scalars)
        if roll < 0.7:
            items = [value(depth + 1) for _ in range(rng.randint(0, 4))]
            return "[" + ws() + ("," + ws()).join(items) + ws() + "]"
        members = [f'"{rng.choice(names)}"{ws()}:{ws()}{value(depth + 1)}' for _ in range(rng.randint(0, 5))]
        return "{" + ws() + ("," + ws()).join(members) + ws() + "}"

    return [ws() + value(0) + ws() for _ in range(count)]


def json_text_cases(cases, number_step=1, doc_seed=1, error_step=1):
    for i, t in enumerate(NUMBER_TEXTS[::number_step]):
        cases.add("number/%03d %s" % (i, t[:40]), t)
    for name, t in number_sweeps()[::number_step]:
        cases.add("sweep/" + name, t)
    for i, t in enumerate(STRING_TEXTS):
        cases.add("string/%02d" % i, t)
    for i, t in enumerate(DOCUMENTS):
        cases.add("document/%02d" % i, t)
    for i, t in enumerate(random_documents(60, doc_seed)):
        cases.add("random-document/%02d" % i, t)
    for i, t in enumerate(ERROR_TEXTS[::error_step]):
        cases.add("error/%03d %s" % (i, t[:24]), t)


def text_function_cases(function, **options):
    cases = Cases()
    json_text_cases(cases, **options)
    for name, value in TEXT_REFUSED:
        cases.add("argument/" + name, value)
    cases.add("argument/keyword", payload_json='{"k": [1, 2.0]}')
    binding_cases(cases, function, ['{"b":1,"a":2}'])
    return cases


def normalize_json():
    return text_function_cases("normalize_json")


def deterministic_hash():
    return text_function_cases("deterministic_hash", number_step=2, doc_seed=2, error_step=3)


def normalize_and_hash():
    return text_function_cases("normalize_and_hash", number_step=3, doc_seed=3, error_step=4)


# fmt: off
STRUCT_DOCUMENTS = [
    '{"b":1,"a":null}', '{"":true}', '{"a":1,"a":2}', '{"a":[]}', '{"a":{}}', '{"a":""}', '{"a":false}',
    '{"n":18446744073709551615}', '{"n":-9223372036854775808}', '{"n":9007199254740993}', '{"n":-0}',
    '{"n":-0.0}', '{"n":0}', '{"n":5e-324}', '{"n":1.7976931348623157e308}', '{"n":1e16}', '{"n":0.1}',
    '{"n":7.751518962134485e-29}', '{"n":79282456097322440e24}', '{"n":3.5e-308}', '{"n":8e126}',
    '{"s":"\\u0000\\u001f\\"\\\\\u00e9\U0001f600"}', '{"\U0001f600":1,"\uffff":2,"\u00e9":3,"z":4,"":5}',
    '{"l":[1,"x",null,true,false,[2,[3]],{"k":"v"}]}', '{"o":{"b":{"d":1,"c":2},"a":[]}}',
    '{"a":[{"k":1,"k":null}],"a":[{"k":2,"k":false}]}', '{"x":' + "[" * 126 + "]" * 126 + "}",
    '{"x":' * 127 + "1" + "}" * 127, '{"big":"' + "y" * 300 + '"}', '{"' + "k" * 200 + '":1}',
    '{"long":[' + ",".join(str(i) for i in range(200)) + "]}", '{"e":[[],{},""]}',
    "[1,2]", '"text"', "42", "true", "null", "{}", "-0", "[{}]", '""', "1.5",
]
# fmt: on


def struct_documents(seed):
    rng = random.Random(seed)
    out = []
    for text in random_documents(80, seed):
        t = text.strip()
        out.append(t if t.startswith("{") else '{"v":%s,"w":%s}' % (t, rng.choice(["1", "[]", '"w"'])))
    return out


def struct_cases(function, seed):
    cases = Cases()
    for i, t in enumerate(STRUCT_DOCUMENTS):
        cases.add("document/%02d" % i, t)
    for i, t in enumerate(struct_documents(seed)):
        cases.add("random-object/%02d" % i, t)
    for i, (name, t) in enumerate(number_sweeps()[::4]):
        cases.add("number/%03d %s" % (i, name), '{"n":%s}' % t)
    for i, t in enumerate(NUMBER_TEXTS[::3]):
        cases.add("number-text/%03d" % i, '{"n":[%s]}' % t)
    for size in (0, 1, 2, 3, 5, 8, 13, 21, 34, 55):
        cases.add("members/%d" % size, "{%s}" % ",".join('"m%03d":%d' % (size - i, i) for i in range(size)))
        cases.add("members-dup/%d" % size, "{%s}" % ",".join('"m%d":%d' % (i % 3, i) for i in range(size)))
    for i, t in enumerate(ERROR_TEXTS[::3]):
        cases.add("error/%03d" % i, t)
    for name, value in TEXT_REFUSED:
        cases.add("argument/" + name, value)
    binding_cases(cases, function, ['{"b":[1],"a":2.5}'])
    return cases


def object_to_protobuf_struct_bytes():
    return struct_cases("object_to_protobuf_struct_bytes", 11)


def object_to_protobuf_struct_field_count():
    return struct_cases("object_to_protobuf_struct_field_count", 12)


# ---- merge rules and payloads ------------------------------------------------------------------

# fmt: off
ACCEPTED_RULES = [
    "{}", '{"a": {}}', '{"a": []}', '{"a": {"encoding": null}}', '{"a": {"encoding": -1}}',
    '{"a": {"match_importance": 3}}', '{"a": {"match_importance": -0.0}}',
    '{"a": {"match_importance": 18446744073709551615}}', '{"a": {"other": [1, {"deep": true}], "encoding": 1}}',
    '{"a": {"x": 1, "x": {"encoding": "no"}, "decoded_type": 0}}', '{"a": [1, 1, 0.5]}', '{"a": [null, 7]}',
    '{"a": {"encoding": 1}, "a": {"decoded_type": 1}}', '{"\\u0061": {"enc\\u006fding": 5}}',
    '{"a": {"encoding": 2147483647, "decoded_type": -2147483648}}', ' \t\n{ "a" : [ 2 , 3 ] } \r\n',
    '{"A": {"encoding": 1}, "a ": [1], "b": [1]}', '{"a": [null, null, null]}', '{"a": [0, 0, 0]}',
    '{"a": {"match_importance": 1e308}}', '{"a": {"match_importance": 5e-324}}', '{"a": {"match_importance": -7}}',
    '{"a": {"match_importance": 7.751518962134485e-29}}', '{"a": [1, 1, 3.5e-308]}', '{"a": [1, 1, -0]}',
    '{"a": {"match_importance": null, "encoding": 1, "decoded_type": null}}', '{"b": [1, 1], "a": [2]}',
    '{"a":{"x":1e400,"encoding":1}}', '{"a":{"x":"\\udc00"}}', '{"a":{"x":"\\ud800","decoded_type":1}}',
    '{"a":{"x":[1e99999999999, -1e400]}}', '{"a":{"x":{"y":"\\ud83d\\u0041","z":-0e-99999999999}}}',
    '{"a":{"x":{"\\udfff":0.5e-999999999999999999999}}}', '{"a":{"x":' + "[" * 300 + "]" * 300 + "}}",
    '{"a":{"x":18446744073709551616,"y":1e309,"z":"\\uDBFF"}}', '{"a":{"encodingx":1.5,"Encoding":"s"}}',
]
# fmt: on

# fmt: off
FAILING_RULES = [
    "", "null", "[]", '  "x"', "-12", "1e2", "[1,", "{} x", "{", '{"a": {},}', '{"a" 1}', "{1: {}}", '{"a": 5}',
    '{"a": null}', '{"a": "s"}', '{\n "a": null\n}', '{"a": true}', '{"a": 1.5}', '{"a": {"encoding": 1.0}}',
    '{"a": {"encoding": 1e0}}', '{"a": {"encoding": "1"}}', '{"a": {"encoding": [1]}}', '{"a": {"decoded_type": {}}}',
    '{"a": {"encoding": 2147483648}}', '{"a": {"encoding": -2147483649}}', '{"a": {"encoding": 18446744073709551616}}',
    '{"a": {"encoding": 18446744073709551615}}', '{"a": {"encoding": -9223372036854775808}}', '{"a": [1, 2.5]}',
    '{"a": {"decoded_type": true}}', '{"a": {"decoded_type": -0}}', '{"a": {"match_importance": "x"}}',
    '{"a": {"match_importance": false}}', '{"a": {"match_importance": [0.5]}}', '{"a": [1, 1, "x"]}',
    '{"a": {"match_importance": {}}}', '{"a": {"encoding": "q\\"b\\\\s\\u0001\\t\\n\\r\\u0000\\u007f\\u0085\\u00e9/"}}',
    '{"a": {"encoding": "\\ud83d\\ude00\U0001f600"}}', '{"a": {"encoding": 1, "encoding": 2}}',
    '{"a": {"encoding": null, "encoding": 1}}', '{"a": {"decoded_type": 0, "decoded_type"  \n :1}}',
    '{"a": [], "b": {"match_importance": 1, "match_importance"', '{"a": [1, 1, 0.5, 0]}', '{"a": [1, 1, 0.5,]}',
    '{"a": [1, 1, 0.5 x]}', '{"a": [1, 1, 0.5,', '{"a": [1,]}', '{"a": [1 2]}', '{"a": [1', '{"a": {"encoding": 1,}}',
    '{"a": {"encoding": 01}}', '{"a": {"encoding": nul}}', '{"a": {"encoding": 1e400}}', '{"a": {"x": [1,]}}',
    '{"a": {"x": [1', '{"a": {"encoding": "x", "encoding": 1}}', '{"a": 5, "b": [', '{"b": {"encoding": 1, "encoding": 1.5}}',
    '{"a":{"x":"\\u12"}}', '{"a":{"x":"\\x"}}', '{"a":{"x":"\x01"}}', '{"a":{"x":1e}}', '{"a":{"x":01}}',
    '{"a":{"x":-}}', '{"a":{"x":1.}}', '{"a":{"x":-', '{"a":{"x":"\\ud800', '{"a":{"x":1e400,"encoding":1,"encoding":2}}',
    '{"a":{"encoding":1e400}}', '{"a":{"\\ud800":1}}', '{"a":[1,1,0.5 x]}', '{"a":[1,1,0.5,', '{"a":[1,1,0.5,]}',
    '{"a":[1,1,0.5,0]}', '{"a":[1 x]}', '{"a":{"x":' + "[" * 300 + "1}}", '{"\\udc00": []}', '{"a": [[1]]}',
    '{"a": [{}]}', '{"a": [1, {}]}', '{"a": [1, 1, []]}', '{"a": [1, 1, null, null]}', '{"a": {"decoded_type": -1e0}}',
    '{"a": {"encoding": 2147483647.0}}', '{"a": {"match_importance": 1e309}}', '{"a": [], "a": 1}',
    '{"a": {"decoded_type": 1}, "b": {"decoded_type": 1, "decoded_type": 1}}', '{"a":[1,1,1]}\n\n x',
    '{"a":{"encoding":1}}\u00a0', "\ufeff{}", '{"a": [-0]}', '{"a": [1, -0.0]}', '{"a":{"match_importance":-}}', '{"a": [1, 1, 1e400]}',
]
# fmt: on


def b64(data):
    return base64.b64encode(data).decode()


# fmt: off
BASE64_MEMBERS = [
    ("json-object", b64(b'{"x":1}')), ("json-array", b64(b" [1, 2.50, \"y\"] ")), ("json-string", b64(b'"str"')),
    ("json-number", b64(b"12")), ("json-double", b64(b"1e2")), ("json-null", b64(b"null")),
    ("json-deep-127", b64(b"[" * 127 + b"]" * 127)), ("json-deep-128", b64(b"[" * 128 + b"]" * 128)),
    ("json-trailing", b64(b'{"a":1}x')), ("json-out-of-range", b64(b"1e400")), ("json-lone-surrogate", b64(b'"\\ud800"')),
    ("json-empty", b64(b"")), ("json-whitespace", b64(b" \t\r\n")), ("text", b64(b"hello")),
    ("text-nonascii", b64("\u00e9\U0001f600".encode())), ("bom-json", b64(b"\xef\xbb\xbf{}")),
    ("utf8-ff", b64(b"\xff")), ("utf8-lead-only", b64(b"\xc3")), ("utf8-bad-cont", b64(b"\xc3\x28")),
    ("utf8-truncated-3", b64(b"\xe2\x82")), ("utf8-surrogate", b64(b"\xed\xa0\x80")),
    ("utf8-above-max", b64(b"\xf4\x90\x80\x80")), ("utf8-overlong", b64(b"\xc0\x80")),
    ("utf8-truncated-4", b64(b"\xf0\x9f\x98")), ("utf8-stray-cont", b64(b"a\x80b")), ("utf8-fe-ff", "//4="),
    ("utf8-f5", b64(b"\xf5\x80\x80\x80")), ("utf8-e0-overlong", b64(b"\xe0\x80\xaf")),
    ("utf8-json-with-bad", b64(b'"\xff"')), ("utf8-nul", b64(b"\x00")), ("utf8-mixed", b64(b"\xe2\x28\xa1x\xf0\x90\x28\xbc")),
    ("pad-missing-1", "YQ"), ("pad-missing-2", "YWI"), ("pad-short", "YQ="), ("pad-extra", "YQ==="),
    ("pad-only", "===="), ("pad-one", "="), ("pad-inside", "YQ==YQ=="), ("unused-bits-1", "YR=="),
    ("unused-bits-2", "YWJ="), ("leading-space", " YQ=="), ("trailing-newline", "YQ==\n"), ("inner-space", "YW Jj"),
    ("url-safe", "-_8="), ("length-5", "YWJjZ"), ("length-1", "Y"), ("ok-3", "YWJj"), ("ok-2", "YWI="),
    ("not-base64-json", "[1,2]"), ("digits", "1234"), ("plus-slash", "+/+/"), ("empty", ""),
    ("nonascii", "\u00e9\u00e9\u00e9\u00e9"), ("long", b64(b'{"k":"' + b"v" * 600 + b'"}')),
    ("json-nested-b64", b64(b'"' + b64(b'{"x":1}').encode() + b'"')), ("json-object-dup", b64(b'{"b":1,"a":2,"b":3}')),
]
# fmt: on


def payload_cases():
    function = "process_export_payload"
    cases = Cases()
    for i, rules in enumerate(ACCEPTED_RULES):
        cases.add("rules-accepted/%02d" % i, '{"a":0}', rules)
        cases.add("rules-accepted-string/%02d" % i, '{"a":"x"}', rules)
    for i, rules in enumerate(FAILING_RULES):
        cases.add("rules-failing/%03d" % i, '{"a":"x"}', rules)
    for name, value in BASE64_MEMBERS:
        payload = '{"a":"%s","b":1}' % value.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
        cases.add("base64/%s/both" % name, payload, '{"a":[1,1,2]}')
        cases.add("base64/%s/encoding" % name, payload, '{"a":{"encoding":1}}')
    for name, value in BASE64_MEMBERS[:15]:
        payload = '{"a":"%s"}' % value
        cases.add("base64/%s/json-only" % name, payload, '{"a":[null,1]}')
    json_members = [
        '"[1,2]"',
        '"{\\"b\\":1,\\"a\\":[true]}"',
        '" 12 "',
        '"1e400"',
        '"\\"\\\\ud800\\""',
        '"nul"',
        '""',
        '"' + "[" * 127 + "]" * 127 + '"',
        '"' + "[" * 128 + "]" * 128 + '"',
        '"{\\"a\\":1}{}"',
        '"-0"',
        '"7.751518962134485e-29"',
        '"\\u00e9"',
        '"[\\"\\u00e9\\"]"',
        '"18446744073709551616"',
        '"{\\"x\\":{\\"y\\":[{}]}}"',
    ]
    for i, member in enumerate(json_members):
        cases.add("decoded-type/%02d" % i, '{"a":%s}' % member, '{"a":{"decoded_type":1}}')
    rule_values = [
        "[0]",
        "[2]",
        "[-1]",
        "[null,0]",
        "[null,2]",
        "[2,2]",
        "[1,0]",
        "[0,1]",
        "[1,1,0]",
        "[5,5,-1.5]",
    ]
    for i, rule in enumerate(rule_values):
        cases.add("rule-values/%02d" % i, '{"a":"W10=","b":"[1]"}', '{"a":%s,"b":%s}' % (rule, rule))
    for i, value in enumerate(
        ["1", "null", "true", '[1,"W10="]', '{"k":"W10="}', "-0.0", "18446744073709551615"]
    ):
        cases.add("non-string-member/%d" % i, '{"a":%s}' % value, '{"a":[1,1,1]}')
    names = [
        ('{"a.b":"W10=","a":{"b":"W10="}}', '{"a.b":[1,1]}'),
        ('{"":"W10="}', '{"":[1,1]}'),
        ('{"\u00e9":"W10="}', '{"\\u00e9":[1,1]}'),
        ('{"a":"W10="}', '{"b":[1,1]}'),
        ('{"a":{"a":"W10="}}', '{"a":[1,1]}'),
        ('{"a":"W10=","a":"e30="}', '{"a":[1,1]}'),
        ('{"b":"W10=","a":"e30="}', '{"a":[1,1],"b":[null,1,3],"c":[1,1]}'),
        ('{"a ":"W10="}', '{"a":[1,1]}'),
        ('{"A":"W10="}', '{"a":[1,1]}'),
        ('{"\U0001f600":"W10="}', '{"\\ud83d\\ude00":[1,1,1]}'),
    ]
    for i, (payload, rules) in enumerate(names):
        cases.add("rule-names/%02d" % i, payload, rules)
    for i, payload in enumerate(["1", '["W10="]', '"W10="', "null", "true", "[]", "[{}]", "-0"]):
        cases.add("not-an-object/%d" % i, payload, '{"a":[1,1]}')
    schema_payloads = [
        "{}",
        '{"a":[]}',
        '{"a":[1,"x"]}',
        '{"a":["x",1]}',
        '{"a":[[],[1]]}',
        '{"a":[{"b":1},{"c":2}]}',
        '{"a":{"b":{"c":{"d":null}}}}',
        '{"a":null,"b":true,"c":false,"d":1.5,"e":-1,"f":"s"}',
        '[[["x"]]]',
        '[{"k":[null]}]',
        '{"a":[[[[]]]]}',
        '"s"',
        "null",
        "true",
        "1.0",
        '{"a":' * 126 + "[]" + "}" * 126,
        '{"a":' * 127 + "[]" + "}" * 127,
    ]
    for i, payload in enumerate(schema_payloads):
        cases.add("schema/%02d" % i, payload, None)
        cases.add("schema-with-rule/%02d" % i, payload, '{"a":[3,4,0.25]}')
    deep = '{"a":"%s"}' % ("[" * 127 + "]" * 127)
    cases.add("merged-depth-128", deep, '{"a":[null,1]}')
    cases.add(
        "merged-depth-128-object", '{"a":"%s"}' % ('{\\"k\\":' * 127 + "1" + "}" * 127), '{"a":[null,1]}'
    )
    for i, text in enumerate(random_documents(30, 21)):
        cases.add("random-payload/%02d" % i, text, '{"a":[1,1],"b":[null,1,0.5]}')
    for i, text in enumerate(ERROR_TEXTS[::4]):
        cases.add("payload-error/%02d" % i, text, "null")
    cases.add("payload-error-before-rules", "[1,]", "null")
    cases.add("rules-none-vs-empty/none", '{"a":"W10="}', None)
    cases.add("rules-none-vs-empty/empty", '{"a":"W10="}', "{}")
    for name, value in TEXT_REFUSED:
        cases.add("argument-payload/" + name, value, None)
        cases.add("argument-rules/" + name, "{}", value)
    cases.add("argument-both-refused", b"{}", 5)
    binding_cases(cases, function, ['{"a":"W10="}', '{"a":[1,1]}'])
    return cases


# ---- Python objects ----------------------------------------------------------------------------

# fmt: off
OBJECT_VALUES = [
    ("none", None), ("true", True), ("false", False), ("zero", 0), ("one", 1), ("minus-one", -1),
    ("int64-max", 2**63 - 1), ("int64-min", -(2**63)), ("int64-max+1", 2**63), ("int64-min-1", -(2**63) - 1),
    ("uint64-max", 2**64 - 1), ("2^64", 2**64), ("2^53+1", 2**53 + 1), ("10^308", 10**308),
    ("double-max-int", int(1.7976931348623157e308)), ("10^309", 10**309), ("10^400", 10**400), ("-10^400", -(10**400)),
    ("float-one", 1.0), ("float-zero", 0.0), ("float-minus-zero", -0.0), ("nan", float("nan")), ("inf", float("inf")),
    ("minus-inf", float("-inf")), ("subnormal-min", 5e-324), ("subnormal", 2.225073858507201e-308),
    ("normal-min", 2.2250738585072014e-308), ("double-max", 1.7976931348623157e308), ("tenth", 0.1),
    ("moves", 7.751518962134485e-29), ("moves-2", 4.379870024434759e127), ("3.5e-308", 3.5e-308), ("8e126", 8e126),
    ("1e16", 1e16), ("1e-5", 1e-5), ("1e-7", 1e-7), ("2^63-float", 9.223372036854776e18),
    ("str", "x"), ("str-empty", ""), ("str-escapes", '"\\\x00\x1f\x7f\n\t'), ("str-nonascii", "\u00e9\u2028\U0001f600"),
    ("str-lone-surrogate", "\ud800"), ("str-low-surrogate", "a\udc00b"), ("str-surrogate-pair-chars", "\ud83d\ude00"),
    ("bytes", b"x"), ("bytes-empty", b""), ("bytearray", T({"$bytearray": "78"})), ("memoryview", T({"$memoryview": "78"})),
    ("set", T({"$set": [1]})), ("frozenset", T({"$frozenset": []})), ("complex", T({"$complex": ["1.0", "0.0"]})),
    ("object", T({"$object": None})), ("decimal", T({"$decimal": "1.5"})), ("decimal-nan", T({"$decimal": "NaN"})),
    ("decimal-huge", T({"$decimal": "1e400"})), ("decimal-tiny", T({"$decimal": "1e-400"})),
    ("fraction", T({"$fraction": "1/3"})), ("fraction-int", T({"$fraction": "4/2"})),
    ("int-subclass", sub("int", 5)), ("int-subclass-big", sub("int", 2**70)), ("float-subclass", sub("float", 2.5)),
    ("float-subclass-nan", sub("float", float("nan"))), ("str-subclass", sub("str", "s")),
    ("bytes-subclass", sub("bytes", b"b")), ("list-subclass", sub("list", [1, (2,)])),
    ("tuple-subclass", sub("tuple", (1, [2]))), ("dict-subclass", sub("dict", {"b": 1, "a": 2})),
    ("hook-index", hook(index=7)), ("hook-index-big", hook(index=2**64)), ("hook-index-huge", hook(index=10**400)),
    ("hook-index-raises", hook(index="raise")), ("hook-float", hook(float=2.5)),
    ("hook-float-nan", hook(float=float("nan"))), ("hook-float-raises", hook(float="raise")),
    ("hook-index-raises-float", hook(index="raise", float=0.25)),
    ("hook-index-and-float", hook(index=3, float=0.5)), ("hook-index-returns-str", hook(index="s")),
    ("hook-float-returns-int", hook(float=1)), ("hook-interrupt", hook(index="interrupt")),
    ("hook-bool", hook(bool=True)), ("fake-numpy-bool", hook(module="numpy", name="bool_", bool=True)),
    ("fake-numpy-bool-false", hook(module="numpy", name="bool", bool=False, index="raise")),
    ("fake-numpy-bool-int", hook(module="numpy", name="bool_", bool=1)),
    ("fake-numpy-int", hook(module="numpy", name="int_", bool=True)),
    ("fake-numpy-other-module", hook(module="fakenumpy", name="bool_", bool=True)),
    ("numpy-true", np("bool_", "true")), ("numpy-false", np("bool_", "false")), ("numpy-int64", np("int64", "-5")),
    ("numpy-float64", np("float64", "0.1")), ("numpy-float32", np("float32", "0.1")),
    ("numpy-float64-nan", np("float64", "nan")), ("numpy-int64-max", np("int64", str(2**63 - 1))),
    ("list", [1, "x", None]), ("list-empty", []), ("tuple", (1, (2, 3))), ("tuple-empty", ()),
    ("dict", {"b": 1, "a": [1, 2]}), ("dict-empty", {}), ("dict-order", {"\U0001f600": 1, "\uffff": 2, "": 3, "a": 4}),
    ("dict-int-key", {1: "x"}), ("dict-none-key", {None: 1}), ("dict-tuple-key", {(1,): 1}), ("dict-bytes-key", {b"k": 1}),
    ("dict-float-key", {1.5: 1}), ("dict-bool-key", {True: 1}), ("dict-surrogate-key", {"\ud800": 1}),
    ("dict-str-subclass-key", T({"$items": [[{"$sub": ["str", "k"]}, 1]]})),
    ("dict-key-after-bad-value", {"a": {1, 2}, 1: 2}), ("dict-bad-value-after-key", {1: {1, 2}}),
    ("dict-nested-bad-key", {"a": [{"b": {2: 1}}]}), ("list-bad-then-surrogate", [b"", "\ud800"]),
    ("nest-127-list", nest(127, "list")), ("nest-128-list", nest(128, "list")), ("nest-512-list", nest(512, "list")),
    ("nest-513-list", nest(513, "list")), ("nest-512-tuple", nest(512, "tuple")), ("nest-513-tuple", nest(513, "tuple")),
    ("nest-127-dict", nest(127, "dict")), ("nest-128-dict", nest(128, "dict")), ("nest-513-dict", nest(513, "dict")),
    ("nest-600-bad-inner", nest(600, "list", b"x")), ("nest-500-bad-inner", nest(500, "list", b"x")),
    ("loop-list", T({"$loop": "list"})), ("loop-dict", T({"$loop": "dict"})), ("loop-tuple", T({"$loop": "tuple"})),
    ("toggling-dict", T({"$toggling": None})),
]
# fmt: on


def object_payload_cases():
    function = "process_export_payload_pyobject"
    cases = Cases()
    for name, value in OBJECT_VALUES:
        cases.add("value/" + name, value, None)
        cases.add("member/" + name, {"v": value, "b": [value]}, None)
    for i, (name, value) in enumerate(BASE64_MEMBERS):
        cases.add(
            "base64/%02d %s" % (i, name), {"a": value, "b": 1}, {"a": {"encoding": 1, "decoded_type": 1}}
        )
    for i, (name, t) in enumerate(number_sweeps()[::3]):
        cases.add("float/%03d %s" % (i, name), {"n": float(t)}, None)
    rules = [
        ("none", None),
        ("empty-dict", {}),
        ("dict", {"a": {"encoding": 1, "decoded_type": 1, "match_importance": 2}}),
        ("tuple-form", {"a": (1, 1)}),
        ("list-form", {"a": [1, 1, 0.5]}),
        ("short-tuple", {"a": (1,)}),
        ("empty-tuple", {"a": ()}),
        ("none-rule", {"a": None}),
        ("encoding-float", {"a": {"encoding": 1.0}}),
        ("encoding-true", {"a": {"encoding": True}}),
        ("encoding-str", {"a": {"encoding": "1"}}),
        ("encoding-big", {"a": {"encoding": 2**31}}),
        ("encoding-huge", {"a": {"encoding": 2**64}}),
        ("encoding-min", {"a": {"decoded_type": -(2**31)}}),
        ("importance-nan", {"a": {"match_importance": float("nan")}}),
        ("importance-inf", {"a": (1, 1, float("inf"))}),
        ("importance-int", {"a": {"match_importance": 3}}),
        ("importance-minus-zero", {"a": {"match_importance": -0.0}}),
        ("importance-moves", {"a": {"match_importance": 7.751518962134485e-29}}),
        ("importance-true", {"a": {"match_importance": True}}),
        ("importance-hook", {"a": {"match_importance": hook(float=0.125)}}),
        ("encoding-hook", {"a": {"encoding": hook(index=1)}}),
        ("numpy-encoding", {"a": {"encoding": np("int64", "1")}}),
        ("numpy-importance", {"a": {"match_importance": np("float32", "0.1")}}),
        ("other-members", {"a": {"x": 10**400, "y": float("nan"), "encoding": 1}}),
        ("too-long", {"a": (1, 1, 1, 1)}),
        ("nested-list", {"a": [[1]]}),
        ("rules-list", [1]),
        ("rules-empty-list", []),
        ("rules-str", "x"),
        ("rules-int", 5),
        ("rules-tuple", ({"a": 1},)),
        ("rules-true", True),
        ("rule-int", {"a": 5}),
        ("rule-str", {"a": "s"}),
        ("rules-unsupported", {"a": {1, 2}}),
        ("rules-int-key", {1: {}}),
        ("rules-surrogate-key", {"\ud800": {}}),
        ("rules-surrogate-value", {"a": {"x": "\ud800"}}),
        ("rules-deep", {"a": {"x": T({"$nest": [513, "list", 0]})}}),
        ("rules-dict-subclass", sub("dict", {"a": (1,)})),
        ("rules-names-order", {"b": (1,), "a": (None, 1), "\u00e9": (2, 2)}),
        ("rules-escaped-name", {'a"b': (1, 1)}),
        ("rules-bad-text", {"a": {"encoding": 'q"\\\x01'}}),
    ]
    payload = {"a": "W10=", "b": "e30=", "\u00e9": "MQ==", 'a"b': "WzFd"}
    for name, rule in rules:
        cases.add("rules/" + name, payload, rule)
    cases.add("payload-error-wins", {"a": {1}}, {"a": 5})
    cases.add("payload-error-wins-key", {1: 1}, [])
    cases.add("rules-not-converted-when-payload-fails", b"", {"a": {1}})
    for i, text in enumerate(random_documents(20, 31)):
        cases.add("random-payload/%02d" % i, json.loads(text), {"a": (1, 1), "b": (None, 1, 0.5)})
    binding_cases(cases, function, [{"a": "W10="}, {"a": (1, 1)}])
    return cases


# ---- spans -------------------------------------------------------------------------------------

# fmt: off
SPAN_BASE = {
    "trace_id": "t", "span_id": "s", "parent_span_id": "", "name": "n", "package_name": "",
    "instrumentation_name": "", "submodule_name": "", "package_type": 0, "environment": None, "kind": 0,
    "input_schema": None, "output_schema": None, "input_schema_hash": "", "output_schema_hash": "",
    "input_value_hash": "", "output_value_hash": "", "status_code": 0, "status_message": "",
    "is_pre_app_start": False, "is_root_span": False, "timestamp_seconds": 0, "timestamp_nanos": 0,
    "duration_seconds": 0, "duration_nanos": 0, "metadata": None, "input_value": None, "output_value": None,
    "input_value_proto_struct_bytes": None, "output_value_proto_struct_bytes": None,
}
# fmt: on
TEXT_FIELDS = [
    "trace_id",
    "span_id",
    "parent_span_id",
    "name",
    "package_name",
    "instrumentation_name",
    "submodule_name",
    "input_schema_hash",
    "output_schema_hash",
    "input_value_hash",
    "output_value_hash",
    "status_message",
]
ENUMS = {"package_type": 11, "kind": 5, "status_code": 2}


def struct_entry(key, value):
    return ld(b"\x0a", ld(b"\x0a", key) + ld(b"\x12", value))


TRUE, NULL, TWO = b"\x20\x01", b"\x08\x00", b"\x11" + bytes(6) + b"\x00\x40"

# fmt: off
SCHEMAS = [
    ("none", None), ("list", [{"type": 1}]), ("str", "x"), ("empty", {}), ("type-1", {"type": 1}),
    ("type-float", {"type": 2.0}), ("type-bool", {"type": True}), ("type-str", {"type": "1"}),
    ("type-negative", {"type": -1}), ("type-2^32+5", {"type": 2**32 + 5}), ("type-2^63", {"type": 2**63}),
    ("type-int64-min", {"type": -(2**63)}), ("type-2^31", {"type": 2**31}), ("type-hook", {"type": hook(index=6)}),
    ("type-int-subclass", {"type": sub("int", 7)}), ("type-none", {"type": None}),
    ("properties", {"type": 6, "properties": {"b": {"type": 1}, "a": {}}}),
    ("properties-list", {"properties": [{"type": 1}]}), ("properties-non-dict-member", {"properties": {"a": 5}}),
    ("properties-order", {"properties": {"\U0001f600": {}, "\uffff": {"type": 2}, "": {"type": 3}, "a": {"type": 4}}}),
    ("properties-deep", {"properties": {"a": {"properties": {"b": {"properties": {"c": {"type": 4}}}}}}}),
    ("items-none", {"items": None, "type": 2.0}), ("items-dict", {"type": 7, "items": {"type": 1}}),
    ("items-empty", {"items": {}}), ("items-list", {"items": [1]}), ("items-nested", {"items": {"items": {"items": None}}}),
    ("encoding-0", {"type": 2, "encoding": 0, "match_importance": 1}), ("encoding-negative", {"encoding": -1}),
    ("encoding-2^32+1", {"encoding": 2**32 + 1}), ("encoding-2^63", {"encoding": 2**63}),
    ("encoding-float", {"encoding": 1.0}), ("encoding-bool", {"encoding": True}), ("decoded-type", {"decoded_type": 1}),
    ("decoded-type-max", {"decoded_type": 2**31 - 1}), ("decoded-type-2^31", {"decoded_type": 2**31}),
    ("importance-float", {"match_importance": 0.5}), ("importance-int", {"match_importance": 2}),
    ("importance-nan", {"match_importance": float("nan")}), ("importance-inf", {"match_importance": float("inf")}),
    ("importance-minus-zero", {"match_importance": -0.0}), ("importance-bool", {"match_importance": True}),
    ("importance-str", {"match_importance": "1"}), ("importance-big-int", {"match_importance": 2**64}),
    ("importance-none", {"match_importance": None}), ("importance-hook", {"match_importance": hook(float=0.75)}),
    ("unknown-members", {"type": 1, "x": [1, 2], "Type": 3}), ("dict-subclass", sub("dict", {"type": 3})),
    ("full", {"type": 6, "properties": {"a": {"type": 1, "encoding": 1, "decoded_type": 1, "match_importance": 2.0}},
              "items": {"type": 2}, "encoding": 5, "decoded_type": 6, "match_importance": -1.5}),
    ("unsupported-member", {"type": {1, 2}}), ("unsupported-unknown", {"x": b"x"}),
    ("surrogate-key", {"properties": {"\ud800": {}}}), ("int-key", {"properties": {1: {}}}),
    ("too-deep", nest(600, "dict")), ("items-chain-40", nest(40, "list", {"type": 1.0})),
]
# fmt: on

# fmt: off
METADATA = [
    ("none", None), ("list", [1]), ("str", "s"), ("int", 1), ("empty", {}), ("one", {"k": "v"}),
    ("all-kinds", {"n": None, "t": True, "f": False, "i": -1, "d": 2.5, "s": "\u00e9", "l": [1, [2]], "o": {"b": 1, "a": 2}}),
    ("big-ints", {"a": 2**63 - 1, "b": 2**63, "c": 2**64, "d": -(2**63)}), ("floats", {"z": -0.0, "n": float("nan"), "i": float("-inf")}),
    ("order", {"\U0001f600": 1, "\uffff": 2, "\u00e9": 3, "z": 4, "": 5}), ("tuple-value", {"t": (1, 2)}),
    ("unsupported", {"x": {1}}), ("int-key", {1: 1}), ("surrogate-key", {"\ud800": 1}), ("surrogate-value", {"s": "\ud800"}),
    ("deep-512", nest(511, "list", {})), ("too-deep", nest(513, "dict")), ("loop", T({"$loop": "dict"})),
    ("numpy-bool", {"b": np("bool_", "true")}), ("hook-index", {"h": hook(index=9)}), ("long-string", {"s": "x" * 300}),
    ("many", {"k%03d" % i: i for i in range(40)}),
]
# fmt: on


def span_args(**changes):
    return dict(SPAN_BASE, **changes)


def span_cases():
    function = "build_span_proto_bytes_pyobject"
    cases = Cases()
    # Keywords here and in full/keywords; the other cases pass the 29 arguments by position.
    cases.add("base", **span_args())
    cases.add("base-positional", *span_args().values())
    for field in TEXT_FIELDS:
        for name, value in [
            ("empty", ""),
            ("ascii", "abc"),
            ("nonascii", "\u00e9\U0001f600\u2028"),
            ("long", "x" * 200),
            ("nul", "\x00"),
        ]:
            cases.add(f"text/{field}/{name}", *span_args(**{field: value}).values())
        for name, value in [
            ("none", None),
            ("bytes", b"x"),
            ("surrogate", "\ud800"),
            ("subclass", sub("str", "s")),
        ]:
            cases.add(f"text/{field}/{name}", *span_args(**{field: value}).values())
    for field, top in ENUMS.items():
        for value in sorted({-1, 0, 1, top - 1, top, top + 1, 99, 2**31 - 1, -(2**31)}):
            cases.add(f"enum/{field}/{value}", *span_args(**{field: value}).values())
        for name, value in [
            ("2^31", 2**31),
            ("-2^31-1", -(2**31) - 1),
            ("true", True),
            ("false", False),
            ("float", 1.0),
            ("str", "1"),
            ("none", None),
            ("hook", hook(index=1)),
            ("hook-raises", hook(index="raise")),
            ("hook-returns-str", hook(index="s")),
            ("subclass", sub("int", 2)),
            ("numpy-int64", np("int64", "1")),
            ("decimal", T({"$decimal": "1"})),
        ]:
            cases.add(f"enum/{field}/{name}", *span_args(**{field: value}).values())
    for field in ("timestamp_seconds", "duration_seconds"):
        for value in [1, -1, 1700000000, 2**31, 2**63 - 1, -(2**63), 2**63, -(2**63) - 1, 127, 128, 300]:
            cases.add(f"int64/{field}/{value}", *span_args(**{field: value}).values())
    for field in ("timestamp_nanos", "duration_nanos"):
        for value in [1, -1, 999_999_999, 1_000_000_000, 2**31 - 1, -(2**31), 2**31, -(2**31) - 1]:
            cases.add(f"int32/{field}/{value}", *span_args(**{field: value}).values())
    cases.add(
        "timestamp-and-duration",
        *span_args(timestamp_seconds=1, timestamp_nanos=-1, duration_seconds=-5, duration_nanos=250).values(),
    )
    for field in ("is_pre_app_start", "is_root_span"):
        for name, value in [
            ("true", True),
            ("false", False),
            ("numpy-true", np("bool_", "true")),
            ("numpy-false", np("bool_", "false")),
            ("fake-numpy", hook(module="numpy", name="bool_", bool=True)),
            ("fake-numpy-bool", hook(module="numpy", name="bool", bool=False)),
            ("fake-numpy-int", hook(module="numpy", name="int8", bool=True)),
            ("fake-other-module", hook(module="fakenumpy", name="bool_", bool=True)),
            ("fake-numpy-returns-int", hook(module="numpy", name="bool_", bool=1)),
            ("one", 1),
            ("zero", 0),
            ("none", None),
            ("str", "true"),
            ("float", 1.0),
        ]:
            cases.add(f"bool/{field}/{name}", *span_args(**{field: value}).values())
    for name, value in [
        ("empty", ""),
        ("prod", "prod"),
        ("nonascii", "\u00e9"),
        ("bytes", b"p"),
        ("int", 1),
        ("surrogate", "\udfff"),
        ("subclass", sub("str", "e")),
    ]:
        cases.add(f"environment/{name}", *span_args(environment=value).values())
    for name, schema in SCHEMAS:
        cases.add(f"input-schema/{name}", *span_args(input_schema=schema).values())
    for name, schema in SCHEMAS[::3]:
        cases.add(f"output-schema/{name}", *span_args(output_schema=schema).values())
    for name, value in METADATA:
        cases.add(f"metadata/{name}", *span_args(metadata=value).values())
    for name, value in METADATA[::2] + [("dict-order", {"b": [1, 2.5], "a": {"y": None, "x": "s"}})]:
        cases.add(f"input-value/{name}", *span_args(input_value=value).values())
        cases.add(f"output-value/{name}", *span_args(output_value=value).values())
    struct_bytes = [
        ("empty", b""),
        ("one-entry", struct_entry(b"a", NULL)),
        ("unsorted", struct_entry(b"b", TRUE) + struct_entry(b"a", NULL)),
        ("repeated-key", struct_entry(b"b", TRUE) + struct_entry(b"a", NULL) + struct_entry(b"b", NULL)),
        ("unknown-field", b"\x10\x01" + struct_entry(b"a", TWO)),
        ("empty-key", ld(b"\x0a", ld(b"\x12", TRUE))),
        ("entry-no-value", ld(b"\x0a", ld(b"\x0a", b"k"))),
        ("value-no-kind", struct_entry(b"k", b"")),
        ("nested", struct_entry(b"s", ld(b"\x2a", struct_entry(b"y", TRUE) + struct_entry(b"x", TWO)))),
        ("list", struct_entry(b"l", ld(b"\x32", ld(b"\x0a", TRUE) + ld(b"\x0a", b"")))),
        ("truncated", b"\x0a"),
        ("bad-utf8-key", ld(b"\x0a", ld(b"\x0a", b"\xff"))),
        ("bad-wire-type", b"\x08\x00"),
        ("tag-zero", b"\x00"),
        ("length-overrun", b"\x0a\x05\x0a\x01"),
        ("bad-value", struct_entry(b"k", b"\x11\x00")),
        ("bytes-subclass", sub("bytes", struct_entry(b"a", NULL))),
    ]
    for name, value in struct_bytes:
        cases.add(
            f"input-bytes/{name}",
            *span_args(input_value={"ignored": 1}, input_value_proto_struct_bytes=value).values(),
        )
        cases.add(f"output-bytes/{name}", *span_args(output_value_proto_struct_bytes=value).values())
    for name, value in [
        ("bytearray", T({"$bytearray": ""})),
        ("memoryview", T({"$memoryview": ""})),
        ("str", ""),
        ("list", []),
        ("int", 0),
    ]:
        cases.add(f"input-bytes-refused/{name}", *span_args(input_value_proto_struct_bytes=value).values())
        cases.add(f"output-bytes-refused/{name}", *span_args(output_value_proto_struct_bytes=value).values())
    # The first failure wins, in the documented order.
    order = [
        (
            "conversion-before-bytes",
            dict(input_value={1}, input_value_proto_struct_bytes=T({"$bytearray": ""})),
        ),
        ("schema-before-metadata", dict(input_schema={"type": {1}}, metadata={1: 1})),
        ("output-schema-before-metadata", dict(output_schema={"x": b""}, metadata={"\ud800": 1})),
        ("metadata-before-values", dict(metadata={1: 1}, input_value={"\ud800": 1})),
        ("input-before-output", dict(input_value={1: 1}, output_value={"x": {1}})),
        ("value-converted-although-bytes", dict(input_value={"x": {1}}, input_value_proto_struct_bytes=b"")),
        ("bytes-before-enum", dict(output_value_proto_struct_bytes="x", kind=99)),
        ("package-type-before-kind", dict(package_type=12, kind=6, status_code=3)),
        ("kind-before-status", dict(kind=6, status_code=3)),
        ("enum-before-decode", dict(status_code=3, input_value_proto_struct_bytes=b"\x0a")),
        (
            "input-decode-before-output",
            dict(input_value_proto_struct_bytes=b"\x0a", output_value_proto_struct_bytes=b"\x00"),
        ),
        ("argument-conversion-first", dict(trace_id=None, input_value={1})),
        ("argument-order", dict(is_root_span=1, package_type="x")),
        ("overflow-before-type", dict(kind=2**40, status_code="x")),
    ]
    for name, changes in order:
        cases.add(f"order/{name}", *span_args(**changes).values())
    full = span_args(
        trace_id="0af7651916cd43dd8448eb211c80319c",
        span_id="b7ad6b7169203331",
        parent_span_id="00f067aa0ba902b7",
        name="GET /users/{id}",
        package_name="requests",
        instrumentation_name="http",
        submodule_name="get",
        package_type=3,
        environment="prod",
        kind=2,
        input_schema={"type": 6, "properties": {"a": {"type": 1}}},
        output_schema={"type": 7, "items": {"type": 2}},
        input_schema_hash="a" * 64,
        output_schema_hash="b" * 64,
        input_value_hash="c" * 64,
        output_value_hash="d" * 64,
        status_code=1,
        status_message="ok",
        is_pre_app_start=True,
        is_root_span=True,
        timestamp_seconds=1700000000,
        timestamp_nanos=5,
        duration_seconds=0,
        duration_nanos=250,
        metadata={"k": "v"},
        input_value={"x": [1, 2.5]},
        output_value={"ignored": 1},
        output_value_proto_struct_bytes=struct_entry(b"b", TRUE) + struct_entry(b"a", NULL),
    )
    cases.add("full/keywords", **full)
    cases.add("full/positional", *full.values())
    rng = random.Random(41)
    for i in range(30):
        changes = {}
        for field in rng.sample(TEXT_FIELDS, 4):
            changes[field] = rng.choice(["", "x", "\u00e9", "abc" * 50])
        changes.update(
            package_type=rng.randint(0, 11),
            kind=rng.randint(0, 5),
            status_code=rng.randint(0, 2),
            is_root_span=rng.random() < 0.5,
            is_pre_app_start=rng.random() < 0.5,
            timestamp_seconds=rng.randint(-(2**40), 2**40),
            timestamp_nanos=rng.randint(-(10**9), 10**9),
            duration_seconds=rng.randint(0, 10**6),
            duration_nanos=rng.randint(0, 10**9),
            environment=rng.choice([None, "", "staging"]),
            input_schema=rng.choice(SCHEMAS[4:45])[1],
            metadata=rng.choice(METADATA[:11])[1],
            input_value=rng.choice(METADATA[:11])[1],
        )
        cases.add("random/%02d" % i, *span_args(**changes).values())
    names = params(function)
    cases.add(
        "bind/positional-and-keywords", *list(SPAN_BASE.values())[:10], **dict(list(SPAN_BASE.items())[10:])
    )
    binding_cases(cases, function, list(SPAN_BASE.values()))
    assert names == list(SPAN_BASE)
    return cases


# ---- export requests ---------------------------------------------------------------------------


def h(text):
    return bytes.fromhex(text)


FF9 = "ff " * 9

# fmt: off
ROUNDTRIP_SPANS = [
    "", "0a 01 74 f8 07 05", "0a 01 61 0a 01 62", "40 63", "88 01 " + FF9 + "01", "40 80 80 80 80 10",
    "98 01 05 b0 01 " + "80 " * 9 + "01", "c2 01 00 ca 01 00", "ca 01 01 78 c2 01 00", "92 01 02 08 01 92 01 03 12 01 6d",
    "92 01 04 08 02 08 01", "a2 01 0d 08 01 10 " + FF9 + "01", "a2 01 06 10 80 80 80 80 10", "aa 01 02 08 7f aa 01 02 10 05",
    "0a 01 74 f3 01 08 01 f3 01 f4 01 f4 01", "0a 01 74 fd 07 00 00 00 00 f9 07 " + "00 " * 8, "5a 00",
    "5a 07 12 05 0a 01 61 12 00", "5a 0e 12 05 0a 01 62 12 00 12 05 12 00 0a 01 61", "5a 08 12 06 12 02 08 01 0a 00",
    "5a 12 12 07 0a 01 61 12 02 08 01 12 07 0a 01 61 12 02 08 02", "5a 0d 12 0b 0a 01 61 12 02 08 01 12 02 20 00",
    "5a 07 f8 07 05 f3 01 f4 01", "5a 07 12 05 0a 01 61 12 00 5a 07 12 05 0a 01 61 12 00", "5a 04 1a 02 08 01 5a 04 1a 02 20 00",
    "5a 02 08 03 5a 02 08 00", "5a 09 31 00 00 00 00 00 00 f0 3f", "4a 0a 0a 03 0a 01 62 0a 03 0a 01 61",
    "4a 07 0a 05 0a 01 62 12 00 4a 07 0a 05 0a 01 61 12 00", "4a 0b 0a 09 0a 01 6b 12 04 20 01 20 00",
    "ba 01 09 0a 07 0a 01 6b 12 02 08 00", "62 02 28 00", "62 03 20 ff 01", "62 0b 20 " + FF9 + "01",
    "40 0b 88 01 05 92 01 02 08 02", "40 0c 88 01 06 92 01 02 08 03", "98 01 00 b0 01 00",
    "c2 01 01 65 c2 01 02 65 66", "ca 01 02 69 64", "0a 00 12 00 1a 00 22 00", "0a 03 e2 82 ac", "0a 04 f0 9f 98 80",
    "a2 01 0d 08 " + FF9 + "01 10 01", "aa 01 0b 08 80 80 80 80 80 80 80 80 80 01", "d5 01 00 00 00 00 0a 01 74",
    "d3 01 d4 01 0a 01 74", "2a 00", "f3 ff ff ff 0f f4 ff ff ff 0f 0a 01 74", "fa ff ff ff 0f 00 0a 01 74",
    "4a 02 0a 00", "4a 04 0a 02 12 00", "52 06 0a 04 0a 02 c3 a9", "4a 09 0a 07 0a 01 6e 12 02 08 05",
    "4a 0b 0a 09 0a 01 6c 12 04 32 02 0a 00", "4a 0d 0a 0b 0a 01 6c 12 06 32 04 0a 02 20 01",
    "4a 0c 0a 0a 0a 01 73 12 05 1a 03 61 62 63", "4a 09 0a 07 0a 01 73 12 02 1a 00", "4a 06 0a 04 12 02 2a 00",
]
# fmt: on

# fmt: off
ERROR_SPANS = [
    "0a 01 ff", "92 01 01 08", "92 01 02 08", "42 00", "40 " + FF9 + "ff 01", "40 " + FF9 + "02", "40", "80",
    "80 80 80 80 10", "ff ff ff ff 7f", "0e", "0f", "00", "02 00", "0a " + FF9 + "01", "fa 07 ff ff ff ff 0f",
    "f9 07 00 00", "fd 07 00", "fc 07", "fb 07 84 08", "fb 07 08 01", "12 01 ff 0a 01 74", "1a 02 ed a0", "22 02 c0 80",
    "82 01 01 80", "c0 01 00", "ca 01 01 fe", "8a 01 00", "99 01 00", "b5 01", "90 01 00", "92 01 01 12 01 61",
    "92 01 02 12 01 ff", "92 01 01 0c", "92 01 01 1c", "a2 01 01 08", "a2 01 02 09 00", "a2 01 02 11 00",
    "aa 01 02 12 00", "a3 01", "ac 01", "5a 02 0a 00", "62 02 10 00", "5a 05 12 03 0a 01 ff", "5a 04 12 02 08 01",
    "5a 03 12 01 00", "5a 06 12 04 12 02 08 80", "5a 07 12 04 12 02 08 80 01", "5a 05 1a 02 20 80 01",
    "5a 06 1a 01 20 80 01 08", "5a 03 1a 01 28", "5a 02 22 00", "5a 03 31 00 00", "5a 02 30 00", "5a 01 1a",
    "4a 01 0a", "52 02 08 00", "4a 07 0a 05 12 03 11 00 00", "ba 01 06 0a 04 12 02 32 05",
    "ba 01 08 0a 06 12 04 32 02 0a 05", "4a 05 0a 03 0a 01 c3", "92 01 02 08 01 92 01 01 08",
    "72 02 c3 28", "6a 01 80", "7a 01 c0", "32 03 ed bf bf", "3a 04 f4 90 80 80", "2a 02 c3", "5a 02 32 00",
    "4a 07 0a 05 12 03 1a 01 ff", "4a 06 0a 04 12 02 09 00", "ba 01 04 0a 02 12 05", "a2 01 02 08 80",
    "ff ff ff ff 0f", "4b", "0a", "0a 01", "0a 02 61", "f8 07", "f8 07 80", "f9 07", "fa 07", "fa 07 05 61",
    "0a 01 74 0c", "5a 01 0c", "5a 02 13 14", "5a 04 13 08 01 14 08", "5a 0b 30 " + FF9 + "01",
    "0d 00 00 00 00 0a 01 74", "0b 0c 0a 01 74", "4a 0a 0a 08 0a 01 6c 12 03 32 01 00", "4a 08 0a 06 0a 01 73 12 01 1a",
    "4a 09 0a 07 12 05 2a 03 0a 01 00",
]
# fmt: on


def nested_lists(n):
    value = b"\x20\x01"
    for _ in range(n):
        value = ld(b"\x32", ld(b"\x0a", value))
    return ld(b"\x4a", struct_entry(b"k", value))


def built_span(**changes):
    return quarn_core.build_span_proto_bytes_pyobject(*span_args(**changes).values())


def export_cases():
    function = "build_export_spans_request_bytes_pyobject"
    cases = Cases()
    head = ("svc", "prod", "1.0", "i-1")
    cases.add("empty", "", "", "", "", [])
    cases.add("head-only", *head, [])
    cases.add("one-empty-span", "o", "", "1", "", [b""])
    for i, text in enumerate(["\u00e9", "x" * 200, "\x00", "\U0001f600"]):
        for j in range(4):
            header = ["", "", "", ""]
            header[j] = text
            cases.add("head/%d/%d" % (j, i), *header, [])
    for j in range(4):
        for name, value in [
            ("none", None),
            ("bytes", b"x"),
            ("surrogate", "\ud800"),
            ("int", 1),
            ("subclass", sub("str", "s")),
        ]:
            header = ["", "", "", ""]
            header[j] = value
            cases.add("head-refused/%d/%s" % (j, name), *header, [])
    for i, span in enumerate(ROUNDTRIP_SPANS):
        cases.add("roundtrip/%02d" % i, "", "", "", "", [h(span)])
    for i, span in enumerate(ERROR_SPANS):
        cases.add("decode-error/%02d" % i, "", "", "", "", [h(span)])
    for depth, inner in [(99, ""), (100, ""), (101, ""), (99, "08 01"), (100, "08 01"), (2000, "")]:
        cases.add(
            "groups/%d/%s" % (depth, inner or "empty"),
            "",
            "",
            "",
            "",
            [b"\x0a\x01t" + nested_groups(depth, inner)],
        )
    for n in (99, 100, 101, 150):
        cases.add("schema-chain/%d" % n, "", "", "", "", [items_chain(n)])
    for n in (32, 33, 34):
        cases.add("struct-chain/%d" % n, "", "", "", "", [nested_structs(n)])
    for n in (47, 48, 49):
        cases.add("list-chain/%d" % n, "", "", "", "", [nested_lists(n)])
    # Spans from the builder come out byte for byte; values and schemas near the decoder's depth.
    builder_spans = [
        ("base", built_span()),
        ("environment", built_span(environment="")),
        (
            "full",
            built_span(
                package_type=3,
                kind=2,
                status_code=1,
                status_message="m",
                is_root_span=True,
                is_pre_app_start=True,
                timestamp_seconds=1700000000,
                timestamp_nanos=-1,
                duration_nanos=250,
                environment="prod",
                metadata={"k": "v"},
                input_value={"x": [1, 2.5, None, True, "s", {"y": {}}]},
                input_schema={
                    "type": 6,
                    "properties": {"b": {}, "a": {"type": 1, "encoding": 1}},
                    "items": None,
                    "match_importance": 0.5,
                },
            ),
        ),
        ("objects-33", built_span(input_value=corpus.decode(corpus.encode(nest(32, "dict"))))),
        ("objects-34", built_span(input_value=corpus.decode(corpus.encode(nest(33, "dict"))))),
        ("lists-48", built_span(input_value={"k": corpus.decode(corpus.encode(nest(48, "list")))})),
        ("lists-49", built_span(input_value={"k": corpus.decode(corpus.encode(nest(49, "list")))})),
    ]
    for name, span in builder_spans:
        cases.add("builder/" + name, *head, [span])
    many = [built_span(trace_id="t%d" % i, kind=i % 6) for i in range(20)]
    cases.add("many-spans", *head, many)
    cases.add("span-repeated", "", "", "", "", [builder_spans[2][1]] * 3)
    # One span split into many pieces: repeated message fields merge, the last scalar wins.
    pieces = b"".join(ld(b"\x4a", struct_entry(b"k%d" % (i % 7), TRUE if i % 2 else TWO)) for i in range(40))
    pieces += b"".join(ld(b"\x92\x01", b"\x08" + bytes([i % 3])) for i in range(10))
    pieces += b"".join(ld(b"\xba\x01", struct_entry(b"m", ld(b"\x32", ld(b"\x0a", TRUE)))) for _ in range(5))
    pieces += b"".join(
        ld(b"\x5a", ld(b"\x12", ld(b"\x0a", b"p%d" % (i % 4)) + ld(b"\x12", b"\x08" + bytes([i]))))
        for i in range(12)
    )
    cases.add("split-pieces", "", "", "", "", [pieces])
    unknown = b"".join(
        [
            b"\xf8\x07\x05",
            ld(b"\xfa\x07", b"junk"),
            b"\xfd\x07" + bytes(4),
            b"\xf9\x07" + bytes(8),
            b"\xfb\x07\x08\x01\xfc\x07",
            b"\x0a\x01t",
            b"\xd0\x01\x01",
            ld(b"\xd2\x01", b"x"),
        ]
    )
    cases.add("unknown-fields", "", "", "", "", [unknown])
    cases.add("list-order", "", "", "", "", [h("0a 01 62"), h("0a 01 61"), b"", h("0a 01 63")])
    cases.add("bytes-subclass", "", "", "", "", [sub("bytes", h("0a 01 74"))])
    cases.add("list-subclass", "", "", "", "", sub("list", [h("0a 01 74")]))
    for name, spans in [
        ("tuple", (b"",)),
        ("none", None),
        ("iterator", T({"$iter": [corpus.encode(b"")]})),
        ("bytes", b""),
        ("dict", {}),
        ("str", ""),
        ("tuple-subclass", sub("tuple", (b"",))),
    ]:
        cases.add("spans-refused/" + name, "", "", "", "", spans)
    for name, spans in [
        ("str", [b"", "x"]),
        ("bytearray", [T({"$bytearray": ""})]),
        ("memoryview", [T({"$memoryview": ""})]),
        ("none", [None]),
        ("bad-then-not-bytes", [h("0a 01 ff"), 1]),
        ("int", [b"", 1]),
        ("nested-list", [[b""]]),
    ]:
        cases.add("element-refused/" + name, "", "", "", "", spans)
    cases.add("first-bad-span-wins", "", "", "", "", [h("0a 01 74"), h("00"), h("0a 01 ff")])
    cases.add("head-error-first", None, "", "", "", None)
    cases.add("spans-checked-after-head", "", "", "", "", (b"",))
    binding_cases(cases, function, list(head) + [[b""]])
    return cases


BUILDERS = {
    "normalize_json": normalize_json,
    "deterministic_hash": deterministic_hash,
    "normalize_and_hash": normalize_and_hash,
    "object_to_protobuf_struct_bytes": object_to_protobuf_struct_bytes,
    "object_to_protobuf_struct_field_count": object_to_protobuf_struct_field_count,
    "process_export_payload": payload_cases,
    "process_export_payload_pyobject": object_payload_cases,
    "build_span_proto_bytes_pyobject": span_cases,
    "build_export_spans_request_bytes_pyobject": export_cases,
}


def build(function):
    """The cases of function with the outcomes the installed module gives, as lines of text."""
    lines = []
    for case in BUILDERS[function]().items:
        kwargs = case.get("kwargs", {})
        outcome = corpus.run(function, case["args"], kwargs)
        again = corpus.run(function, case["args"], kwargs)
        if corpus.text(outcome) != corpus.text(again):
            raise RuntimeError(f"{function} {case['id']}: outcome differs between two runs")
        line = corpus.text({**case, **outcome})
        if len(line.encode()) > MAX_LINE:
            raise RuntimeError(f"{function} {case['id']}: line of {len(line)} characters")
        lines.append((case["id"], line))
    return lines


def main(argv=None):
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--update", action="store_true", help="write the files")
    parser.add_argument("functions", nargs="*", default=list(BUILDERS), help="only these functions")
    options = parser.parse_args(argv)
    total = changed = 0
    for function in options.functions:
        lines = build(function)
        total += len(lines)
        path = corpus.path_of(function)
        old = {}
        if path.exists():
            old = {case["id"]: corpus.text(case) for case in corpus.load(function)}
        new_ids = {case_id for case_id, _ in lines}
        for case_id, line in lines:
            if case_id not in old:
                print(f"{function}: new case {case_id}\n  got:      {line}")
                changed += 1
            elif old[case_id] != line:
                print(f"{function}: {case_id}\n  expected: {old[case_id]}\n  got:      {line}")
                changed += 1
        for case_id in old.keys() - new_ids:
            print(f"{function}: case {case_id} is no longer generated\n  expected: {old[case_id]}")
            changed += 1
        content = "".join(line + "\n" for _, line in lines)
        if len(content.encode()) > MAX_FILE:
            raise RuntimeError(f"{path.name}: {len(content.encode())} bytes")
        if options.update:
            path.write_text(content, encoding="utf-8", newline="\n")
    verb = "written" if options.update else "compared"
    print(f"{total} cases in {len(options.functions)} files {verb}; {changed} differ from the files")
    return 1 if changed and not options.update else 0


if __name__ == "__main__":
    sys.exit(main())
