"""The benchmark cases: each builder makes its documents and returns a Case of module jobs
and peer jobs that do the same work, with a check that they do."""

import json
import math

import orjson
from google.protobuf import json_format, struct_pb2

import quarn_core as qc
from tests.support.messages import ExportSpansRequest, Span
from tests.support.wire import ld

from . import documents, peers
from .harness import FLOOR, MODULE, PEER, Case, Job


def _utf8_size(text):
    return len(text.encode())


def same_value(a, b, path="$"):
    """Raise AssertionError unless two JSON-shaped values agree; doubles may differ in the
    last bit or two (the module's number conversion can land on a neighbouring double)."""
    if isinstance(a, float) or isinstance(b, float):
        ok = (
            isinstance(a, (int, float))
            and isinstance(b, (int, float))
            and not isinstance(a, bool)
            and not isinstance(b, bool)
            and math.isclose(a, b, rel_tol=1e-15, abs_tol=0.0)
        )
        if not ok:
            raise AssertionError(f"{path}: {a!r} != {b!r}")
    elif type(a) is not type(b):
        raise AssertionError(f"{path}: {type(a).__name__} != {type(b).__name__}")
    elif type(a) is dict:
        if sorted(a) != sorted(b):
            raise AssertionError(f"{path}: keys differ: {sorted(set(a) ^ set(b))[:5]}")
        for k in a:
            same_value(a[k], b[k], f"{path}.{k}")
    elif type(a) is list:
        if len(a) != len(b):
            raise AssertionError(f"{path}: {len(a)} != {len(b)} elements")
        for i, (x, y) in enumerate(zip(a, b)):
            same_value(x, y, f"{path}[{i}]")
    elif a != b:
        raise AssertionError(f"{path}: {a!r} != {b!r}")


def _struct_value(data):
    message = struct_pb2.Struct()
    message.ParseFromString(data)
    return json_format.MessageToDict(message)


def _jobs(size, *rows):
    """A case's jobs from (name, call, role) rows, each handling `size` bytes per call; the first
    is the module job its peers are compared with."""
    return [Job(name, fn, role, primary=i == 0, size=size) for i, (name, fn, role) in enumerate(rows)]


def _sha256_of(text):
    return peers.sha256(text.encode() if isinstance(text, str) else text).hexdigest()


# Canonical text and hash.


def _canonical(name, title, text):
    """normalize_and_hash, normalize_json and deterministic_hash on one document, against the
    standard library's and orjson's pipelines and SHA-256 of the bytes alone."""
    data = text.encode()
    size = len(data)

    def check():
        out, digest = qc.normalize_and_hash(text)
        assert digest == _sha256_of(out) == qc.deterministic_hash(text) and out == qc.normalize_json(text)
        expected = json.loads(text)
        same_value(json.loads(out), expected)
        same_value(json.loads(peers.stdlib_normalize_and_hash(text)[0]), expected)
        same_value(orjson.loads(peers.orjson_normalize_and_hash(text)[0]), expected)

    jobs = _jobs(
        size,
        ("quarn normalize_and_hash", lambda: qc.normalize_and_hash(text), MODULE),
        ("quarn normalize_json", lambda: qc.normalize_json(text), MODULE),
        ("quarn deterministic_hash", lambda: qc.deterministic_hash(text), MODULE),
        ("json loads+dumps, sha256", lambda: peers.stdlib_normalize_and_hash(text), PEER),
        ("orjson loads+dumps, sha256", lambda: peers.orjson_normalize_and_hash(text), PEER),
        ("sha256 of the bytes (floor)", lambda: peers.sha256(data).hexdigest(), FLOOR),
    )
    notes = [("quarn deterministic_hash / floor", "quarn deterministic_hash", "sha256 of the bytes (floor)")]
    return Case(name, f"{title} ({size:,} B)", jobs, check=check, notes=notes)


