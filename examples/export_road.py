"""The road of recorded calls: from their input and output values to the bytes of one
export request, as the tracing SDK drives the module.

1. Each call's input and output values go through `process_export_payload_pyobject`
   (canonical form, schema, hashes, google.protobuf.Struct bytes).
2. `build_span_proto_bytes_pyobject` turns one call into the bytes of a `Span`.
3. `build_export_spans_request_bytes_pyobject` packs a batch of spans into one
   `ExportSpansRequest`, ready to be sent.

The request is then decoded again by the small wire reader below, so the output shows
what a receiver gets.
"""

import base64
import json
import time

import quarn_core

# Merge rules: the member "body" holds Base64 of a JSON document.
RULES = {"body": {"encoding": 1, "decoded_type": 1, "match_importance": 1.0}}

CALLS = [
    {
        "name": "POST /api/orders",
        "input": {
            "method": "POST",
            "headers": {"content-type": "application/json", "x-request-id": "7f3a9c"},
            "body": base64.b64encode(json.dumps({"item": "Zoë's café", "qty": 2}).encode()).decode(),
        },
        "output": {"status": 201, "order": {"id": 91823, "total": 19.9, "items": [{"sku": "A-1", "qty": 2}]}},
    },
    {
        "name": "GET /api/orders/91823",
        "input": {"method": "GET", "headers": {"accept": "*/*"}, "body": ""},
        "output": {"status": 200, "order": {"id": 91823, "total": 19.9, "state": "paid"}},
    },
]

# ---- a minimal protobuf reader for showing the result ------------------------

SPAN_FIELDS = {
    1: "trace_id", 2: "span_id", 3: "parent_span_id", 4: "name", 5: "package_name",
    6: "instrumentation_name", 7: "submodule_name", 8: "package_type", 9: "input_value",
    10: "output_value", 11: "input_schema", 12: "output_schema", 13: "input_schema_hash",
    14: "output_schema_hash", 15: "input_value_hash", 16: "output_value_hash", 17: "kind",
    18: "status", 19: "is_pre_app_start", 20: "timestamp", 21: "duration", 22: "is_root_span",
    23: "metadata", 24: "environment", 25: "id",
}  # fmt: skip
REQUEST_FIELDS = {
    1: "observable_service_id", 2: "environment", 3: "sdk_version", 4: "sdk_instance_id", 5: "spans",
}  # fmt: skip


def varint(data, pos):
    shift = value = 0
    while True:
        b = data[pos]
        pos += 1
        value |= (b & 0x7F) << shift
        if b < 0x80:
            return value, pos
        shift += 7


def fields(data):
    """(field number, wire type, value) of one message: ints or raw bytes."""
    pos = 0
    while pos < len(data):
        key, pos = varint(data, pos)
        number, wire = key >> 3, key & 7
        if wire == 0:
            value, pos = varint(data, pos)
        elif wire == 1:
            value, pos = data[pos : pos + 8], pos + 8
        elif wire == 2:
            n, pos = varint(data, pos)
            value, pos = data[pos : pos + n], pos + n
        else:
            raise ValueError(f"unexpected wire type {wire}")
        yield number, wire, value


def show_span(data, indent="      "):
    for number, wire, value in fields(data):
        name = SPAN_FIELDS.get(number, str(number))
        if wire == 2 and number in (1, 2, 3, 4, 5, 6, 7, 13, 14, 15, 16, 24, 25):
            text = value.decode()
            print(f"{indent}{name}: {text[:16] + '…' if len(text) > 20 else text!r}")
        elif wire == 2:
            print(f"{indent}{name}: <{len(value)} bytes>")
        else:
            print(f"{indent}{name}: {value}")


# ---- the road ------------------------------------------------------------------


def main() -> None:
    spans = []
    now = time.time_ns()
    for i, call in enumerate(CALLS):
        inp, in_hash, in_schema, in_schema_hash, in_struct = quarn_core.process_export_payload_pyobject(
            call["input"], RULES
        )
        out, out_hash, out_schema, out_schema_hash, out_struct = quarn_core.process_export_payload_pyobject(
            call["output"], None
        )
        print(f"call {i}: {call['name']}")
        print(f"  input  value hash {in_hash}")
        print(f"  input  schema     {json.dumps(in_schema, separators=(',', ':'))}")
        print(f"  input  schema hash {in_schema_hash}, Struct {len(in_struct)} bytes")
        print(f"  output value hash {out_hash}, Struct {len(out_struct)} bytes")
        span = quarn_core.build_span_proto_bytes_pyobject(
            trace_id="4bf92f3577b34da6a3ce929d0e0e4736", span_id=f"00f067aa0ba902b{i}",
            parent_span_id="" if i == 0 else "00f067aa0ba902b0", name=call["name"],
            package_name="http", instrumentation_name="quarn.http", submodule_name="server",
            package_type=1, environment="production", kind=1,
            input_schema=in_schema, output_schema=out_schema,
            input_schema_hash=in_schema_hash, output_schema_hash=out_schema_hash,
            input_value_hash=in_hash, output_value_hash=out_hash,
            status_code=1, status_message="", is_pre_app_start=False, is_root_span=i == 0,
            timestamp_seconds=now // 10**9, timestamp_nanos=now % 10**9,
            duration_seconds=0, duration_nanos=1_250_000 * (i + 1),
            metadata={"host": "web-1", "attempt": 1}, input_value=None, output_value=None,
            input_value_proto_struct_bytes=in_struct, output_value_proto_struct_bytes=out_struct)  # fmt: skip
        print(f"  span {len(span)} bytes")
        spans.append(span)

    request = quarn_core.build_export_spans_request_bytes_pyobject(
        observable_service_id="checkout",
        environment="production",
        sdk_version="0.1.0",
        sdk_instance_id="instance-1",
        spans=spans,
    )
    print(f"\nExportSpansRequest: {len(request)} bytes")
    for number, _wire, value in fields(request):
        name = REQUEST_FIELDS.get(number, str(number))
        if number == 5:
            print(f"  {name}: <{len(value)} bytes>")
            show_span(value)
        else:
            print(f"  {name}: {value.decode()!r}")


if __name__ == "__main__":
    main()
