"""The public JSON parser test suite, run through normalize_json.

Files that are not valid UTF-8 cannot reach the parser as they are: the module only receives
text from a Python str. They are decoded with replacement (each bad byte sequence becomes
U+FFFD) and their outcomes are recorded like the others, so the parser still sees their
structure and the replacement characters are copied into strings as they are.
"""

import os
import re
from pathlib import Path

import pytest
from support.json_oracle import reference_canonical

import quarn_core as qc


def _suite_dir():
    here = Path(__file__).resolve().parents[1] / ".." / "shared" / "json-test-suite"
    if here.is_dir():
        return here.resolve()
    env = os.environ.get("QUARN_JSON_SUITE")
    return Path(env) if env else None


SUITE = _suite_dir()
pytestmark = pytest.mark.skipif(
    SUITE is None or not (SUITE / "test_parsing").is_dir(),
    reason="JSON test suite not found at ../shared/json-test-suite (set QUARN_JSON_SUITE to its path)",
)


def _files(folder, prefix=""):
    if SUITE is None or not (SUITE / folder).is_dir():
        return []
    return sorted(p.name for p in (SUITE / folder).iterdir() if p.name.startswith(prefix))


def _read(folder, name):
    return (SUITE / folder / name).read_bytes().decode("utf-8", errors="replace")


def _outcome(text):
    try:
        return qc.normalize_json(text)
    except ValueError as e:
        assert str(e).startswith("invalid json: ")
        return Fail(str(e)[len("invalid json: ") :])


class Fail(str):
    """A rejection, holding the parser message with its position."""

    def __repr__(self):
        return f"Fail({str.__repr__(self)})"


POSITION = re.compile(r"^invalid json: .+ at line [1-9][0-9]* column [0-9]+$")


@pytest.mark.parametrize("name", _files("test_parsing", "y_"))
def test_accepted(name):
    text = _read("test_parsing", name)
    assert qc.normalize_json(text) == reference_canonical(text)


@pytest.mark.parametrize("name", _files("test_parsing", "n_"))
def test_rejected(name):
    text = _read("test_parsing", name)
    with pytest.raises(ValueError) as info:
        qc.normalize_json(text)
    assert POSITION.match(str(info.value)), str(info.value)


IMPLEMENTATION_DEFINED = {
    "i_number_double_huge_neg_exp": '[0.0]',
    "i_number_huge_exp": Fail('number out of range at line 1 column 17'),
    "i_number_neg_int_huge_exp": Fail('number out of range at line 1 column 9'),
    "i_number_pos_double_huge_exp": Fail('number out of range at line 1 column 10'),
    "i_number_real_neg_overflow": Fail('number out of range at line 1 column 15'),
    "i_number_real_pos_overflow": Fail('number out of range at line 1 column 14'),
    "i_number_real_underflow": '[0.0]',
    "i_number_too_big_neg_int": '[-1.2312312312312312e+29]',
    "i_number_too_big_pos_int": '[1e+20]',
    "i_number_very_big_negative_int": '[-2.3746237467327687e+47]',
    "i_object_key_lone_2nd_surrogate": Fail('lone leading surrogate in hex escape at line 1 column 8'),
    "i_string_1st_surrogate_but_2nd_missing": Fail('unexpected end of hex escape at line 1 column 9'),
    "i_string_1st_valid_surrogate_2nd_invalid": Fail('lone leading surrogate in hex escape at line 1 column 14'),
    "i_string_UTF-16LE_with_BOM": Fail('expected value at line 1 column 1'),
    "i_string_UTF-8_invalid_sequence": '["\u65e5\u0448\ufffd"]',
    "i_string_UTF8_surrogate_U+D800": '["\ufffd\ufffd\ufffd"]',
    "i_string_incomplete_surrogate_and_escape_valid": Fail('unexpected end of hex escape at line 1 column 10'),
    "i_string_incomplete_surrogate_pair": Fail('lone leading surrogate in hex escape at line 1 column 8'),
    "i_string_incomplete_surrogates_escape_valid": Fail('lone leading surrogate in hex escape at line 1 column 14'),
    "i_string_invalid_lonely_surrogate": Fail('unexpected end of hex escape at line 1 column 9'),
    "i_string_invalid_surrogate": Fail('unexpected end of hex escape at line 1 column 9'),
    "i_string_invalid_utf-8": '["\ufffd"]',
    "i_string_inverted_surrogates_U+1D11E": Fail('lone leading surrogate in hex escape at line 1 column 8'),
    "i_string_iso_latin_1": '["\ufffd"]',
    "i_string_lone_second_surrogate": Fail('lone leading surrogate in hex escape at line 1 column 8'),
    "i_string_lone_utf8_continuation_byte": '["\ufffd"]',
    "i_string_not_in_unicode_range": '["\ufffd\ufffd\ufffd\ufffd"]',
    "i_string_overlong_sequence_2_bytes": '["\ufffd\ufffd"]',
    "i_string_overlong_sequence_6_bytes": '["\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"]',
    "i_string_overlong_sequence_6_bytes_null": '["\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"]',
    "i_string_truncated-utf-8": '["\ufffd\ufffd"]',
    "i_string_utf16BE_no_BOM": Fail('expected value at line 1 column 1'),
    "i_string_utf16LE_no_BOM": Fail('expected value at line 1 column 2'),
    "i_structure_500_nested_arrays": Fail('recursion limit exceeded at line 1 column 128'),
    "i_structure_UTF-8_BOM_empty_object": Fail('expected value at line 1 column 1'),
}  # fmt: skip

