"""The deterministic hash: SHA-256 of the canonical text, as lower-case hex."""

import hashlib
import json

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from support.strategies import encodable_text, json_values, scalars

import quarn_core as qc

HASHES = [
    ("{}", "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a"),
    (" { } ", "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a"),
    ('{"b":1,"a":2}', "d3626ac30a87e6f7a6428233b3c68299976865fa5508e4267c5415c76af7a772"),
    ('{ "a" : 2 , "b" : 1 }', "d3626ac30a87e6f7a6428233b3c68299976865fa5508e4267c5415c76af7a772"),
    ("1", "6b86b273ff34fce19d6b804eff5a3f5747ada4eaa22f1d49c01e52ddb7875b4b"),
    ("1.0", "d0ff5974b6aa52cf562bea5921840c032a860a91a3512f7fe8f768f6bbe005f6"),
    ("1e0", "d0ff5974b6aa52cf562bea5921840c032a860a91a3512f7fe8f768f6bbe005f6"),
    ("[]", "4f53cda18c2baa0c0354bb5f9a3ecbe5ed12ab4d8e11ba873c2f11161202b945"),
    ('{"a":1,"a":2}', hashlib.sha256(b'{"a":2}').hexdigest()),
    ("[1.5, 1.50, 15e-1]", hashlib.sha256(b"[1.5,1.5,1.5]").hexdigest()),
    ('"\\u00e9\\ud83d\\ude00"', hashlib.sha256('"\u00e9\U0001f600"'.encode()).hexdigest()),
]


@pytest.mark.parametrize("text,digest", HASHES)
def test_known_hashes(text, digest):
    assert qc.deterministic_hash(text) == digest
    canonical, second = qc.normalize_and_hash(text)
    assert second == digest
    assert canonical == qc.normalize_json(text)
    assert hashlib.sha256(canonical.encode()).hexdigest() == digest


def test_hash_of_texts_longer_than_one_chunk():
    # Printed text is hashed in pieces; strings longer than a piece pass straight through.
    for size in (64 * 1024 - 3, 64 * 1024, 64 * 1024 + 1, 200_000):
        for doc in (
            '["' + "x" * size + '"]',
            "[" + ",".join(["1.5"] * (size // 4)) + "]",
            '{"k":"' + "\u00e9\\n" * (size // 3) + '"}',
        ):
            canonical = qc.normalize_json(doc)
            assert qc.deterministic_hash(doc) == hashlib.sha256(canonical.encode()).hexdigest()


text_values = encodable_text(30)
documents = json_values(scalars(text_values), text_values, 6, 40)


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents, st.sampled_from([None, 1]))
def test_hash_agrees_with_hashlib(value, indent):
    text = json.dumps(value, indent=indent)
    canonical = qc.normalize_json(text)
    digest = hashlib.sha256(canonical.encode("utf-8")).hexdigest()
    assert qc.deterministic_hash(text) == digest
    assert qc.normalize_and_hash(text) == (canonical, digest)


@pytest.mark.parametrize("text", ["", "[1,]", '{"a":1', '"\\ud800"', "1e400", "[" * 200])
def test_invalid_documents_fail_alike(text):
    messages = set()
    for fn in (qc.normalize_json, qc.deterministic_hash, qc.normalize_and_hash):
        with pytest.raises(ValueError) as info:
            fn(text)
        assert type(info.value) is ValueError and len(info.value.args) == 1
        messages.add(info.value.args[0])
    assert len(messages) == 1
    assert messages.pop().startswith("invalid json: ")


def test_result_types():
    pair = qc.normalize_and_hash('{"a": [1, 2.5]}')
    assert type(pair) is tuple and len(pair) == 2
    assert all(type(x) is str for x in pair)
    digest = qc.deterministic_hash('"x"')
    assert type(digest) is str and len(digest) == 64 and set(digest) <= set("0123456789abcdef")


# Canonical texts of chosen lengths: every length up to three blocks, the padding boundaries
# (55 bytes leave room for the length in the last block, 56 do not) and whole blocks around
# larger multiples of 64, and around the 16 KB and 64 KB pieces the printed text is hashed in.
PADDING_EDGES = sorted(
    set(range(1, 193))
    | {
        64 * k + d
        for k in (4, 7, 8, 15, 16, 63, 64, 255, 256, 1023, 1024)
        for d in (-9, -8, -1, 0, 1, 55, 56, 57)
    }
    | {base + d for base in (16 * 1024, 64 * 1024, 128 * 1024) for d in range(-66, 67, 3)}
)


def canonical_of_length(n, variant):
    """A document whose canonical text is `n` UTF-8 bytes, written with whitespace and (for
    the object variant) members out of order, so that the hashed text is the module's own."""
    if n == 1:
        return " 7 ", "7"
    if variant == "ascii" or n < 20:
        body = "".join(chr(97 + i % 26) for i in range(n - 2))
        return f' "{body}" ', f'"{body}"'
    if variant == "utf-8":  # two-byte characters, the last one narrower where n is odd
        body = "é" * ((n - 2) // 2) + "x" * ((n - 2) % 2)
        return f'"\\u00e9{body[1:]}"', f'"{body}"'
    body = "q" * (n - len('{"a":1,"b":""}'))
    return f'{{ "b" : "{body}", "a" : 1 }}', f'{{"a":1,"b":"{body}"}}'


@pytest.mark.parametrize("variant", ["ascii", "utf-8", "object"])
@pytest.mark.parametrize("length", PADDING_EDGES)
def test_hash_at_every_padding_boundary(length, variant):
    doc, canonical = canonical_of_length(length, variant)
    data = canonical.encode()
    assert len(data) == length and qc.normalize_json(doc) == canonical
    digest = hashlib.sha256(data).hexdigest()
    assert qc.deterministic_hash(doc) == digest
    assert qc.normalize_and_hash(doc) == (canonical, digest)
    assert qc.process_export_payload(doc, None)[2] == digest
