"""Canonical JSON text: parsing, number conversion, printing and the exact error texts."""

import json
import struct

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from support.json_oracle import OutOfRange, canonical_number, layout, reference_canonical
from support.strategies import encodable_text, finite_floats, json_values, scalars

import quarn_core as qc

CANONICAL = [
    (' {"b": 1, "a": [true, null, "x"]} ', '{"a":[true,null,"x"],"b":1}'),
    ('{"a":1,"a":2}', '{"a":2}'),
    ('{"B":1,"a":2,"ab":3,"\u00e9":4}', '{"B":1,"a":2,"ab":3,"\u00e9":4}'),
    ('{"\u00e9":1,"ab":2,"a":3,"B":4}', '{"B":4,"a":3,"ab":2,"\u00e9":1}'),
    ("[]", "[]"), ("{}", "{}"), (" [ ] ", "[]"), ("\t{\r\n}\n", "{}"), ("null", "null"), ("true", "true"),
    ("false", "false"), ('""', '""'), ("[[],{},[{}]]", "[[],{},[{}]]"),
    ('{"a":{"c":1,"b":[{"z":0,"y":1}]}}', '{"a":{"b":[{"y":1,"z":0}],"c":1}}'),
    # Duplicates: the later value wins, also across kinds, escapes and nesting.
    ('{"a":1,"b":2,"a":3}', '{"a":3,"b":2}'),
    ('{"b":1,"a":2,"b":3}', '{"a":2,"b":3}'),
    ('{"a":{"x":1},"a":[2]}', '{"a":[2]}'),
    ('{"a":1,"\\u0061":2}', '{"a":2}'),
    ('{"a":1,"a":2,"a":3,"a":4}', '{"a":4}'),
    ('{"a":[{"k":1,"k":null}],"a":[{"k":2,"k":false}]}', '{"a":[{"k":false}]}'),
    ('{"c":1,"b":2,"a":3}', '{"a":3,"b":2,"c":1}'),
    ('{"c":1,"a":2,"b":3,"a":4,"c":5}', '{"a":4,"b":3,"c":5}'),
    # Byte order of names: a prefix first, then by unsigned bytes (not by UTF-16 units).
    ('{"\U0001f600":1,"\uffff":2,"\u00e9":3,"z":4,"":5,"aa":6,"a":7}',
     '{"":5,"a":7,"aa":6,"z":4,"\u00e9":3,"\uffff":2,"\U0001f600":1}'),
    ('{"a\\u0000":1,"a":2,"a\\u0001":3}', '{"a":2,"a\\u0000":1,"a\\u0001":3}'),
    # Records whose names repeat an earlier object's order, or nearly do.
    ('[{"b":1,"a":2,"c":3},{"b":4,"a":5,"c":6}]', '[{"a":2,"b":1,"c":3},{"a":5,"b":4,"c":6}]'),
    ('[{"b":1,"a":2,"c":3},{"b":4,"c":5,"a":6}]', '[{"a":2,"b":1,"c":3},{"a":6,"b":4,"c":5}]'),
    ('[{"b":1,"a":2},{"b":3,"0":4},{"b":5,"a":6}]', '[{"a":2,"b":1},{"0":4,"b":3},{"a":6,"b":5}]'),
    ('[{"b":1,"a":2},{"b":3,"b":4},{"b":5,"a":6}]', '[{"a":2,"b":1},{"b":4},{"a":6,"b":5}]'),
    ('[{"b":1,"b":2},{"b":3,"a":4},{"b":5,"b":6}]', '[{"b":2},{"a":4,"b":3},{"b":6}]'),
    ('[{"ab":1,"a":2},{"ab":3,"aa":4},{"ab":5,"a":6}]', '[{"a":2,"ab":1},{"aa":4,"ab":3},{"a":6,"ab":5}]'),
    ('[{"z":{"y":1,"x":2},"a":0},{"z":{"y":3,"x":4},"a":5}]', '[{"a":0,"z":{"x":2,"y":1}},{"a":5,"z":{"x":4,"y":3}}]'),
]  # fmt: skip


