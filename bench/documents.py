"""Deterministic benchmark documents: the same seed always gives the same text.

Sizes, as UTF-8 bytes of the JSON text:
  request  ~200 B    one small call payload
  typical  ~2 KB     an API payload: nested objects, a few records
  large    ~1 MB     a service envelope holding an array of span-like records
  huge     ~20 MB    the same shape; records past the first MB repeat with new ids
The content is realistic in shape: nested objects, arrays of records, strings with
non-ASCII text and escapes, integers and doubles of many magnitudes.

Besides these, the standard documents that JSON libraries are usually measured on are read
from a directory (the corpus): canada.json, citm_catalog.json and twitter.json, and the
records that twitter.json and citm_catalog.json hold are taken apart for per-record calls.
"""

import base64
import json
import random
from pathlib import Path

WORDS = ["order", "customer", "payment", "refund", "Zürich", "東京", "Łódź", "naïve", "café", "Ελλάδα",
         "Привет", "🚀", "status", "retry", "timeout", "shipment", "invoice", "ß", "ümlaut", "price"]  # fmt: skip

SIZES = {"request": 200, "typical": 2_000, "large": 1_000_000, "huge": 20_000_000}

# Past this many bytes of distinct records, records are repeated (with fresh ids) to
# reach the target: generating 100 MB record by record would take half a minute.
_DISTINCT_BYTES = 1_000_000


def _text(rng, words):
    parts = [rng.choice(WORDS) for _ in range(words)]
    if rng.random() < 0.3:
        parts.insert(
            rng.randrange(len(parts) + 1),
            rng.choice(['"quoted"', "tab\there", "line\nbreak", "back\\slash", "ctl\x01", "path/to"]),
        )
    return " ".join(parts)


def _number(rng):
    r = rng.random()
    if r < 0.4:
        return rng.randrange(10 ** rng.randint(1, 12))
    if r < 0.5:
        return -rng.randrange(1, 10**9)
    if r < 0.8:
        return round(rng.uniform(0, 10000), rng.randint(0, 6))
    return rng.uniform(-1, 1) * 10 ** rng.randint(-30, 30)


def _record(rng, i):
    attributes = {f"attr_{rng.randrange(1000):03d}": _number(rng) for _ in range(rng.randint(2, 6))}
    attributes["label"] = _text(rng, 3)
    return {
        "id": i,
        "trace_id": f"{rng.getrandbits(128):032x}",
        "span_id": f"{rng.getrandbits(64):016x}",
        "name": _text(rng, 2),
        "message": _text(rng, rng.randint(3, 12)),
        "ok": rng.random() < 0.9,
        "parent": None if rng.random() < 0.2 else f"{rng.getrandbits(64):016x}",
        "duration_ms": round(rng.uniform(0.01, 5000), 3),
        "timestamp": 1_700_000_000_000 + rng.randrange(10**9),
        "tags": [_text(rng, 1) for _ in range(rng.randint(0, 4))],
        "metrics": [_number(rng) for _ in range(rng.randint(1, 8))],
        "attributes": attributes,
        "user": {
            "id": rng.randrange(10**6),
            "country": rng.choice(["CH", "JP", "PL", "GR", "DE"]),
            "score": rng.random(),
            "address": {"city": rng.choice(WORDS), "zip": f"{rng.randrange(99999):05d}"},
        },
    }


def _dump(value):
    return json.dumps(value, ensure_ascii=False)


def _records(seed, target_bytes):
    """Records whose texts add up to about `target_bytes`, as (dicts, texts)."""
    rng = random.Random(seed)
    records, texts, size = [], [], 0
    while size < min(target_bytes, _DISTINCT_BYTES):
        rec = _record(rng, len(records))
        records.append(rec)
        texts.append(_dump(rec))
        size += len(texts[-1].encode()) + 2
    distinct = len(records)
    while size < target_bytes:
        rec = dict(records[len(records) % distinct], id=len(records))
        records.append(rec)
        texts.append(_dump(rec))
        size += len(texts[-1].encode()) + 2
    return records, texts


def _envelope(count):
    return {
        "service": {"name": "checkout", "version": "2.14.1", "region": "eu-central-1"},
        "summary": {"count": count, "mean": 12.5, "ratio": 0.875},
    }


def realistic_document(seed=1, target_bytes=1_000_000):
    """About `target_bytes` of UTF-8: a service envelope holding an array of span-like records."""
    _, texts = _records(seed, max(0, target_bytes - 200))
    head = _dump(_envelope(len(texts)))
    return head[:-1] + ', "records": [' + ", ".join(texts) + "]}"


def request_document(seed=2):
    """About 200 bytes: one small call payload."""
    rng = random.Random(seed)
    doc = {"method": "POST", "path": "/api/orders", "page": 2,
           "body": {"item": _text(rng, 2), "qty": 3, "price": 19.99, "express": True, "note": None},
           "request_id": f"{rng.getrandbits(64):016x}"}  # fmt: skip
    return _dump(doc)


