"""Hand-built protocol-buffer bytes for the tests: varints and length-delimited fields."""


def varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def ld(key, body):
    """A length-delimited field: key bytes, length varint, body."""
    return key + varint(len(body)) + body