@pytest.mark.parametrize("text,expected", CANONICAL)
def test_canonical_text(text, expected):
    assert qc.normalize_json(text) == expected


def _wide(n, inner):
    # An object whose members, and an array whose elements, number n around a
    # container of `inner` entries, with earlier siblings still open.
    obj = {f"k{i:03d}": i for i in range(n)}
    obj["k000"] = {"a": list(range(inner)), "o": {f"m{i}": [i] for i in range(inner)}}
    return [list(range(n)), obj, [obj] * 2]


@pytest.mark.parametrize("n,inner", [(63, 1), (64, 0), (65, 65), (30, 40), (10, 300), (300, 300)])
def test_wide_containers_inside_open_ones(n, inner):
    value = _wide(n, inner)
    text = json.dumps(value, indent=1).replace('"k000"', '"k000": 0, "k000"', 1)
    assert qc.normalize_json(text) == json.dumps(value, sort_keys=True, separators=(",", ":"))


NUMBERS = [
    ("0", "0"), ("-0", "-0.0"), ("-0.0", "-0.0"), ("1.0", "1.0"), ("1e2", "100.0"), ("1E2", "100.0"),
    ("0.1e1", "1.0"), ("100e-2", "1.0"), ("1e15", "1000000000000000.0"), ("1e16", "1e+16"), ("1e21", "1e+21"),
    ("1e-5", "0.00001"), ("1e-6", "1e-6"), ("5e-5", "0.00005"), ("123.456e-10", "1.23456e-8"),
    ("18446744073709551615", "18446744073709551615"), ("18446744073709551616", "1.8446744073709552e+19"),
    ("-9223372036854775808", "-9223372036854775808"), ("-9223372036854775809", "-9.223372036854776e+18"),
    ("1e308", "1e+308"), ("1e-400", "0.0"), ("2.5e-324", "5e-324"), ("0e999999999999", "0.0"),
    ("79282456097322440e24", "7.9282456097322445e+40"), ("38405519742678236e-24", "3.8405519742678245e-8"),
    # Integers stay integers up to their limits; beyond, or negative past -2^63, they are doubles.
    ("9007199254740993", "9007199254740993"), ("-9223372036854775807", "-9223372036854775807"),
    ("-18446744073709551615", "-1.8446744073709552e+19"), ("-1", "-1"), ("123e0", "123.0"),
    # Digits past 2^64 - 1 are dropped and count as powers of ten.
    ("184467440737095516150", "1.844674407370955e+20"), ("184467440737095516160", "1.844674407370955e+20"),
    ("12345678901234567890123", "1.2345678901234568e+22"),
    ("1844674407370955161600000000000000000000e-20", "1.8446744073709552e+19"),
    # Fraction digits: taken while S fits, also right after a dropped integer digit (S = 1844674407370955161).
    ("18446744073709551616.3e-45", "1.844674407370955e-26"), ("18446744073709551619.5", "1.8446744073709552e+19"),
    ("0.18446744073709551615", "0.1844674407370955"), ("0.18446744073709551616", "0.18446744073709553"),
    ("1.2345678901234567890123", "1.2345678901234567"), ("1844674407370955161.7", "1.8446744073709553e+18"),
    # Twenty integer digits that all fit leave no room for fraction digits.
    ("18446744073709551615.5", "1.8446744073709552e+19"), ("10000000000000000000.1", "1e+19"),
    ("-12345678901234567890.12345678e1", "-1.2345678901234568e+20"),
    # One rounding per operation, not the nearest double.
    ("9007199254740993.0", "9007199254740994.0"), ("123456789012345.67", "123456789012345.69"),
    # Zeros and the exponent limits.
    ("-0e5", "-0.0"), ("-0.0e-5", "-0.0"), ("0e-5", "0.0"), ("-0e999999999999", "-0.0"),
    ("0e2147483648", "0.0"), ("1e-2147483648", "0.0"), ("-1e-2147483647", "-0.0"), ("-1e-99999999999", "-0.0"),
    # |X| > 308: divide by 1e308 first; a positive X that large must come from a zero.
    ("1e-309", "1e-309"), ("1e-324", "0.0"), ("3e-324", "5e-324"), ("2.4703282292062328e-324", "0.0"),
    ("0.001e311", "1e+308"), ("0.1e309", "1e+308"), ("100000e-313", "1e-308"), ("0e400", "0.0"),
    ("17976931348623157e292", "1.7976931348623157e+308"), ("2.2250738585072014e-308", "2.2250738585072014e-308"),
    ("4.9406564584124654e-324", "5e-324"),
    # Layout by the decimal point position k and the digit count n.
    ("0.000012345", "0.000012345"), ("0.000001", "1e-6"), ("0.0000015", "1.5e-6"), ("0.5", "0.5"),
    ("0.123", "0.123"), ("1.5", "1.5"), ("1e1", "10.0"), ("1234567890123456.0", "1234567890123456.0"),
    ("1234567890123456.7", "1234567890123456.8"), ("1e17", "1e+17"), ("12345678901234567890.0", "1.2345678901234567e+19"),
    ("-1.5", "-1.5"), ("-1e-7", "-1e-7"), ("1e22", "1e+22"), ("1e23", "1e+23"), ("9.999999999999999e22", "1e+23"),
    ("123e-2", "1.23"), ("0.30000000000000004", "0.30000000000000004"), ("1.5e300", "1.5e+300"),
    # Two passes exactly: each of these moves once more when normalized again.
    ("7.751518962134485e-29", "7.751518962134483e-29"), ("7.751518962134483e-29", "7.751518962134482e-29"),
    ("4.379870024434759e+127", "4.379870024434757e+127"),
]  # fmt: skip