def canonical(size_name):
    text = documents.document(size_name)
    return _canonical(f"canonical-{size_name}", f"canonical text + hash, {size_name} document", text)


# The standard documents and the records they hold.

CORPUS_TITLES = {
    "canada": "canada.json: numbers",
    "citm": "citm_catalog.json: pretty-printed structure",
    "twitter": "twitter.json: text",
}


def _parts(text):
    """The steps of the canonical pipeline timed one by one (group "parts", no ratio), to set a
    job against the sum of its parts: the module's parse, digits, print and hash on the text that
    is already canonical (no whitespace to skip, no member to reorder), the result `str` made from
    the canonical bytes, orjson's parse and sorted print, and SHA-256 of the canonical bytes."""
    canonical = qc.normalize_json(text)
    out = canonical.encode()
    value = orjson.loads(text)
    rows = [
        (
            "part: quarn deterministic_hash, canonical text in",
            lambda: qc.deterministic_hash(canonical),
            MODULE,
        ),
        ("part: str of the canonical bytes (result object)", lambda: out.decode(), FLOOR),
        ("part: orjson loads", lambda: orjson.loads(text), PEER),
        ("part: orjson dumps, sorted", lambda: orjson.dumps(value, option=peers.SORT), PEER),
        ("part: sha256 of the canonical bytes", lambda: peers.sha256(out).hexdigest(), FLOOR),
    ]
    sizes = [len(out), len(out), len(text.encode()), len(out), len(out)]

    def check():
        # The parts redo the whole job's work: the canonical text is its own canonical text.
        assert qc.deterministic_hash(canonical) == qc.deterministic_hash(text) == _sha256_of(out)

    jobs = [Job(name, fn, role, group="parts", size=n) for (name, fn, role), n in zip(rows, sizes)]
    return jobs, check


def corpus_document(directory, name):
    text = documents.corpus_document(directory, name)
    case = _canonical(f"corpus-{name}", f"canonical text + hash, {CORPUS_TITLES[name]}", text)
    jobs, check_parts = _parts(text)
    case.jobs += jobs
    check_whole = case.check

    def check():
        check_whole()
        check_parts()

    case.check = check
    return case


# What a call's keyword arguments typically hold, recorded with every record.
RECORD_KWARGS = {"timeout": 30.0, "retries": 2, "stream": False, "headers": {"Accept": "application/json"}}


def _each(fn, items):
    """One call of `fn` per item, the results dropped as an SDK would after handing them on."""

    def run():
        for item in items:
            fn(item)

    return run


def corpus_records(directory):
    """Per-record calls on the statuses of twitter.json and the events of citm_catalog.json: the
    canonical text + hash of each record's JSON text, and process_export_payload_pyobject on each
    record as a call's recorded arguments, {"args": record, "kwargs": RECORD_KWARGS}."""
    jobs, checks, counts = [], [], []
    for group, (objects, texts) in documents.corpus_records(directory).items():
        payloads = [{"args": r, "kwargs": RECORD_KWARGS} for r in objects]
        payload_texts = [json.dumps(p, ensure_ascii=False, separators=(",", ":")) for p in payloads]
        n, size, payload_size = len(texts), sum(map(_utf8_size, texts)), sum(map(_utf8_size, payload_texts))
        canon, payload = f"{group}: canonical", f"{group}: payload"
        jobs += [
            Job(f"quarn normalize_and_hash, {group}", _each(qc.normalize_and_hash, texts), MODULE, canon, True, size, n),
            Job(f"orjson loads+dumps, sha256, {group}", _each(peers.orjson_normalize_and_hash, texts), PEER, canon, size=size, calls=n),
            Job(f"quarn process_export_payload_pyobject, {group}",
                _each(lambda p: qc.process_export_payload_pyobject(p, None), payloads), MODULE, payload, True, payload_size, n),
            Job(f"orjson dumps+loads, sha256 (floor), {group}",
                _each(lambda p: peers.payload_floor_object(p, None), payloads), FLOOR, payload, size=payload_size, calls=n),
        ]  # fmt: skip
        checks.append((objects, texts, payloads, payload_texts))
        counts.append(f"{n} {group} ({size / n:,.0f} B each on average)")

    def check():
        for objects, texts, payloads, payload_texts in checks:
            for value, text in zip(objects, texts):
                out, digest = qc.normalize_and_hash(text)
                assert digest == _sha256_of(out), "hash of another text than the canonical one"
                same_value(json.loads(out), value)
                same_value(orjson.loads(peers.orjson_normalize_and_hash(text)[0]), value)
            for payload, text in zip(payloads, payload_texts):
                normalized, value_hash, schema, schema_hash, struct = qc.process_export_payload_pyobject(
                    payload, None
                )
                assert value_hash == qc.deterministic_hash(text), "value hash of another value"
                floor = peers.payload_floor_object(payload, None)
                same_value(normalized, floor[0])
                assert floor[1] == _sha256_of(orjson.dumps(floor[0], option=peers.SORT))
                p = peers.process_payload_object(payload, None)
                assert schema_hash == p[3]
                _check_payload(normalized, normalized, schema, struct, p[0], p[0], p[2], p[4], payload)

    title = f"one call per record: {' and '.join(counts)}; per call = per record"
    return Case("corpus-records", title, jobs, check=check)