def document(size_name, seed=1):
    """The benchmark document of one of the SIZES names, as JSON text."""
    if size_name == "request":
        return request_document(seed + 1)
    return realistic_document(seed, SIZES[size_name])


# Export payloads: a recorded call's value whose "body" member carries JSON text in Base64,
# as an HTTP instrumentation hands it over, with merge rules that decode it.

PAYLOAD_RULES = {"body": {"encoding": 1, "decoded_type": 1, "match_importance": 1.0},
                 "records": {"match_importance": 0.5}, "absent": {"encoding": 2}}  # fmt: skip


def _b64_json(value):
    return base64.b64encode(_dump(value).encode()).decode()


def export_payload(size_name, seed=1, target_bytes=None):
    """(payload dict, merge rules dict) of about the size named (or `target_bytes`): a
    quarter of the records travel Base64-encoded in "body", the rest as plain members."""
    if size_name == "request":
        payload = json.loads(request_document(seed + 1))
        payload["body"] = _b64_json(payload["body"])
        return payload, PAYLOAD_RULES
    records, _ = _records(seed, (target_bytes or SIZES[size_name]) * 0.92)
    cut = max(1, len(records) // 4)
    payload = _envelope(len(records))
    payload["records"] = records[cut:]
    payload["body"] = _b64_json({"records": records[:cut], "page": 1})
    return payload, PAYLOAD_RULES


def span_values(seed=5):
    """Two ~2 KB values, the input and output of a typical recorded call."""
    return json.loads(document("typical", seed)), json.loads(document("typical", seed + 1))


# Scale documents.


def many_keys(n=10**6, descending=False):
    """An object of `n` members named k0000000 … in ascending or descending order."""
    order = range(n - 1, -1, -1) if descending else range(n)
    return "{" + ",".join(f'"k{i:07d}":{i}' for i in order) + "}"


def _chain(rng, depth):
    """`depth` containers nested in one another, objects and arrays alternating, each
    holding an integer, a double and a string besides the next level."""
    opens, closes = [], []
    for level in range(depth):
        n, x, s = rng.randrange(10**6), round(rng.uniform(0, 1000), 3), _dump(rng.choice(WORDS))
        if level % 2 == 0:
            opens.append(f'{{"n":{n},"x":{x},"s":{s},"c":')
            closes.append("}")
        else:
            opens.append(f"[{n},{x},{s},")
            closes.append("]")
    return "".join(opens) + "null" + "".join(reversed(closes))


def _flat_items(rng, count):
    """The same scalars as `_chain` gives, in `count` containers that are not nested."""
    items = []
    for level in range(count):
        n, x, s = rng.randrange(10**6), round(rng.uniform(0, 1000), 3), _dump(rng.choice(WORDS))
        items.append(f'{{"n":{n},"x":{x},"s":{s},"c":null}}' if level % 2 == 0 else f"[{n},{x},{s},null]")
    return ",".join(items)


def deep_document(target_bytes=1_000_000, depth=127, seed=7):
    """An array of chains nested `depth` levels deep in all (the array is level 1)."""
    rng = random.Random(seed)
    parts, size = [], 2
    while size < target_bytes:
        parts.append(_chain(rng, depth - 1))
        size += len(parts[-1].encode()) + 1
    return "[" + ",".join(parts) + "]"


def flat_document(target_bytes=1_000_000, seed=7):
    """The scalars of `deep_document` in containers at level 2 only, about as many bytes."""
    rng = random.Random(seed)
    parts, size = [], 2
    while size < target_bytes:
        parts.append(_flat_items(rng, 126))
        size += len(parts[-1].encode()) + 1
    return "[" + ",".join(parts) + "]"


# The standard documents.

# Beside the repository's clone: <clone>/../shared/json-corpus.
DEFAULT_CORPUS = Path(__file__).resolve().parents[2] / "shared" / "json-corpus"
CORPUS_FILES = {"canada": "canada.json", "citm": "citm_catalog.json", "twitter": "twitter.json"}


def missing_corpus_files(directory, names=tuple(CORPUS_FILES)):
    """The file names among the documents `names` that `directory` lacks."""
    return [CORPUS_FILES[n] for n in names if not (Path(directory) / CORPUS_FILES[n]).is_file()]


def corpus_document(directory, name):
    """One standard document's text, as its file holds it."""
    return (Path(directory) / CORPUS_FILES[name]).read_bytes().decode("utf-8")


def corpus_records(directory):
    """The small records of the standard documents, as an SDK would hand them over one by one:
    {group: (objects, texts)} for the statuses of twitter.json (its "statuses" array) and the
    events of citm_catalog.json (the values of its "events" object), each record also printed
    compactly as its own JSON text (non-ASCII characters as they are, like the files)."""
    twitter = json.loads(corpus_document(directory, "twitter"))
    citm = json.loads(corpus_document(directory, "citm"))
    out = {}
    for group, records in (("statuses", twitter["statuses"]), ("events", list(citm["events"].values()))):
        out[group] = (records, [json.dumps(r, ensure_ascii=False, separators=(",", ":")) for r in records])
    return out
