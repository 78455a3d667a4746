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