# Struct bytes of a JSON object.


def struct(size_name):
    text = documents.document(size_name)
    size = _utf8_size(text)

    def parse_dict():
        message = struct_pb2.Struct()
        json_format.ParseDict(orjson.loads(text), message)
        return message.SerializeToString(deterministic=True)

    def update():
        return peers.struct_bytes(orjson.loads(text))

    def check():
        module = qc.object_to_protobuf_struct_bytes(text)
        expected = orjson.loads(text)
        same_value(_struct_value(module), expected)
        same_value(_struct_value(parse_dict()), expected)
        same_value(_struct_value(update()), expected)

    jobs = _jobs(
        size,
        ("quarn object_to_protobuf_struct_bytes", lambda: qc.object_to_protobuf_struct_bytes(text), MODULE),
        ("orjson loads, json_format.ParseDict, serialize", parse_dict, PEER),
        ("orjson loads, Struct.update, serialize", update, PEER),
    )
    return Case(
        f"struct-{size_name}",
        f"Struct bytes of a JSON object, {size_name} document ({size:,} B)",
        jobs,
        check=check,
    )


# Export payload processing.


def _check_payload(
    module_normalized,
    module_merged,
    module_schema,
    module_struct,
    peer_normalized,
    peer_merged,
    peer_schema,
    peer_struct,
    payload,
):
    same_value(module_normalized, peer_normalized)
    same_value(module_merged, peer_merged)
    if module_schema != peer_schema:
        raise AssertionError(f"schemas differ: {module_schema!r:.200} != {peer_schema!r:.200}")
    same_value(_struct_value(module_struct), _struct_value(peer_struct))
    if type(payload) is dict and "body" in payload:  # the rules really decoded something
        assert type(module_merged["body"]) is dict, "body was not decoded"


def payload_text(size_name):
    payload, rules = documents.export_payload(size_name)
    text, rules_text = json.dumps(payload, ensure_ascii=False), json.dumps(rules)
    size = _utf8_size(text)

    def check():
        normalized, merged, value_hash, schema, schema_hash, struct = qc.process_export_payload(
            text, rules_text
        )
        assert value_hash == _sha256_of(merged) and schema_hash == _sha256_of(schema)
        p = peers.process_payload_text(text, rules_text)
        assert p[2] == _sha256_of(p[1]) and p[4] == _sha256_of(p[3])
        _check_payload(
            json.loads(normalized),
            json.loads(merged),
            json.loads(schema),
            struct,
            json.loads(p[0]),
            json.loads(p[1]),
            json.loads(p[3]),
            p[5],
            payload,
        )

    jobs = _jobs(
        size,
        ("quarn process_export_payload", lambda: qc.process_export_payload(text, rules_text), MODULE),
        ("Python: orjson, base64, hashlib, protobuf",
         lambda: peers.process_payload_text(text, rules_text), PEER),
        ("orjson loads+dumps, sha256 (floor)", lambda: peers.payload_floor_text(text, rules_text), FLOOR),
    )  # fmt: skip
    title = f"process_export_payload, {size_name} payload text ({size:,} B)"
    return Case(f"payload-text-{size_name}", title, jobs, check=check)


