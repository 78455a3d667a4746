import os

# The protobuf package serves as an independent oracle for the wire format. Its
# pure-Python implementation orders map keys by code point when serialising
# deterministically (the order this module writes); the upb backend uses an
# order of its own, so the tests pin the pure-Python one.
os.environ.setdefault("PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION", "python")