@pytest.mark.parametrize("text,expected", NUMBERS)
def test_numbers(text, expected):
    assert qc.normalize_json(text) == expected
    assert qc.normalize_json(f"[{text}]") == f"[{expected}]"
    assert canonical_number(text) == expected  # the reference agrees with the table


@pytest.mark.parametrize("text,column", [
    ("1e309", 5), ("1e400", 5), ("-1e309", 6), ("10e308", 6), ("1000e306", 8), ("1e2147483647", 12),
    ("1.7976931348623158e308", 22), ("1e21474836489", 12), ("1e99999999999", 12), ("1" * 400, 400),
    ("-1e+2147483648", 14),
])  # fmt: skip
def test_numbers_out_of_range(text, column):
    with pytest.raises(ValueError) as info:
        qc.normalize_json(text)
    assert str(info.value) == f"invalid json: number out of range at line 1 column {column}"
    with pytest.raises(OutOfRange) as ref:
        canonical_number(text)
    assert ref.value.position == column


STRINGS = [
    ('"\\u00e9"', '"\u00e9"'), ('"\\/"', '"/"'), ('"\\t"', '"\\t"'), ('"\\u001F"', '"\\u001f"'),
    ('"\\ud83d\\ude00"', '"\U0001f600"'), ('"\\uD83D\\uDE00"', '"\U0001f600"'), ('"\\u0000"', '"\\u0000"'),
    ('"\\u007f\x7f"', '"\x7f\x7f"'), ('"\\u0022\\u005c"', '"\\"\\\\"'), ('"\\"\\\\\\b\\f\\n\\r"', '"\\"\\\\\\b\\f\\n\\r"'),
    ('"\\u0008\\u000c\\u000a\\u000d\\u0009\\u000b"', '"\\b\\f\\n\\r\\t\\u000b"'), ('"\\u2028\u2029"', '"\u2028\u2029"'),
    ('"\\udbff\\udfff"', '"\U0010ffff"'), ('"\\ud800\\udc00x"', '"\U00010000x"'), ('"\\uFFFF"', '"\uffff"'),
    ('"a\\nb\u00e9\\u00e9\U0001f600"', '"a\\nb\u00e9\u00e9\U0001f600"'), ('"\\\\u0041"', '"\\\\u0041"'),
]  # fmt: skip


