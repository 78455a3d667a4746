"""Protocol-buffer bytes written by hand: varints, keys and length-delimited fields.

Only the standard library is used, so the fuzz seed generator can import this too.
"""


def varint(n):
    """Little-endian base 128; a negative value as its 64-bit two's complement (10 bytes)."""
    n &= (1 << 64) - 1
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def key(field, wire_type):
    return varint(field << 3 | wire_type)


def ld(key_bytes, body):
    """A length-delimited field: key bytes, length varint, body."""
    return key_bytes + varint(len(body)) + body


def delimited(field, body):
    """A length-delimited field by number."""
    return ld(key(field, 2), body)


def nested_groups(depth, inner=""):
    """`depth` unknown groups (field 30) inside each other, `inner` (hex) in the innermost."""
    return bytes.fromhex("f3 01" * depth + inner + "f4 01" * depth)


def items_chain(schemas):
    """A Span's input_schema holding `schemas` schemas chained through items."""
    body = b""
    for _ in range(schemas - 1):
        body = b"\x1a" + varint(len(body)) + body
    return b"\x5a" + varint(len(body)) + body


def nested_structs(n):
    """A Span's input_value holding n Structs, each the struct_value of the one entry of the last."""
    body = b""
    for _ in range(n):
        value = b"\x2a" + varint(len(body)) + body
        entry = b"\x12" + varint(len(value)) + value
        body = b"\x0a" + varint(len(entry)) + entry
    return b"\x4a" + varint(len(body)) + body
