"""The protobuf message classes of proto/quarn.proto, an oracle independent of the module.

grpcio-tools' protoc compiles the .proto file into a descriptor set at import time; the
classes are made from it in a pool of their own. No generated code is kept, so nothing can
fall behind the .proto file or mismatch the installed protobuf runtime.
"""

import os
import platform
import tempfile
from importlib import resources
from pathlib import Path

from google.protobuf import (
    descriptor_pb2,
    descriptor_pool,
    duration_pb2,
    message_factory,
    struct_pb2,
    timestamp_pb2,
)

PROTO = Path(__file__).resolve().parents[2] / "proto" / "quarn.proto"
# The CPUs for which the test extra installs grpcio-tools (it publishes binary wheels for them).
GRPC_TOOLS_EXPECTED = platform.machine() in ("x86_64", "AMD64", "aarch64", "arm64", "i686")


def _file_descriptor():
    try:
        from grpc_tools import protoc
    except ImportError as e:  # a missing compiler must not pass for a missing protobuf package
        if GRPC_TOOLS_EXPECTED:
            raise RuntimeError("grpcio-tools is needed to compile proto/quarn.proto (the test extra)") from e
        import pytest

        # No binary wheel of grpcio-tools for this CPU (the test extra leaves it out):
        # the tests that compare with protobuf's message classes skip.
        pytest.skip("grpcio-tools has no binary wheel for %s" % platform.machine(), allow_module_level=True)

    well_known = resources.files("grpc_tools") / "_proto"
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "quarn.desc")
        args = ["protoc", f"-I{PROTO.parent}", f"-I{well_known}", f"--descriptor_set_out={out}", PROTO.name]
        if protoc.main(args) != 0:
            raise RuntimeError(f"protoc failed on {PROTO}")
        (fd,) = descriptor_pb2.FileDescriptorSet.FromString(Path(out).read_bytes()).file
    return fd


def _classes():
    pool = descriptor_pool.DescriptorPool()
    for dep in (struct_pb2, timestamp_pb2, duration_pb2):
        pool.AddSerializedFile(dep.DESCRIPTOR.serialized_pb)
    fd = _file_descriptor()
    pool.Add(fd)
    return [
        message_factory.GetMessageClass(pool.FindMessageTypeByName(f"{fd.package}.{name}"))
        for name in ("JsonSchema", "SpanStatus", "Span", "ExportSpansRequest")
    ]


JsonSchema, SpanStatus, Span, ExportSpansRequest = _classes()


def parse(cls, data):
    msg = cls()
    msg.ParseFromString(data)
    return msg


def canonical(msg):
    """The message without unknown fields, serialized deterministically."""
    msg = type(msg).FromString(msg.SerializeToString())
    msg.DiscardUnknownFields()
    return msg.SerializeToString(deterministic=True)