@pytest.mark.parametrize("text,expected", STRINGS)
def test_strings(text, expected):
    assert qc.normalize_json(text) == expected


@pytest.mark.parametrize("text,expected", STRINGS)
def test_strings_as_names_and_members(text, expected):
    # Each decoded string beside plain ones, as a member name and as values in
    # containers: every string is escaped on its own.
    doc = f'{{"": [{text}, "b"], {text}: {{"": {text}}}}}'
    assert qc.normalize_json(doc) == f'{{"":[{expected},"b"],{expected}:{{"":{expected}}}}}'


@pytest.mark.parametrize("byte", range(0x20))
def test_control_bytes_are_escaped(byte):
    short = {0x08: "\\b", 0x09: "\\t", 0x0A: "\\n", 0x0C: "\\f", 0x0D: "\\r"}
    expected = '"' + short.get(byte, f"\\u00{byte:02x}") + '"'
    assert qc.normalize_json(f'"\\u{byte:04X}"') == expected
    assert qc.normalize_json(expected) == expected


ERRORS = [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   ", "EOF while parsing a value at line 1 column 3"),
    (" \n ", "EOF while parsing a value at line 2 column 1"),
    ("x", "expected value at line 1 column 1"),
    ("{} x", "trailing characters at line 1 column 4"),
    ("nullx", "trailing characters at line 1 column 5"),
    ("1.5.3", "trailing characters at line 1 column 4"),
    ("0x10", "trailing characters at line 1 column 2"),
    ("[1,]", "trailing comma at line 1 column 4"),
    ("[1, ]", "trailing comma at line 1 column 5"),
    ('{"a":1,}', "trailing comma at line 1 column 8"),
    ("[1,\r\n2,\r\n]", "trailing comma at line 3 column 1"),
    ("01", "invalid number at line 1 column 2"),
    ("-01", "invalid number at line 1 column 3"),
    ("[1\n", "EOF while parsing a list at line 2 column 0"),
    ("[", "EOF while parsing a list at line 1 column 1"),
    ("[1", "EOF while parsing a list at line 1 column 2"),
    ("[1,", "EOF while parsing a value at line 1 column 3"),
    ("[1 2]", "expected `,` or `]` at line 1 column 4"),
    ("[1}", "expected `,` or `]` at line 1 column 3"),
    ("[1,,2]", "expected value at line 1 column 4"),
    ("[,1]", "expected value at line 1 column 2"),
    ("NaN", "expected value at line 1 column 1"),
    ("Infinity", "expected value at line 1 column 1"),
    ("-Infinity", "invalid number at line 1 column 2"),
    ("\ufeff{}", "expected value at line 1 column 1"),
    ("[1,\f2]", "expected value at line 1 column 4"),
    ("[1\f,2]", "expected `,` or `]` at line 1 column 3"),
    (".5", "expected value at line 1 column 1"),
    ("+1", "expected value at line 1 column 1"),
    ("True", "expected value at line 1 column 1"),
    ("\r\r]", "expected value at line 1 column 3"),
    ("\n\n\n]", "expected value at line 4 column 1"),
    ("{", "EOF while parsing an object at line 1 column 1"),
    ('{"a"', "EOF while parsing an object at line 1 column 4"),
    ('{"a" ', "EOF while parsing an object at line 1 column 5"),
    ('{"a":', "EOF while parsing a value at line 1 column 5"),
    ('{"a":1', "EOF while parsing an object at line 1 column 6"),
    ('{"a":1,', "EOF while parsing a value at line 1 column 7"),
    ('{"a" 1}', "expected `:` at line 1 column 6"),
    ('{"a":1 "b":2}', "expected `,` or `}` at line 1 column 8"),
    ('{"a":1]', "expected `,` or `}` at line 1 column 7"),
    ('{"a":}', "expected value at line 1 column 6"),
    ("{a:1}", "key must be a string at line 1 column 2"),
    ('{"a":1,2:3}', "key must be a string at line 1 column 8"),
    ("{,}", "key must be a string at line 1 column 2"),
    ("nul", "EOF while parsing a value at line 1 column 3"),
    ("nulx", "expected ident at line 1 column 4"),
    ("nil", "expected ident at line 1 column 2"),
    ("tru", "EOF while parsing a value at line 1 column 3"),
    ("trUe", "expected ident at line 1 column 3"),
    ("fals", "EOF while parsing a value at line 1 column 4"),
    ("falsy", "expected ident at line 1 column 5"),
    ('"abc', "EOF while parsing a string at line 1 column 4"),
    ('"', "EOF while parsing a string at line 1 column 1"),
    ('"\\', "EOF while parsing a string at line 1 column 2"),
    ('"\\x"', "invalid escape at line 1 column 3"),
    ('"\\U0041"', "invalid escape at line 1 column 3"),
    ('"\\u12"', "EOF while parsing a string at line 1 column 6"),
    ('"\\u12G4"', "invalid escape at line 1 column 7"),
    ('"\\uD800"', "unexpected end of hex escape at line 1 column 8"),
    ('"\\uD800x"', "unexpected end of hex escape at line 1 column 8"),
    ('"\\uD800\\n"', "unexpected end of hex escape at line 1 column 9"),
    ('"\\uD800\\u0041"', "lone leading surrogate in hex escape at line 1 column 13"),
    ('"\\uD800\\uD800"', "lone leading surrogate in hex escape at line 1 column 13"),
    ('"\\uDBFF\\uE000"', "lone leading surrogate in hex escape at line 1 column 13"),
    ('"\\uDC00"', "lone leading surrogate in hex escape at line 1 column 7"),
    ('"\\uDFFF\\uDC00"', "lone leading surrogate in hex escape at line 1 column 7"),
    ('"\\uD800', "EOF while parsing a string at line 1 column 7"),
    ('"\\uD800\\', "EOF while parsing a string at line 1 column 8"),
    ('"\\uD800\\u', "EOF while parsing a string at line 1 column 9"),
    ('"\\uD800\\uDC0', "EOF while parsing a string at line 1 column 12"),
    ('"\\uD800\\uDCxx"', "invalid escape at line 1 column 13"),
    ('{"\\uDC00":1}', "lone leading surrogate in hex escape at line 1 column 8"),
    ('"a\x01"', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"),
    ('"a\nb"', "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"),
    ('"\u00e9\x1f"', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"),
    ('["a",\n "b\tc"]', "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 4"),
    ('"\\n\x00"', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"),
    ("-", "EOF while parsing a value at line 1 column 1"),
    ("-x", "invalid number at line 1 column 2"),
    ("[-]", "invalid number at line 1 column 3"),
    ("1.", "EOF while parsing a value at line 1 column 2"),
    ("1.x", "invalid number at line 1 column 3"),
    ("[1.]", "invalid number at line 1 column 4"),
    ("1e", "EOF while parsing a value at line 1 column 2"),
    ("1e+", "EOF while parsing a value at line 1 column 3"),
    ("1e+x", "invalid number at line 1 column 4"),
    ("[1E-]", "invalid number at line 1 column 5"),
    ('{"a":\n  -1e309}', "number out of range at line 2 column 8"),
    ("[" * 128, "recursion limit exceeded at line 1 column 128"),
    ("[\n" * 128, "recursion limit exceeded at line 128 column 1"),
    ('{"a":' * 128, "recursion limit exceeded at line 1 column 636"),
    ('[{"a":' * 64, "recursion limit exceeded at line 1 column 380"),
    ("\u00e9", "expected value at line 1 column 1"),
    ("[\u00e9]", "expected value at line 1 column 2"),
]  # fmt: skip


@pytest.mark.parametrize("text,message", ERRORS)
def test_errors(text, message):
    for fn in (qc.normalize_json, qc.deterministic_hash, qc.normalize_and_hash):
        with pytest.raises(ValueError) as info:
            fn(text)
        assert type(info.value) is ValueError
        assert info.value.args == ("invalid json: " + message,)
        assert info.value.__cause__ is None and info.value.__context__ is None


def _nest(open_, close, depth, inner="0"):
    return open_ * depth + inner + close * depth


@pytest.mark.parametrize("text", [
    _nest("[", "]", 127), _nest('{"a":', "}", 127), _nest('[{"a":', "}]", 63, "[0]"),
    _nest('{"a":[', "]}", 63, "{}"), "[" + ",".join([_nest("[", "]", 126)] * 3) + "]",
    _nest(" [ ", " ] ", 127, " null "),
])  # fmt: skip
def test_nesting_up_to_127_levels(text):
    assert qc.normalize_json(text) == text.replace(" ", "")


def test_nesting_limit_at_level_128():
    with pytest.raises(ValueError, match="recursion limit exceeded at line 1 column 300$"):
        qc.normalize_json("[0," * 86 + "[" * 42)
    with pytest.raises(ValueError, match="recursion limit exceeded at line 1 column 636$"):
        qc.normalize_json(_nest('{"a":', "}", 127, "{}"))


# ---- comparison with the reference ---------------------------------------------------

number_texts = st.one_of(
    st.from_regex(r"-?(0|[1-9][0-9]{0,24})(\.[0-9]{1,24})?([eE][+-]?[0-9]{1,3})?", fullmatch=True),
    st.from_regex(r"-?[1-9][0-9]{15,22}(\.[0-9]{1,5})?([eE][+-]?(2[89][0-9]|3[0-3][0-9]))?", fullmatch=True),
    st.from_regex(r"-?(0\.0{0,330}[1-9][0-9]{0,20}|[1-9][0-9]{0,20})[eE]-?[0-9]{1,12}", fullmatch=True),
    st.floats(allow_nan=False, allow_infinity=False).map(repr),
    st.integers(min_value=-(2**66), max_value=2**66).map(str),
)


@settings(max_examples=3000, deadline=None)
@given(number_texts)
def test_numbers_match_the_reference(text):
    try:
        expected = canonical_number(text)
    except OutOfRange as e:
        with pytest.raises(ValueError) as info:
            qc.normalize_json(text)
        assert str(info.value) == f"invalid json: number out of range at line 1 column {e.position}"
        return
    assert qc.normalize_json(text) == expected


text_values = encodable_text(20)
documents = json_values(scalars(text_values), text_values, 5, 30)


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents, st.sampled_from([None, 0, 2]), st.booleans())
def test_documents_match_the_reference(value, indent, ascii_only):
    text = json.dumps(value, indent=indent, ensure_ascii=ascii_only)
    assert qc.normalize_json(text) == reference_canonical(text)


def _stable(f):
    return canonical_number(layout(f)) == layout(f)


stable_values = json_values(scalars(text_values, floats=finite_floats.filter(_stable)), text_values, 5, 30)


@settings(max_examples=1000, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(stable_values)
def test_normalize_is_a_fixed_point(value):
    # Holds whenever every double reads back as itself; the NUMBERS table shows doubles that do not.
    once = qc.normalize_json(json.dumps(value))
    assert qc.normalize_json(once) == once


@settings(max_examples=1000, deadline=None)
@given(st.text(st.characters(exclude_categories=["Cs"])))
def test_strings_match_the_standard_printer(s):
    expected = json.dumps(s, ensure_ascii=False)
    assert qc.normalize_json(json.dumps(s)) == expected
    assert qc.normalize_json(expected) == expected


def test_double_bit_patterns_round_the_table():
    # Every power of two and its neighbours, through the whole exponent range.
    for e in range(-1074, 1024):
        bits = struct.unpack("<q", struct.pack("<d", 2.0**e))[0]
        for b in (bits - 1, bits, bits + 1):
            f = struct.unpack("<d", struct.pack("<q", b))[0]
            if f != float("inf") and f > 0:
                text = layout(f)
                assert float(text) == f and len(text) <= len(repr(f)) + 3  # the reference's own layout
                assert qc.normalize_json(text) == canonical_number(text), text
