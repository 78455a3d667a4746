"""Throughput of process_export_payload against normalize_json on the same
text (one parse and print) and against Python's own decoders.

    python bench/bench_export_payload.py
"""

import base64
import json
import time

import quarn_core as q


def best(fn, repeat=7, number=None):
    if number is None:
        number, t = 1, 0.0
        while t < 0.05:
            number *= 2
            t0 = time.perf_counter()
            for _ in range(number):
                fn()
            t = time.perf_counter() - t0
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - t0) / number)
    return min(times)


def report(name, seconds, size):
    print("%-44s %10.1f us  %8.1f MB/s" % (name, seconds * 1e6, size / seconds / 1e6))


def main():
    body = json.dumps({"user": {"id": 12345, "name": "Ada", "tags": ["a", "b", "c"] * 10},
                       "items": [{"sku": "X%d" % i, "qty": i, "price": i * 1.25} for i in range(40)]})
    span = json.dumps({"method": "POST", "url": "https://example.invalid/api/v1/orders",
                       "headers": {"h%d" % i: "value-%d" % i for i in range(20)},
                       "body": base64.b64encode(body.encode()).decode(), "status": 200})
    rules = '{"body":{"encoding":1,"decoded_type":1,"match_importance":1}}'
    big = json.dumps([{"id": i, "name": "record %d" % i, "score": i / 7, "ok": i % 2 == 0, "tags": ["x", "y"]}
                      for i in range(20000)])
    blob = json.dumps({"m": base64.b64encode(("h\u00e9llo w\u00f6rld " * 80000).encode()).decode()})

    report("span payload, normalize_json", best(lambda: q.normalize_json(span)), len(span))
    report("span payload, no rules", best(lambda: q.process_export_payload(span, None)), len(span))
    report("span payload, body Base64+JSON", best(lambda: q.process_export_payload(span, rules)), len(span))
    report("span payload, Python b64decode+json.loads",
           best(lambda: json.loads(base64.b64decode(json.loads(span)["body"]))), len(span))
    report("1.5 MB array, normalize_json", best(lambda: q.normalize_json(big), 3), len(big))
    report("1.5 MB array, no rules", best(lambda: q.process_export_payload(big, None), 3), len(big))
    report("1.5 MB Base64 member, decoded",
           best(lambda: q.process_export_payload(blob, '{"m":[1]}'), 3), len(blob))
    report("1.5 MB Base64 member, Python b64decode+decode",
           best(lambda: base64.b64decode(json.loads(blob)["m"], validate=True).decode("utf-8", "replace"), 3),
           len(blob))


if __name__ == "__main__":
    main()
