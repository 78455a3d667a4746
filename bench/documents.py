"""Deterministic benchmark documents: the same seed always gives the same text."""

import json
import random

WORDS = ["order", "customer", "payment", "refund", "Zürich", "東京", "Łódź", "naïve", "café", "Ελλάδα",
         "Привет", "🚀", "status", "retry", "timeout", "shipment", "invoice", "ß", "ümlaut", "price"]


def _text(rng, words):
    parts = [rng.choice(WORDS) for _ in range(words)]
    if rng.random() < 0.3:
        parts.insert(rng.randrange(len(parts) + 1), rng.choice(['"quoted"', "tab\there", "line\nbreak",
                                                                "back\\slash", "ctl\x01", "path/to"]))
    return " ".join(parts)


def _number(rng):
    r = rng.random()
    if r < 0.4:
        return rng.randrange(10**rng.randint(1, 12))
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
        "user": {"id": rng.randrange(10**6), "country": rng.choice(["CH", "JP", "PL", "GR", "DE"]),
                 "score": rng.random(), "address": {"city": rng.choice(WORDS), "zip": f"{rng.randrange(99999):05d}"}},
    }


def realistic_document(seed=1, target_bytes=1_000_000):
    """About `target_bytes` of UTF-8: a service envelope holding an array of span-like records."""
    rng = random.Random(seed)
    records, size, i = [], 0, 0
    while size < target_bytes - 400:
        rec = _record(rng, i)
        size += len(json.dumps(rec, ensure_ascii=False).encode()) + 2
        records.append(rec)
        i += 1
    doc = {"service": {"name": "checkout", "version": "2.14.1", "region": "eu-central-1"},
           "records": records, "summary": {"count": len(records), "mean": 12.5, "ratio": 0.875}}
    return json.dumps(doc, ensure_ascii=False)


def request_document(seed=2):
    """About 200 bytes: one small call payload."""
    rng = random.Random(seed)
    doc = {"method": "POST", "path": "/api/orders", "page": 2,
           "body": {"item": _text(rng, 2), "qty": 3, "price": 19.99, "express": True, "note": None},
           "request_id": f"{rng.getrandbits(64):016x}"}
    return json.dumps(doc, ensure_ascii=False)


def many_keys(n=10**6, descending=False):
    """An object of `n` members named k0000000 … in ascending or descending order."""
    order = range(n - 1, -1, -1) if descending else range(n)
    return "{" + ",".join(f'"k{i:07d}":{i}' for i in order) + "}"
