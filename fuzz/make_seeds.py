#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into OUT/<target>/.

Sources: the string and bytes literals of the Python files under tests/, the JSON test suite
(../shared/json-test-suite beside the repository, or $QUARN_JSON_SUITE) when it
is there, and a few Struct and Span encodings built here with a small
protocol-buffer writer (tests/support/wire.py). Only the standard library is used.

    fuzz/make_seeds.py OUT
"""

import ast
import contextlib
import hashlib
import json
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)
from tests.support.wire import delimited, key, varint  # noqa: E402

MAX_SEED = 64 * 1024


def literals():
    strs, blobs = set(), set()
    paths = []
    for folder, dirs, names in os.walk(os.path.join(ROOT, "tests")):
        dirs.sort()
        paths += [os.path.join(folder, n) for n in sorted(names) if n.endswith(".py")]
    for path in paths:
        with open(path, encoding="utf-8") as f:
            tree = ast.parse(f.read())
        for node in ast.walk(tree):
            if isinstance(node, ast.Constant):
                if isinstance(node.value, str) and node.value:
                    strs.add(node.value)
                elif isinstance(node.value, bytes) and node.value:
                    blobs.add(node.value)
    return sorted(strs), sorted(blobs)


def suite_files():
    suite = os.environ.get("QUARN_JSON_SUITE") or os.path.join(
        os.path.dirname(ROOT), "shared", "json-test-suite"
    )
    out = []
    for sub in ("test_parsing", "test_transform"):
        d = os.path.join(suite, sub)
        if os.path.isdir(d):
            for name in sorted(os.listdir(d)):
                with open(os.path.join(d, name), "rb") as f:
                    out.append(f.read())
    return out


# ---- Struct, JsonSchema and Span encodings -----------------------------------------------------


def pb_value(v):
    if v is None:
        return key(1, 0) + varint(0)
    if isinstance(v, bool):
        return key(4, 0) + varint(int(v))
    if isinstance(v, (int, float)):
        return key(2, 1) + struct.pack("<d", float(v))
    if isinstance(v, str):
        return delimited(3, v.encode())
    if isinstance(v, dict):
        return delimited(5, pb_struct(v))
    return delimited(6, b"".join(delimited(1, pb_value(e)) for e in v))


def pb_struct(obj):
    return b"".join(
        delimited(1, delimited(1, k.encode()) + delimited(2, pb_value(v))) for k, v in sorted(obj.items())
    )


def pb_schema(s):
    out = b""
    if s.get("type"):
        out += key(1, 0) + varint(s["type"])
    for name, sub in sorted(s.get("properties", {}).items()):
        out += delimited(2, delimited(1, name.encode()) + delimited(2, pb_schema(sub)))
    if "items" in s:
        out += delimited(3, pb_schema(s["items"]))
    if "encoding" in s:
        out += key(4, 0) + varint(s["encoding"])
    if "decoded_type" in s:
        out += key(5, 0) + varint(s["decoded_type"])
    if "match_importance" in s:
        out += key(6, 1) + struct.pack("<d", s["match_importance"])
    return out


def pb_span(i):
    doc = {"a": [1, "x", None, True, {"k": -2.5}], "b": {"c": "d"}}
    schema = {"type": 6, "properties": {
        "a": {"type": 7, "items": {"type": 1}},
        "b": {"type": 6, "encoding": 1, "decoded_type": 1, "match_importance": 0.5}}}  # fmt: skip
    out = b""
    for field, text in enumerate(["0" * 32, "1" * 16, "2" * 16, "call", "pkg", "inst", "sub"], start=1):
        out += delimited(field, text.encode())
    out += key(8, 0) + varint(i % 12)
    out += delimited(9, pb_struct(doc)) + delimited(10, pb_struct({}))
    out += delimited(11, pb_schema(schema)) + delimited(12, pb_schema({"type": 4}))
    for field in (13, 14, 15, 16):
        out += delimited(field, b"f" * 64)
    out += key(17, 0) + varint(i % 6)
    out += delimited(18, key(1, 0) + varint(i % 3) + delimited(2, b"ok"))
    out += key(19, 0) + varint(1)
    out += delimited(20, key(1, 0) + varint(1700000000) + key(2, 0) + varint(5))
    out += delimited(21, key(1, 0) + varint(2) + key(2, 0) + varint(-1))
    out += key(22, 0) + varint(1)
    out += delimited(23, pb_struct({"m": i}))
    out += delimited(24, b"") + delimited(25, b"id-%d" % i)
    return out


# ---- corpora ------------------------------------------------------------------------------------


def write(out, target, blobs):
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    n = 0
    for b in blobs:
        if 0 < len(b) <= MAX_SEED:
            with open(os.path.join(d, hashlib.sha1(b).hexdigest()), "wb") as f:
                f.write(b)
            n += 1
    return n


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    strs, blobs = literals()
    texts = [s.encode("utf-8", "surrogatepass") for s in strs]
    suite = suite_files()

    def is_json(s):
        try:
            json.loads(s)
            return True
        except ValueError:
            return False

    json_texts = [s for s in strs if is_json(s)]
    objects = [s for s in json_texts if s.lstrip().startswith("{")]
    rules = [s for s in objects if any(k in s for k in ("encoding", "decoded_type", "match_importance"))]
    rules += ['{"a":{"encoding":1,"decoded_type":1,"match_importance":2}}', '{"a":[1,1,0.5]}', '{"b":[2,0]}']
    payloads = objects[:200] + ['{"b":[1,"x"],"a":"eyJ4IjoxfQ=="}', '{"a":"aGVsbG8=","b":"[1,2]"}']

    docs = [json.loads(s) for s in objects[:200]]
    structs = []
    for d in docs:
        if isinstance(d, dict):
            with contextlib.suppress(UnicodeEncodeError):  # lone surrogates have no UTF-8 form
                structs.append(pb_struct(d))
    spans = [pb_span(i) for i in range(4)]

    def raw(s):
        return s.encode("utf-8", "surrogatepass")

    counts = {
        "fuzz_json": write(out, "fuzz_json", texts + suite),
        "fuzz_merge_rules": write(out, "fuzz_merge_rules", [raw(s) for s in objects] + suite),
        "fuzz_payload": write(out, "fuzz_payload", [raw(p) for p in payloads] +
                              [raw(p + "\0" + r) for p in payloads[-10:] for r in rules[:40]]),
        "fuzz_struct": write(out, "fuzz_struct", blobs + structs),
        "fuzz_span": write(out, "fuzz_span", blobs + spans + structs[:20]),
        "fuzz_schema": write(out, "fuzz_schema", [raw(s) for s in objects]),
        "fuzz_base64_utf8": write(out, "fuzz_base64_utf8", blobs + texts[:300]),
        # mode (0 reads the text as it is), start and cut of the range, text
        "fuzz_scan": write(out, "fuzz_scan", [bytes([m, i, 7 * i % 256]) + t
                                              for i, t in enumerate(texts[:200]) for m in (0, 1, 2, 3)]),
        # Ten header bytes (offset, rounds, split seed), then messages around the block edges.
        "fuzz_sha256": write(out, "fuzz_sha256",
                             [bytes([n % 64, n % 8, n % 256, 3, 5, 7, 11, 13, 17, 19]) + b"q" * n
                              for n in (0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 1000, 4096)] +
                             [bytes([7, 2, 9, 9, 9, 9, 9, 9, 9, 9]) + t for t in texts[:100]]),
    }  # fmt: skip
    for target, n in counts.items():
        print("%-18s %d seeds" % (target, n))


if __name__ == "__main__":
    main()
