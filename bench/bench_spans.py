"""Span builder and export request: time per call for a typical span.

    python bench/bench_spans.py
"""

import time

import quarn_core as q

INPUT = {"user": {"id": 42, "name": "Zoë", "roles": ["admin", "ops"]}, "query": "SELECT 1", "limit": 25,
         "ratio": 0.125}
OUTPUT = {"rows": [{"id": i, "total": i * 1.5, "ok": i % 2 == 0} for i in range(20)]}


def schema_of(v):
    if isinstance(v, dict):
        return {"type": 6, "properties": {k: schema_of(x) for k, x in v.items()}}
    if isinstance(v, list):
        return {"type": 7, "items": schema_of(v[0]) if v else None}
    if isinstance(v, bool):
        return {"type": 3}
    if isinstance(v, (int, float)):
        return {"type": 1}
    return {"type": 2}


def span_args(i, input_bytes=None):
    return dict(
        trace_id="0af7651916cd43dd8448eb211c80319c", span_id="b7ad6b7169203331", parent_span_id="00f067aa0ba902b7",
        name="db.query", package_name="psycopg", instrumentation_name="quarn.psycopg", submodule_name="cursor",
        package_type=3, environment="prod", kind=2, input_schema=schema_of(INPUT), output_schema=schema_of(OUTPUT),
        input_schema_hash="a" * 64, output_schema_hash="b" * 64, input_value_hash="c" * 64, output_value_hash="d" * 64,
        status_code=1, status_message="", is_pre_app_start=False, is_root_span=i == 0,
        timestamp_seconds=1_700_000_000 + i, timestamp_nanos=123_456_789, duration_seconds=0, duration_nanos=4_200_000,
        metadata={"host": "web-1", "pid": 4242}, input_value=INPUT, output_value=OUTPUT,
        input_value_proto_struct_bytes=input_bytes, output_value_proto_struct_bytes=None)


def timeit(fn, n):
    fn()
    t = time.perf_counter()
    for _ in range(n):
        fn()
    return (time.perf_counter() - t) / n


def main():
    build = q.build_span_proto_bytes_pyobject
    struct_bytes = q.object_to_protobuf_struct_bytes(
        '{"user":{"id":42,"name":"Zo\\u00eb","roles":["admin","ops"]},"query":"SELECT 1","limit":25,"ratio":0.125}')
    span = build(**span_args(0))
    print(f"span: {len(span)} bytes")
    print(f"build_span_proto_bytes_pyobject (values as objects): {timeit(lambda: build(**span_args(1)), 20000) * 1e6:7.2f} us")
    print(f"build_span_proto_bytes_pyobject (input as Struct bytes): "
          f"{timeit(lambda: build(**span_args(1, struct_bytes)), 20000) * 1e6:7.2f} us")
    spans = [build(**span_args(i)) for i in range(100)]
    export = q.build_export_spans_request_bytes_pyobject
    per = timeit(lambda: export("svc", "prod", "1.0.0", "inst", spans), 2000)
    print(f"build_export_spans_request_bytes_pyobject, 100 spans: {per * 1e6:8.1f} us "
          f"({per / 100 * 1e9:6.0f} ns/span, {sum(map(len, spans)) / per / 1e6:6.0f} MB/s)")


if __name__ == "__main__":
    main()