def payload_object(size_name):
    payload, rules = documents.export_payload(size_name)
    rules_text = json.dumps(rules)
    size = _utf8_size(json.dumps(payload, ensure_ascii=False))

    def check():
        normalized, value_hash, schema, schema_hash, struct = qc.process_export_payload_pyobject(
            payload, rules
        )
        # The text entry reads doubles from their printed form, which can move one a bit, so
        # only the schema is bound to agree exactly between the two entries.
        text_result = qc.process_export_payload(json.dumps(payload), rules_text)
        assert schema_hash == text_result[4] == _sha256_of(text_result[3])
        merged = json.loads(text_result[1])
        p = peers.process_payload_object(payload, rules)
        assert p[3] == _sha256_of(orjson.dumps(p[2], option=orjson.OPT_SORT_KEYS))
        _check_payload(
            normalized, merged, schema, struct, p[0], peers.decode_members(p[0], rules), p[2], p[4], payload
        )

    jobs = _jobs(
        size,
        ("quarn process_export_payload_pyobject", lambda: qc.process_export_payload_pyobject(payload, rules), MODULE),
        ("quarn json.dumps + process_export_payload",
         lambda: qc.process_export_payload(json.dumps(payload, ensure_ascii=False), rules_text), MODULE),
        ("Python: orjson, base64, hashlib, protobuf", lambda: peers.process_payload_object(payload, rules), PEER),
        ("orjson dumps+loads, sha256 (floor)", lambda: peers.payload_floor_object(payload, rules), FLOOR),
    )  # fmt: skip
    title = f"process_export_payload_pyobject, {size_name} payload dict ({size:,} B as JSON)"
    return Case(f"payload-object-{size_name}", title, jobs, check=check)


# Span building and export.


def span_arguments(i=0, struct_bytes=False):
    """The 29 arguments of a typical span: two ~2 KB values, their schemas, metadata."""
    input_value, output_value = documents.span_values()
    args = dict(
        trace_id="0af7651916cd43dd8448eb211c80319c", span_id=f"{0xb7ad6b7169203331 + i:016x}",
        parent_span_id="00f067aa0ba902b7", name="POST /api/orders", package_name="http",
        instrumentation_name="quarn.http", submodule_name="server", package_type=1, environment="production",
        kind=2, input_schema=peers.derive_schema(input_value, None), output_schema=peers.derive_schema(output_value, None),
        input_schema_hash="a" * 64, output_schema_hash="b" * 64, input_value_hash="c" * 64,
        output_value_hash="d" * 64, status_code=1, status_message="", is_pre_app_start=False, is_root_span=i == 0,
        timestamp_seconds=1_700_000_000 + i, timestamp_nanos=123_456_789, duration_seconds=0,
        duration_nanos=4_200_000, metadata={"host": "web-1", "pid": 4242, "region": "eu-central-1"},
        input_value=input_value, output_value=output_value,
        input_value_proto_struct_bytes=None, output_value_proto_struct_bytes=None)  # fmt: skip
    if struct_bytes:
        args["input_value_proto_struct_bytes"] = peers.struct_bytes(input_value)
        args["output_value_proto_struct_bytes"] = peers.struct_bytes(output_value)
        args["input_value"] = args["output_value"] = None
    return args


def _same_message(cls, a, b):
    ma, mb = cls.FromString(a), cls.FromString(b)
    if ma != mb:
        raise AssertionError(f"{cls.__name__} messages differ")


