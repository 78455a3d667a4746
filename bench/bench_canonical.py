"""Throughput of canonical JSON and hashing against the standard library and orjson.

Run: python bench/bench_canonical.py [--quick]

Every job turns one JSON text into its canonical text and/or hash. Jobs are timed in batches,
interleaved round by round so that drift of the machine hits all of them alike, and the median
per-call time over the rounds is reported with the throughput it gives over the input's UTF-8
size. hashlib over the input bytes alone is the floor: no parser can be faster than reading.
"""

import argparse
import hashlib
import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import quarn_core as qc  # noqa: E402
from documents import many_keys, realistic_document, request_document  # noqa: E402

try:
    import orjson
except ImportError:  # the bench extra installs it
    orjson = None


def stdlib_normalize(text):
    return json.dumps(json.loads(text), sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def stdlib_normalize_and_hash(text):
    out = stdlib_normalize(text)
    return out, hashlib.sha256(out.encode()).hexdigest()


def orjson_normalize(text):
    return orjson.dumps(orjson.loads(text), option=orjson.OPT_SORT_KEYS)


def orjson_normalize_and_hash(text):
    out = orjson_normalize(text)
    return out, hashlib.sha256(out).hexdigest()


def jobs(text):
    data = text.encode()
    table = [
        ("quarn normalize_and_hash", lambda: qc.normalize_and_hash(text)),
        ("quarn normalize_json", lambda: qc.normalize_json(text)),
        ("quarn deterministic_hash", lambda: qc.deterministic_hash(text)),
        ("json loads+dumps+sha256", lambda: stdlib_normalize_and_hash(text)),
        ("json loads+dumps", lambda: stdlib_normalize(text)),
    ]
    if orjson is not None:
        table += [("orjson loads+dumps+sha256", lambda: orjson_normalize_and_hash(text)),
                  ("orjson loads+dumps", lambda: orjson_normalize(text))]
    table.append(("sha256 of the bytes (floor)", lambda: hashlib.sha256(data).hexdigest()))
    return table


def measure(text, rounds, batch_seconds):
    table = jobs(text)
    # Calibrate a batch size per job so that one batch takes about `batch_seconds`.
    sizes = []
    for _, fn in table:
        t0 = time.perf_counter()
        fn()
        one = max(time.perf_counter() - t0, 1e-7)
        sizes.append(max(1, int(batch_seconds / one)))
    samples = [[] for _ in table]
    for _ in range(rounds):
        for i, (_, fn) in enumerate(table):
            n = sizes[i]
            t0 = time.perf_counter()
            for _ in range(n):
                fn()
            samples[i].append((time.perf_counter() - t0) / n)
    return [(name, statistics.median(s)) for (name, _), s in zip(table, samples)]


def report(title, text, rounds, batch_seconds):
    size = len(text.encode())
    print(f"\n{title}: {size:,} bytes, median of {rounds} interleaved rounds")
    print(f"  {'job':<30}{'per call':>14}{'MB/s':>10}{'vs quarn n+h':>14}")
    results = measure(text, rounds, batch_seconds)
    base = results[0][1]
    for name, t in results:
        per_call = f"{t * 1e6:,.1f} µs" if t < 0.1 else f"{t * 1e3:,.1f} ms"
        print(f"  {name:<30}{per_call:>14}{size / t / 1e6:>10.1f}{t / base:>13.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds (a smoke run)")
    args = parser.parse_args()
    rounds = 3 if args.quick else 11
    if orjson is None:
        print("orjson is not installed (pip install '.[bench]'); its rows are left out")
    report("realistic document", realistic_document(), rounds, 0.05)
    report("request-sized document", request_document(), rounds, 0.02)
    n = 10**6
    report(f"{n:,} keys ascending", many_keys(n), max(3, rounds // 3), 0.0)
    report(f"{n:,} keys descending", many_keys(n, descending=True), max(3, rounds // 3), 0.0)


if __name__ == "__main__":
    main()
