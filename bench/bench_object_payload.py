"""Throughput of process_export_payload_pyobject against the text entry on the
same payload (with and without the caller's json.dumps), and the cost of the
conversions alone.

    python bench/bench_object_payload.py
"""

import base64
import json

import quarn_core as q
from bench_export_payload import best


def report(name, seconds, size):
    print("%-48s %10.1f us  %8.1f MB/s" % (name, seconds * 1e6, size / seconds / 1e6))


def main():
    body = {"user": {"id": 12345, "name": "Ada", "tags": ["a", "b", "c"] * 10},
            "items": [{"sku": "X%d" % i, "qty": i, "price": i * 1.25} for i in range(40)]}
    span = {"method": "POST", "url": "https://example.invalid/api/v1/orders",
            "headers": {"h%d" % i: "value-%d" % i for i in range(20)},
            "body": base64.b64encode(json.dumps(body).encode()).decode(), "status": 200}
    rules = {"body": {"encoding": 1, "decoded_type": 1, "match_importance": 1}}
    big = [{"id": i, "name": "record %d" % i, "score": i / 7, "ok": i % 2 == 0, "tags": ["x", "y"]}
           for i in range(20000)]
    long = {"k%d" % i: "x" * 100_000 for i in range(20)}
    cases = [("span payload, body Base64+JSON", span, rules, 7), ("1.5 MB array, no rules", big, None, 3),
             ("20 strings of 100 kB, no rules", long, None, 3)]
    for name, payload, merges, repeat in cases:
        size = len(json.dumps(payload))
        text_merges = None if merges is None else json.dumps(merges)
        report(name + ", objects", best(lambda: q.process_export_payload_pyobject(payload, merges), repeat), size)
        report(name + ", json.dumps + text",
               best(lambda: q.process_export_payload(json.dumps(payload), text_merges), repeat), size)
    # As merges, [payload] is converted and printed, then refused by the rules
    # reader at its first byte: what remains is conversion and printing.
    for name, payload, _, repeat in cases:
        def convert_only():
            try:
                q.process_export_payload_pyobject(1, [payload])
            except ValueError:
                pass
        report(name + ", conversion and print only", best(convert_only, repeat), len(json.dumps(payload)))


if __name__ == "__main__":
    main()