def span(struct_bytes):
    args = span_arguments(0, struct_bytes)
    build = qc.build_span_proto_bytes_pyobject
    size = len(build(**args))
    variant = "values as Struct bytes" if struct_bytes else "values as objects"

    def check():
        _same_message(Span, build(**args), peers.build_span(**args))

    jobs = _jobs(
        size,
        ("quarn build_span_proto_bytes_pyobject", lambda: build(**args), MODULE),
        ("Python: protobuf message classes", lambda: peers.build_span(**args), PEER),
    )
    name = "span-struct-bytes" if struct_bytes else "span-objects"
    return Case(name, f"one span, {variant} ({size:,} B)", jobs, unit="calls/s", check=check)


def export(count=100):
    spans = [qc.build_span_proto_bytes_pyobject(**span_arguments(i)) for i in range(count)]
    size = sum(map(len, spans))
    ident = ("checkout", "production", "0.1.0", "instance-1")
    build = qc.build_export_spans_request_bytes_pyobject

    def check():
        _same_message(ExportSpansRequest, build(*ident, spans), peers.export_request(*ident, spans))

    jobs = _jobs(
        size,
        ("quarn build_export_spans_request_bytes_pyobject", lambda: build(*ident, spans), MODULE),
        ("Python: protobuf parse each span, serialize", lambda: peers.export_request(*ident, spans), PEER),
    )
    return Case(
        f"export-{count}",
        f"export request of {count} spans ({size:,} B of spans)",
        jobs,
        unit="calls/s",
        check=check,
    )


# Scale.


def _text_jobs(text, group):
    size = _utf8_size(text)
    return [
        Job(
            f"quarn normalize_and_hash, {group}",
            lambda: qc.normalize_and_hash(text),
            MODULE,
            group,
            True,
            size,
        ),
        Job(
            f"orjson loads+dumps, sha256, {group}",
            lambda: peers.orjson_normalize_and_hash(text),
            PEER,
            group,
            size=size,
        ),
        Job(
            f"json loads+dumps, sha256, {group}",
            lambda: peers.stdlib_normalize_and_hash(text),
            PEER,
            group,
            size=size,
        ),
    ]


def _check_texts(*texts):
    def check():
        for text in texts:
            same_value(json.loads(qc.normalize_json(text)), json.loads(text))

    return check


def _pair_case(name, title, first, second, ratio):
    """normalize_and_hash and its peers on two documents, each (group, text), with one ratio of
    two groups' times for quarn and for orjson: ratio is (label, numerator group, denominator group)."""
    (group_a, text_a), (group_b, text_b) = first, second
    label, top, bottom = ratio
    notes = [
        (f"{who} {label}", f"{job}, {top}", f"{job}, {bottom}")
        for who, job in (("quarn", "quarn normalize_and_hash"), ("orjson", "orjson loads+dumps, sha256"))
    ]
    return Case(
        name,
        title,
        _text_jobs(text_a, group_a) + _text_jobs(text_b, group_b),
        check=_check_texts(text_a, text_b),
        notes=notes,
    )


def key_order(n=10**6):
    ascending, descending = documents.many_keys(n), documents.many_keys(n, descending=True)
    title = f"{n:,} members, descending vs ascending names ({_utf8_size(ascending):,} B)"
    ratio = ("descending / ascending", "descending", "ascending")
    return _pair_case("key-order", title, ("ascending", ascending), ("descending", descending), ratio)


def nesting(target_bytes=1_000_000):
    deep, flat = documents.deep_document(target_bytes), documents.flat_document(target_bytes)
    title = f"127 levels deep vs flat, the same scalars (~{target_bytes:,} B)"
    ratio = ("per byte, deep / flat", "127 deep", "flat")
    return _pair_case("nesting", title, ("127 deep", deep), ("flat", flat), ratio)


