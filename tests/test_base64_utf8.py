"""Base64 and lossy UTF-8 decoding of a member, observed through
process_export_payload with the rule {"m":{"encoding":1}}: the merged text
(position 1) shows the decoded string, or the string unchanged."""

import base64
import binascii
import json

import pytest
from hypothesis import given, settings, strategies as st

import quarn_core as q

RULES = '{"m":{"encoding":1}}'


def merged_member(text):
    return q.process_export_payload(json.dumps({"m": text}), RULES)[1]


def decoded(data):
    """What the member becomes for Base64 text of `data`."""
    return json.loads(merged_member(base64.b64encode(data).decode()))["m"]


@pytest.mark.parametrize(
    "text, merged",
    [
        ("", '{"m":""}'),
        ("aGVsbG8=", '{"m":"hello"}'),
        ("YWJj", '{"m":"abc"}'),
        ("YQ==", '{"m":"a"}'),
        ("AA==", '{"m":"\\u0000"}'),
        ("CQoNCCI=", '{"m":"\\t\\n\\r\\b\\""}'),
        ("wqk=", '{"m":"\u00a9"}'),
        ("8J+YgA==", '{"m":"\U0001f600"}'),
        ("//4=", '{"m":"\ufffd\ufffd"}'),
        ("7aCA", '{"m":"\ufffd\ufffd\ufffd"}'),
        # rejected: the string stays as it was
        ("aGVsbG8", '{"m":"aGVsbG8"}'),
        ("YQ", '{"m":"YQ"}'),
        ("Y===", '{"m":"Y==="}'),
        ("====", '{"m":"===="}'),
        ("YW==", '{"m":"YW=="}'),
        ("aGVsbG9=", '{"m":"aGVsbG9="}'),
        ("aGVs bG8=", '{"m":"aGVs bG8="}'),
        ("aGVsbG8=\n", '{"m":"aGVsbG8=\\n"}'),
        ("YQ==YWJj", '{"m":"YQ==YWJj"}'),
        ("YW=j", '{"m":"YW=j"}'),
        ("-_8=", '{"m":"-_8="}'),
        ("aGVsbG\u00e9=", '{"m":"aGVsbG\u00e9="}'),
    ],
)
def test_base64_table(text, merged):
    assert merged_member(text) == merged


def oracle_b64(text):
    try:
        data = base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        return None
    return data if base64.b64encode(data).decode() == text else None


@settings(max_examples=300, deadline=None)
@given(
    st.binary(max_size=40),
    st.lists(
        st.tuples(st.sampled_from("rid"), st.integers(0, 60), st.sampled_from("Aa9+/=-_ \n\x00\u00e9")),
        max_size=3,
    ),
)
def test_base64_agrees_with_strict_decoding_plus_canonical_form(data, edits):
    text = base64.b64encode(data).decode()
    for op, at, ch in edits:
        at = min(at, len(text))
        text = {
            "r": text[:at] + ch + text[at + 1 :],
            "i": text[:at] + ch + text[at:],
            "d": text[:at] + text[at + 1 :],
        }[op]
    expected = oracle_b64(text)
    got = json.loads(merged_member(text))["m"]
    assert got == (text if expected is None else expected.decode("utf-8", "replace"))


# Ill-formed UTF-8 and its replacement by maximal subparts, as the Unicode
# Standard gives it (Table 3-8 and the rules for overlong forms, surrogates,
# code points above U+10FFFF and truncated sequences).
F = "\ufffd"
UTF8_TABLE = [
    (b"\x61\xf1\x80\x80\xe1\x80\xc2\x62\x80\x63\x80\xbf\x64", "a" + F * 3 + "b" + F + "c" + F * 2 + "d"),
    (b"\xc0\xaf", F * 2),
    (b"\xe0\x80\x80", F * 3),
    (b"\xf0\x80\x80\x80", F * 4),
    (b"\xed\xa0\x80", F * 3),
    (b"\xf4\x90\x80\x80", F * 4),
    (b"\xf5\x80\x80\x80", F * 4),
    (b"\xf8\x88\x80\x80\x80", F * 5),
    (b"\xfe\xff", F * 2),
    (b"\x80", F),
    (b"\xc2", F),
    (b"\xe0\xa0", F),
    (b"\xe1\x80\x41", F + "A"),
    (b"\xf0\x90\x80", F),
    (b"\xf0\x90\x80\xe2\x82\xac", F + "\u20ac"),
    (b"\xf0\x80", F * 2),
    (b"\xc2\x80\xdf\xbf", "\u0080\u07ff"),
    (b"\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf", "\u0800\ud7ff\ue000\uffff"),
    (b"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "\U00010000\U0010ffff"),
    (b"plain ascii \x7f", "plain ascii \x7f"),
]


@pytest.mark.parametrize("data, text", UTF8_TABLE)
def test_python_replacement_follows_maximal_subparts(data, text):
    # Checked first, so that Python can serve as the oracle below.
    assert data.decode("utf-8", "replace") == text


@pytest.mark.parametrize("data, text", UTF8_TABLE)
def test_lossy_utf8_table(data, text):
    assert decoded(data) == text


utf8_pieces = st.one_of(
    st.text(max_size=3).map(lambda s: s.encode("utf-8", "surrogatepass")),
    st.binary(max_size=3),
    st.sampled_from(
        [
            b"\x80",
            b"\xbf",
            b"\xc0",
            b"\xc2",
            b"\xe0",
            b"\xe0\xa0",
            b"\xed",
            b"\xed\xa0",
            b"\xf0",
            b"\xf0\x90",
            b"\xf4",
            b"\xf4\x90",
            b"\xf5",
            b"\xff",
            b"\xef\xbf",
        ]
    ),
)


@settings(max_examples=500, deadline=None)
@given(st.lists(utf8_pieces, max_size=12).map(b"".join))
def test_lossy_utf8_agrees_with_python(data):
    assert decoded(data) == data.decode("utf-8", "replace")


def test_long_inputs_cross_the_word_scan():
    data = b"x" * 13 + b"\xe2\x82" + "\u00e9".encode() * 9 + b"\xff" + b"y" * 40
    assert decoded(data) == data.decode("utf-8", "replace")
    big = bytes(range(256)) * 300
    assert decoded(big) == big.decode("utf-8", "replace")
