"""Decoding cost of embedded messages split into many occurrences.

A Struct value may arrive as many occurrences of the same field (each one
merges into the earlier ones): a Value whose struct_value comes in k pieces, a
ListValue in k pieces, a Span whose input_value or input_schema comes in k
pieces. The time per piece should stay flat as k grows (linear overall).

    python bench/bench_split_messages.py
"""

import time

import quarn_core as q


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def ld(key, body):
    return key + varint(len(body)) + body


def key_bytes(i):
    return b"k%06d" % i


def split_struct_value(k):
    """input_value {"v": struct_value in k pieces, one distinct key each}."""
    pieces = b"".join(ld(b"\x2a", ld(b"\x0a", ld(b"\x0a", key_bytes(i)) + ld(b"\x12", b"\x20\x01"))) for i in range(k))
    entry = ld(b"\x0a", b"v") + ld(b"\x12", pieces)
    return ld(b"\x4a", ld(b"\x0a", entry))


def split_list_value(k):
    pieces = b"".join(ld(b"\x32", ld(b"\x0a", b"\x20\x01")) for _ in range(k))
    entry = ld(b"\x0a", b"v") + ld(b"\x12", pieces)
    return ld(b"\x4a", ld(b"\x0a", entry))


def split_input_value(k):
    return b"".join(ld(b"\x4a", ld(b"\x0a", ld(b"\x0a", key_bytes(i)) + ld(b"\x12", b"\x20\x01"))) for i in range(k))


def split_input_schema(k):
    return b"".join(ld(b"\x5a", ld(b"\x12", ld(b"\x0a", key_bytes(i)) + ld(b"\x12", b"\x08\x01"))) for i in range(k))


def main():
    for name, make in [("struct_value", split_struct_value), ("list_value", split_list_value),
                       ("Span.input_value", split_input_value), ("Span.input_schema", split_input_schema)]:
        for k in (2000, 8000, 32000):
            data = make(k)
            t = time.perf_counter()
            out = q.build_export_spans_request_bytes_pyobject("", "", "", "", [data])
            dt = time.perf_counter() - t
            print(f"{name:18} k={k:6} input {len(data):8} B output {len(out):8} B  {dt * 1e3:8.2f} ms"
                  f"  {dt / k * 1e9:8.0f} ns/piece")


if __name__ == "__main__":
    main()