# Embedded messages that arrive split into many occurrences of one field, each of which
# merges into the ones before it: decoding must stay linear in the number of pieces.


def _entry(i, value, field=b"\x0a"):
    """One map entry (key "k" and six digits, then the value) under the given field key."""
    return ld(field, ld(b"\x0a", b"k%06d" % i) + ld(b"\x12", value))


SPLIT_KINDS = {
    # Span.input_value {"v": a struct_value sent as k pieces of one member each}
    "struct_value": lambda k: ld(b"\x4a", ld(b"\x0a", ld(b"\x0a", b"v") + ld(b"\x12", b"".join(
        ld(b"\x2a", _entry(i, b"\x20\x01")) for i in range(k))))),
    # Span.input_value {"v": a list_value sent as k pieces of one element each}
    "list_value": lambda k: ld(b"\x4a", ld(b"\x0a", ld(b"\x0a", b"v") + ld(b"\x12", b"".join(
        ld(b"\x32", ld(b"\x0a", b"\x20\x01")) for _ in range(k))))),
    # Span.input_value sent k times, one member each
    "Span.input_value": lambda k: b"".join(ld(b"\x4a", _entry(i, b"\x20\x01")) for i in range(k)),
    # Span.input_schema sent k times, one property each
    "Span.input_schema": lambda k: b"".join(ld(b"\x5a", _entry(i, b"\x08\x01", b"\x12")) for i in range(k)),
}  # fmt: skip


def split_messages(small=2000, large=32000):
    build = qc.build_export_spans_request_bytes_pyobject
    jobs, notes, inputs = [], [], []
    for kind, make in SPLIT_KINDS.items():
        few, many = make(small), make(large)
        inputs.append(many)
        jobs += [
            Job(
                f"quarn {kind}, {small:,} pieces",
                lambda d=few: build("", "", "", "", [d]),
                MODULE,
                kind,
                size=len(few),
            ),
            Job(
                f"quarn {kind}, {large:,} pieces",
                lambda d=many: build("", "", "", "", [d]),
                MODULE,
                kind,
                True,
                len(many),
            ),
            Job(
                f"protobuf {kind}, {large:,} pieces",
                lambda d=many: peers.export_request("", "", "", "", [d]),
                PEER,
                kind,
                size=len(many),
            ),
        ]
        notes.append((f"quarn {kind}: per byte, {large:,} / {small:,} pieces", jobs[-2].name, jobs[-3].name))

    def check():
        for data in inputs:
            _same_message(
                ExportSpansRequest,
                build("", "", "", "", [data]),
                peers.export_request("", "", "", "", [data]),
            )

    return Case(
        "split-messages",
        f"span fields split into many pieces ({small:,} and {large:,})",
        jobs,
        check=check,
        notes=notes,
    )


# The cases on the standard documents, which are read from a directory given when they are built:
# name -> (the documents they need, builder taking the directory).
CORPUS_CASES = {
    f"corpus-{name}": ((name,), lambda d, n=name: corpus_document(d, n)) for name in CORPUS_TITLES
}
CORPUS_CASES["corpus-records"] = (("twitter", "citm"), corpus_records)

CASES = {}
for _size in ("request", "typical", "large", "huge"):
    CASES[f"canonical-{_size}"] = lambda s=_size: canonical(s)
for _size in ("request", "typical", "large"):
    CASES[f"payload-text-{_size}"] = lambda s=_size: payload_text(s)
for _size in ("request", "typical", "large"):
    CASES[f"payload-object-{_size}"] = lambda s=_size: payload_object(s)
for _size in ("typical", "large"):
    CASES[f"struct-{_size}"] = lambda s=_size: struct(s)
CASES["span-objects"] = lambda: span(False)
CASES["span-struct-bytes"] = lambda: span(True)
CASES["export-100"] = lambda: export(100)
CASES["key-order"] = key_order
CASES["nesting"] = nesting
CASES["split-messages"] = split_messages
