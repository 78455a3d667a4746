"""The 29 arguments of build_span_proto_bytes_pyobject."""

# Trace "t", span "s", name "n"; every other text empty, every code 0, both flags false, no
# environment, schemas, metadata or values. In parameter order.
MINIMAL_SPAN = dict(
    trace_id="t", span_id="s", parent_span_id="", name="n", package_name="", instrumentation_name="",
    submodule_name="", package_type=0, environment=None, kind=0, input_schema=None, output_schema=None,
    input_schema_hash="", output_schema_hash="", input_value_hash="", output_value_hash="",
    status_code=0, status_message="", is_pre_app_start=False, is_root_span=False,
    timestamp_seconds=0, timestamp_nanos=0, duration_seconds=0, duration_nanos=0, metadata=None,
    input_value=None, output_value=None, input_value_proto_struct_bytes=None,
    output_value_proto_struct_bytes=None)  # fmt: skip
SPAN_PARAMS = tuple(MINIMAL_SPAN)

# The plain string fields of the Span message.
STRING_FIELDS = ("trace_id", "span_id", "parent_span_id", "name", "package_name", "instrumentation_name",
                 "submodule_name", "input_schema_hash", "output_schema_hash", "input_value_hash",
                 "output_value_hash")  # fmt: skip


def span_args(**changes):
    """MINIMAL_SPAN with some arguments changed."""
    assert changes.keys() <= MINIMAL_SPAN.keys(), changes.keys() - MINIMAL_SPAN.keys()
    return {**MINIMAL_SPAN, **changes}