TRANSFORM = {
    "number_-9223372036854775808": '[-9223372036854775808]',
    "number_-9223372036854775809": '[-9.223372036854776e+18]',
    "number_1.0": '[1.0]',
    "number_1.000000000000000005": '[1.0]',
    "number_1000000000000000": '[1000000000000000]',
    "number_10000000000000000999": '[10000000000000000999]',
    "number_1e-999": '[0.0]',
    "number_1e6": '[1000000.0]',
    "number_9223372036854775807": '[9223372036854775807]',
    "number_9223372036854775808": '[9223372036854775808]',
    "object_key_nfc_nfd": '{"e\u0301":"NFD","\xe9":"NFC"}',
    "object_key_nfd_nfc": '{"e\u0301":"NFD","\xe9":"NFC"}',
    "object_same_key_different_values": '{"a":2}',
    "object_same_key_same_value": '{"a":1}',
    "object_same_key_unclear_values": '{"a":-0.0}',
    "string_1_escaped_invalid_codepoint": Fail('unexpected end of hex escape at line 1 column 9'),
    "string_1_invalid_codepoint": '["\ufffd\ufffd\ufffd"]',
    "string_2_escaped_invalid_codepoints": Fail('lone leading surrogate in hex escape at line 1 column 14'),
    "string_2_invalid_codepoints": '["\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"]',
    "string_3_escaped_invalid_codepoints": Fail('lone leading surrogate in hex escape at line 1 column 14'),
    "string_3_invalid_codepoints": '["\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd"]',
    "string_with_escaped_NULL": '["A\\u0000B"]',
}  # fmt: skip


@pytest.mark.parametrize(
    "folder,table", [("test_parsing", IMPLEMENTATION_DEFINED), ("test_transform", TRANSFORM)]
)
def test_tables_cover_the_suite(folder, table):
    prefix = "i_" if folder == "test_parsing" else ""
    assert sorted(table) == [n[: -len(".json")] for n in _files(folder, prefix)]


@pytest.mark.parametrize("folder,name,expected", [("test_parsing", k, v) for k, v in IMPLEMENTATION_DEFINED.items()]
                         + [("test_transform", k, v) for k, v in TRANSFORM.items()])  # fmt: skip
def test_recorded_outcomes(folder, name, expected):
    text = _read(folder, name + ".json")
    got = _outcome(text)
    assert type(got) is type(expected) and got == expected
