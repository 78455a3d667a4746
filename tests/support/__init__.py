"""What the tests, the benchmarks and the fuzz seed generator share.

wire: protocol-buffer bytes written by hand (standard library only).
messages: the protobuf message classes of proto/quarn.proto.
spans: the 29 arguments of build_span_proto_bytes_pyobject.
objects: interpreter objects with hostile protocol methods.
strategies: Hypothesis strategies for JSON values and span fields.
calls: a table of calls of all nine functions with their exact outcomes.
interpreter: the interpreter's own texts for the conversion failures the module passes on.
"""
