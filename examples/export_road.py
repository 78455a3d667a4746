"""The road of one recorded call: from its values to the bytes of an export request.

Run after installing the module (see README). Until the span builders exist this
prints what the module can already do: the canonical text and hash of a sample
call's input document and its google.protobuf.Struct bytes.
"""

import hashlib
import json

import quarn_core

SAMPLE_INPUT = {
    "user": {"id": 42, "name": "Zoë", "roles": ["admin", "ops"]},
    "query": "SELECT * FROM orders WHERE total > 100.5",
    "limit": 25,
    "ratio": 0.125,
}


def main() -> None:
    text = json.dumps(SAMPLE_INPUT, indent=2, ensure_ascii=False)
    canonical, digest = quarn_core.normalize_and_hash(text)
    assert digest == hashlib.sha256(canonical.encode()).hexdigest()
    struct_bytes = quarn_core.object_to_protobuf_struct_bytes(text)
    print("canonical input :", canonical)
    print("input hash      :", digest)
    print("Struct bytes    :", len(struct_bytes), "bytes,",
          quarn_core.object_to_protobuf_struct_field_count(text), "top-level fields")


if __name__ == "__main__":
    main()
