"""Hostile and oversized input: every call ends in a result or the exact ValueError."""

import json
import random
import re

import pytest
from hypothesis import example, given, settings, strategies as st
from support.json_oracle import Number, OutOfRange, canonical_number, dump
from support.strategies import json_values, scalars

import quarn_core as qc

MESSAGES = (
    "EOF while parsing a list|EOF while parsing an object|EOF while parsing a string|EOF while parsing a value|"
    "expected `:`|expected `,` or `\\]`|expected `,` or `}`|expected ident|expected value|invalid escape|"
    "invalid number|number out of range|control character \\(\\\\u0000-\\\\u001F\\) found while parsing a string|"
    "key must be a string|lone leading surrogate in hex escape|trailing comma|trailing characters|"
    "unexpected end of hex escape|recursion limit exceeded"
)
ERROR = re.compile(rf"^invalid json: ({MESSAGES}) at line ([1-9][0-9]*) column ([0-9]+)$")


def check_error(text, message):
    m = ERROR.match(message)
    assert m, message
    line, column = int(m.group(2)), int(m.group(3))
    # The position lies within the text: the line exists and the column fits in it.
    lines = text.encode("utf-8").split(b"\n")
    assert line <= len(lines)
    assert column <= len(lines[line - 1]) + (1 if line < len(lines) else 0)
    return m.group(1)


@settings(max_examples=2000, deadline=None)
@given(st.binary(max_size=200))
def test_byte_soup(data):
    text = data.decode("utf-8", errors="replace")
    try:
        out = qc.normalize_json(text)
    except ValueError as e:
        check_error(text, str(e))
    else:
        assert qc.normalize_json(out) == dump(json.loads(out, parse_int=Number, parse_float=Number))


TOKENS = list('[]{}",: \n\t\r0123456789.eE+-') + [
    "true",
    "false",
    "null",
    "\\",
    "\\n",
    "\\u00e9",
    "\\ud83d",
    "\\ude00",
    "\\u",
    "x",
    "\u00e9",
    "\x01",
    '"a"',
    '"k":',
    "1e400",
]


def _has_surrogate(value):
    if isinstance(value, str) and not isinstance(value, Number):
        return any(0xD800 <= ord(c) <= 0xDFFF for c in value)
    if isinstance(value, list):
        return any(_has_surrogate(v) for v in value)
    if isinstance(value, dict):
        return any(_has_surrogate(k) or _has_surrogate(v) for k, v in value.items())
    return False


def _no_constants(name):
    raise ValueError(name)


def agrees_with_the_standard_parser(text):
    # The standard library's parser is an independent judge of the grammar; it differs only where
    # it accepts lone surrogate escapes and infinite numbers.
    try:
        value = json.loads(text, parse_int=Number, parse_float=Number, parse_constant=_no_constants)
    except ValueError:
        value = ValueError
    try:
        out = qc.normalize_json(text)
    except ValueError as e:
        message = check_error(text, str(e))
        if value is not ValueError:
            # The first of the two faults in the text decides the message.
            if message == "number out of range":
                with pytest.raises(OutOfRange):
                    dump(value)
            else:
                assert _has_surrogate(value)
                assert message in ("lone leading surrogate in hex escape", "unexpected end of hex escape")
        return
    assert value is not ValueError, text
    assert out == dump(value)


@settings(max_examples=3000, deadline=None)
@given(st.lists(st.sampled_from(TOKENS), max_size=40).map("".join))
@example('{"a":1e400,"\\udc00":0}')  # the number is the first fault; the name is a lone surrogate
def test_token_soup(text):
    agrees_with_the_standard_parser(text)


documents = json_values(scalars(st.text(max_size=8), ints=(None, None)), st.text(max_size=4), 4, 15)
edits = st.lists(
    st.tuples(
        st.integers(0, 10**6), st.sampled_from(["insert", "delete", "replace"]), st.sampled_from(TOKENS)
    ),
    max_size=3,
)


@settings(max_examples=3000, deadline=None)
@given(documents, st.sampled_from([None, 1]), st.booleans(), edits)
def test_damaged_documents(value, indent, ascii_only, changes):
    text = json.dumps(value, indent=indent, ensure_ascii=ascii_only)
    for pos, op, token in changes:
        i = pos % (len(text) + 1)
        if op == "insert":
            text = text[:i] + token + text[i:]
        elif op == "delete":
            text = text[:i] + text[i + 1 :]
        else:
            text = text[:i] + token + text[i + 1 :]
    agrees_with_the_standard_parser(text)


@pytest.mark.parametrize("text,column", [
    ("[" * 10**6, 128), ('{"a":' * 10**6, 636), ('[{"a":' * 500_000, 380), ("[" * 10**6 + "]" * 10**6, 128),
])  # fmt: skip
def test_deep_nesting(text, column):
    with pytest.raises(ValueError) as info:
        qc.deterministic_hash(text)
    assert str(info.value) == f"invalid json: recursion limit exceeded at line 1 column {column}"


@pytest.mark.parametrize("text", [
    "1" * 10**6 + "e-999990", "1." + "1" * 10**6, "0." + "0" * 10**6 + "1", "-" + "9" * 10**6 + "e-999999",
    "0." + "0" * 10**6 + "1e1000005", "1" * 10**6 + ".5e-1000000", "[" + "0" * 1 + "." + "7" * 10**6 + "]",
])  # fmt: skip
def test_huge_numbers(text):
    inner = text.strip("[]")
    expected = canonical_number(inner)
    assert qc.normalize_json(text) == (f"[{expected}]" if text.startswith("[") else expected)


@pytest.mark.parametrize("text,column", [("1" * 10**6, 10**6), ("-" + "1" * 10**6 + ".0", 10**6 + 3)])
def test_huge_number_out_of_range(text, column):
    with pytest.raises(ValueError) as info:
        qc.normalize_json(text)
    assert str(info.value) == f"invalid json: number out of range at line 1 column {column}"


def test_a_million_members():
    n = 10**6
    ascending = "{" + ",".join(f'"k{i:07d}":{i}' for i in range(n)) + "}"
    descending = "{" + ",".join(f'"k{i:07d}":{i}' for i in reversed(range(n))) + "}"
    assert qc.normalize_json(descending) == ascending
    assert qc.normalize_json(ascending) == ascending
    same_name = "{" + ",".join(f'"k":{i}' for i in range(n)) + "}"
    assert qc.normalize_json(same_name) == '{"k":999999}'


def test_shuffled_members_with_duplicates():
    rng = random.Random(7)
    keys = [f"{rng.randrange(50_000):x}\u00e9" for _ in range(200_000)]
    text = "{" + ",".join(f'"{k}":{i}' for i, k in enumerate(keys)) + "}"
    last = {k: i for i, k in enumerate(keys)}
    expected = "{" + ",".join(f'"{k}":{last[k]}' for k in sorted(last, key=str.encode)) + "}"
    assert qc.normalize_json(text) == expected
