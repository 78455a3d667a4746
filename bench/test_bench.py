"""The benchmark's own faults: peers that do other work than the module, documents of the
wrong shape, a timer that does not interleave, reports that misstate the figures.

Run: python -m pytest bench -q
"""

import base64
import hashlib
import json

import orjson
import pytest

import quarn_core as qc
from bench import cases, documents, harness, memory, peers, report, sha256
from bench.run import _release, corpus_skips, main, select
from tests.support.messages import Span
from tests.support.spans import span_args

SORT = orjson.OPT_SORT_KEYS
B64_JSON = base64.b64encode(b'{"x":1}').decode()


# Member decoding: (member value, rule, decoded value). The module is a second oracle.
DECODE = [
    ("[1,2]", {"encoding": 1, "decoded_type": 1}, [1, 2]),                 # not Base64, then JSON
    ("aGVsbG8=", {"encoding": 1, "decoded_type": 1}, "hello"),             # Base64, then not JSON
    ('{"k": true}', {"decoded_type": 1}, {"k": True}),
    ("not json", {"decoded_type": 1}, "not json"),
    ('"\\"hi\\""', {"decoded_type": 1}, '"hi"'),
    ("QQ", {"encoding": 1}, "QQ"),                                         # padding missing
    (base64.b64encode(b"\xff\xfe").decode(), {"encoding": 1}, "\ufffd\ufffd"),
    (B64_JSON, [1, 1, 0.5], {"x": 1}),                                     # array form of a rule
    (7, {"encoding": 1, "decoded_type": 1}, 7),                            # not a string
    (B64_JSON, {"encoding": 2, "decoded_type": 0}, B64_JSON),
]  # fmt: skip


@pytest.mark.parametrize("member, rule, decoded", DECODE)
def test_decode_members_matches_module(member, rule, decoded):
    payload, rules = {"m": member, "other": B64_JSON}, {"m": rule, "absent": {"encoding": 1}}
    merged = peers.decode_members(payload, rules)
    assert merged == {"m": decoded, "other": B64_JSON}
    assert (
        qc.process_export_payload(json.dumps(payload), json.dumps(rules))[1]
        == orjson.dumps(merged, option=SORT).decode()
    )


# Schema derivation: (value, rules, schema text).
SCHEMAS = [
    ([1, 2], None, '{"items":{"properties":{},"type":1},"properties":{},"type":7}'),
    ([], None, '{"properties":{},"type":7}'),
    ([1, "a"], {"x": {"encoding": 1}}, '{"items":{"properties":{},"type":1},"properties":{},"type":7}'),
    (None, None, '{"properties":{},"type":4}'),
    ({"a": True, "b": 1.5, "c": "s"}, {"a": {"encoding": -1, "match_importance": 2}, "z": {"encoding": 1}},
     '{"properties":{"a":{"encoding":-1,"match_importance":2.0,"properties":{},"type":3},'
     '"b":{"properties":{},"type":1},"c":{"properties":{},"type":2}},"type":6}'),
    ({"a": {"a": 1}}, {"a": {"decoded_type": 0}},
     '{"properties":{"a":{"decoded_type":0,"properties":{"a":{"properties":{},"type":1}},"type":6}},"type":6}'),
]  # fmt: skip


@pytest.mark.parametrize("value, rules, expected", SCHEMAS)
def test_derive_schema(value, rules, expected):
    assert orjson.dumps(peers.derive_schema(value, rules), option=SORT).decode() == expected
    assert (
        qc.process_export_payload(json.dumps(value), None if rules is None else json.dumps(rules))[3]
        == expected
    )


def test_payload_peers_on_the_worked_example():
    payload = {"b": [1, "x"], "a": B64_JSON}
    rules = {"a": {"encoding": 1, "decoded_type": 1, "match_importance": 2}}
    merged = b'{"a":{"x":1},"b":[1,"x"]}'
    schema = (
        b'{"properties":{"a":{"decoded_type":1,"encoding":1,"match_importance":2.0,"properties":{"x":'
        b'{"properties":{},"type":1}},"type":6},"b":{"items":{"properties":{},"type":1},"properties":{},'
        b'"type":7}},"type":6}'
    )
    text = peers.process_payload_text(json.dumps(payload), json.dumps(rules))
    module = qc.process_export_payload(json.dumps(payload), json.dumps(rules))
    assert text[:2] == (b'{"a":"eyJ4IjoxfQ==","b":[1,"x"]}', merged) and text[3] == schema
    assert (text[2], text[4]) == (hashlib.sha256(merged).hexdigest(), hashlib.sha256(schema).hexdigest())
    assert (text[2], text[4]) == (module[2], module[4])
    obj = peers.process_payload_object(payload, rules)
    assert obj[1] == text[2] and obj[3] == text[4] and obj[2] == json.loads(schema)
    assert Span.FromString(b"\x4a" + bytes([len(obj[4])]) + obj[4]) == Span.FromString(
        b"\x4a" + bytes([len(module[5])]) + module[5]
    )


@pytest.mark.parametrize("value, hex_bytes", [
    ({"b": 1, "a": None}, "0a070a0161120208000a0e0a0162120911000000000000f03f"),
    ({"n": 18446744073709551615}, "0a0e0a016e120911000000000000f043"),
    ({"x": []}, "0a070a01781202 3200"),
    ({"k": {}}, "0a070a016b12022a00"),
    ({"z": -0.0}, "0a0e0a017a12091100000000000000 80"),
    ([1, 2], ""), ("text", ""), (None, ""),
])  # fmt: skip
def test_struct_bytes(value, hex_bytes):
    assert peers.struct_bytes(value) == bytes.fromhex(hex_bytes.replace(" ", ""))


MINIMAL_SPAN = "0a017412017322016e4a0052005a006200920100a20100aa0100ba0100"


@pytest.mark.parametrize("changes, hex_bytes", [
    ({}, MINIMAL_SPAN),
    ({"environment": ""}, MINIMAL_SPAN + "c20100"),
    ({"environment": "prod"}, MINIMAL_SPAN + "c20104 70726f64"),
    ({"input_schema": {"type": 6, "properties": {"a": {"type": 1, "properties": {}}}}},
     MINIMAL_SPAN.replace("5a00", "5a0b 0806 1207 0a0161 12020801")),
    ({"input_value": {"a": 1}, "input_value_proto_struct_bytes": b""}, MINIMAL_SPAN),
    ({"input_value": [1, 2], "metadata": {}}, MINIMAL_SPAN),
    ({"timestamp_seconds": 1, "timestamp_nanos": -1},
     MINIMAL_SPAN.replace("a20100", "a2010d 0801 10ffffffffffffffffff01")),
])  # fmt: skip
def test_build_span_bytes(changes, hex_bytes):
    args = span_args(**changes)
    expected = bytes.fromhex(hex_bytes.replace(" ", ""))
    assert peers.build_span(**args) == expected == qc.build_span_proto_bytes_pyobject(**args)


@pytest.mark.parametrize("field, value, message", [
    ("package_type", 12, "invalid package_type enum: 12"),
    ("package_type", -1, "invalid package_type enum: -1"),
    ("kind", 6, "invalid kind enum: 6"),
    ("status_code", 3, "invalid status_code enum: 3"),
])  # fmt: skip
def test_build_span_refuses_codes(field, value, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        peers.build_span(**span_args(**{field: value}))


def test_typical_span_is_the_same_message_from_both():
    for struct_bytes in (False, True):
        args = cases.span_arguments(3, struct_bytes)
        assert Span.FromString(peers.build_span(**args)) == Span.FromString(
            qc.build_span_proto_bytes_pyobject(**args)
        )


@pytest.mark.parametrize("spans, hex_bytes", [
    ([b""], "0a016f1a01312a00"),
    ([bytes.fromhex("0a01610a0162")], "0a016f1a01312a030a0162"),
    ([bytes.fromhex("0a0161"), bytes.fromhex("4063")], "0a016f1a01312a030a01612a024063"),
])  # fmt: skip
def test_export_request(spans, hex_bytes):
    assert peers.export_request("o", "", "1", "", spans) == bytes.fromhex(hex_bytes)


# Documents.


def _depth(value):
    if isinstance(value, dict):
        return 1 + max(map(_depth, value.values()), default=0)
    if isinstance(value, list):
        return 1 + max(map(_depth, value), default=0)
    return 0


@pytest.mark.parametrize("size_name, low, high, marks", [
    ("request", 150, 300, ()), ("typical", 1_800, 2_600, ("é",)),
    ("large", 950_000, 1_100_000, ("東京", "🚀", "\\n", '\\"', "\\u0001", "e-"))])  # fmt: skip
def test_document_sizes_and_shape(size_name, low, high, marks):
    text = documents.document(size_name)
    assert low <= len(text.encode()) <= high and text == documents.document(size_name)
    assert all(mark in text for mark in marks)
    payload, _ = documents.export_payload(size_name)
    assert low <= len(json.dumps(payload, ensure_ascii=False).encode()) <= high * 1.2
    assert type(payload["body"]) is str and type(json.loads(base64.b64decode(payload["body"]))) is dict


def test_deep_document_is_at_the_nesting_limit():
    deep, flat = documents.deep_document(50_000), documents.flat_document(50_000)
    assert _depth(json.loads(deep)) == 127 and _depth(json.loads(flat)) == 2
    assert 0.95 < len(deep.encode()) / len(flat.encode()) < 1.05
    with pytest.raises(ValueError, match="recursion limit exceeded"):
        qc.normalize_json(documents.deep_document(1_000, depth=128))


@pytest.mark.parametrize(
    "descending, first, last", [(False, "k0000000", "k0000009"), (True, "k0000009", "k0000000")]
)
def test_many_keys(descending, first, last):
    keys = list(json.loads(documents.many_keys(10, descending)))
    assert (keys[0], keys[-1], len(keys)) == (first, last, 10)


# Timer and figures.


def test_rounds_interleave_jobs():
    calls, ticks = [], iter(range(0, 1000, 2))
    fns = [lambda: calls.append("a"), lambda: calls.append("b"), lambda: calls.append("c")]
    samples = harness.run_rounds(fns, [2, 1, 1], 2, clock=lambda: next(ticks))
    assert "".join(calls) == "aabcaabc"
    assert samples == [[1.0, 1.0], [2.0, 2.0], [2.0, 2.0]]


@pytest.mark.parametrize("per_call, counts, rounds", [
    ([0.001, 0.004], [40, 10], 25),       # 80 ms rounds: 18 s would give 225, capped at 25
    ([2.0, 1.0], [1, 1], 6),              # slow jobs: one call per batch, 18 s / 3 s per round
    ([10.0], [1], 5),                     # never fewer than min_rounds
])  # fmt: skip
def test_plan(per_call, counts, rounds):
    settings = harness.Settings(batch_seconds=0.04, case_seconds=18.0, min_rounds=5, max_rounds=25)
    assert harness.plan(per_call, settings) == (counts, rounds)


def _timing(name, role, median, group="", primary=False, size=None):
    return harness.Timing(harness.Job(name, None, role, group, primary, size), [median])


def test_ratios_and_notes():
    timings = [_timing("q", "module", 2.0, "a", True, 100), _timing("q2", "module", 1.0, "a"),
               _timing("p", "peer", 8.0, "a"), _timing("f", "floor", 1.0, "a"),
               _timing("q b", "module", 3.0, "b", True, 200), _timing("p b", "peer", 1.5, "b"),
               _timing("x", "peer", 1.0)]  # fmt: skip
    assert harness.ratios(timings) == [None, None, 0.25, 2.0, None, 2.0, None]
    assert harness.note_value(timings, "q b", "q") == pytest.approx(0.75)  # per byte: 3/200 over 2/100
    assert harness.note_value(timings, "p", "f") == 8.0


@pytest.mark.parametrize("patterns, chosen", [
    ([], ["canonical-large", "canonical-huge", "key-order", "memory"]),
    (["canonical"], ["canonical-large", "canonical-huge"]),
    (["memory", "canonical-huge"], ["canonical-huge", "memory"]),
])  # fmt: skip
def test_select(patterns, chosen):
    assert select(["canonical-large", "canonical-huge", "key-order", "memory"], patterns) == chosen


def test_select_refuses_unknown_names():
    with pytest.raises(SystemExit, match="unknown case canon"):
        select(["canonical-large"], ["canon"])


@pytest.mark.parametrize("a, b, ok", [
    ({"x": [1, 0.1]}, {"x": [1, 0.1 + 2**-56]}, True),    # neighbouring doubles
    ({"x": 1.0}, {"x": 1.5}, False), ({"x": 1}, {"x": "1"}, False), ({"x": 1}, {"y": 1}, False),
    ([1, 2], [1], False), (True, 1, False), (None, None, True),
])  # fmt: skip
def test_same_value(a, b, ok):
    if ok:
        cases.same_value(a, b)
    else:
        with pytest.raises(AssertionError):
            cases.same_value(a, b)


@pytest.mark.parametrize(
    "seconds, text", [(1.5, "1.5 s"), (0.0123, "12.3 ms"), (4.56e-6, "4.56 µs"), (8.1e-7, "810 ns")]
)
def test_fmt_time(seconds, text):
    assert report.fmt_time(seconds) == text


def test_case_table():
    result = {"name": "c", "title": "t", "kind": "time", "unit": "MB/s", "rounds": 3, "notes": [("n", 0.5)],
              "rows": [{"name": "q", "primary": True, "median": 0.002, "size": 2_000_000, "spread": 0.05, "ratio": None},
                       {"name": "p", "primary": False, "median": 0.008, "size": 2_000_000, "spread": 0.1, "ratio": 0.25},
                       {"name": "r", "primary": False, "median": 0.008, "size": 2_000_000, "spread": 0.1, "ratio": 0.25, "calls": 400}]}  # fmt: skip
    assert report.case_lines(result) == [
        "c: t  [median of 3 interleaved rounds]",
        "",
        "| job | per call | MB/s | spread | quarn/peer |",
        "|---|---:|---:|---:|---:|",
        "| q * | 2 ms | 1,000 | ±5% |  |",
        "| p | 8 ms | 250 | ±10% | 0.25 |",
        "| r | 20 µs | 250 | ±10% | 0.25 |",
        "\nn: 0.50",
    ]


META = {"python": "3.11.7", "orjson": "3.13.0", "protobuf": "7.36.2", "protobuf_backend": "upb"}


@pytest.mark.parametrize(
    "case",
    [
        {
            "name": "c",
            "title": "t",
            "kind": "time",
            "unit": "calls/s",
            "rounds": 3,
            "notes": [],
            "rows": [
                {"name": "q", "primary": True, "median": 0.002, "size": None, "spread": 0.05, "ratio": None}
            ],
        },
        {
            "name": "memory",
            "title": "t",
            "kind": "memory",
            "notes": [],
            "rows": [
                {"name": "q", "size": 1000, "increase": 2000, "multiple": 2.0, "result_text_bytes": None}
            ],
        },
    ],
)
def test_every_table_names_the_versions(case):
    lines = report.case_lines(case, META)
    assert lines[1:3] == ["", "Python 3.11.7, orjson 3.13.0, protobuf 7.36.2 (upb backend)"]
    assert lines[:1] + lines[3:] == report.case_lines(case)
    markdown = report.markdown(
        {"meta": dict(META, mode="quick", date="d", machine="m", cpus=2), "cases": [case]}
    )
    assert "\n".join(["## " + lines[0]] + lines[1:]) in markdown


@pytest.mark.parametrize(
    "text, release",
    [("3.13.0", (3, 13, 0)), ("3.9.15", (3, 9, 15)), ("4.0.0rc1", (4, 0, 0)), ("3.13.dev1", (3, 13))],
)
def test_release_parts(text, release):
    assert _release(text) == release


def test_memory_probe_counts_the_result(tmp_path):
    path = tmp_path / "doc.json"
    path.write_text(documents.realistic_document(3, 4_000_000), encoding="utf-8")
    row = memory.measure("orjson loads+dumps", path)
    # orjson's output alone is about the document's size, so the peak rose at least that far.
    assert row["reset"] and row["result_text_bytes"] > 0.9 * row["size"]
    assert row["increase"] >= row["result_text_bytes"] and row["multiple"] == row["increase"] / row["size"]


@pytest.mark.parametrize("kind, read", [
    ("struct_value", lambda s: sorted(s.input_value.fields["v"].struct_value.fields)),
    ("list_value", lambda s: [v.bool_value for v in s.input_value.fields["v"].list_value.values]),
    ("Span.input_value", lambda s: sorted(s.input_value.fields)),
    ("Span.input_schema", lambda s: sorted(s.input_schema.properties)),
])  # fmt: skip
def test_split_pieces_merge_into_one_field(kind, read):
    expected = [True] * 3 if kind == "list_value" else ["k000000", "k000001", "k000002"]
    assert read(Span.FromString(cases.SPLIT_KINDS[kind](3))) == expected


def _drop_annotations(value, rules):
    return peers.schema_of(value)


def _no_decoding(value, rules):
    return value


def _other_span(_build=peers.build_span, **args):
    return _build(**dict(args, name="other"))


def _one_span_short(ident, env, version, instance, spans, _export=peers.export_request):
    return _export(ident, env, version, instance, spans[1:])


@pytest.mark.parametrize("case_name, attribute, sabotage", [
    ("payload-text-typical", "derive_schema", _drop_annotations),
    ("payload-object-request", "decode_members", _no_decoding),
    ("span-objects", "build_span", _other_span),
    ("export-100", "export_request", _one_span_short),
])  # fmt: skip
def test_case_checks_catch_a_peer_doing_other_work(case_name, attribute, sabotage, monkeypatch):
    case = cases.CASES[case_name]()
    case.check()
    monkeypatch.setattr(peers, attribute, sabotage)
    with pytest.raises(AssertionError):
        case.check()


# The standard documents: a directory of small stand-ins with the same shapes.

CORPUS = {
    "canada.json": '{"type": "FeatureCollection", "features": [{"geometry": {"coordinates":\n'
                   '  [[[-65.613616999999977, 43.420273000000009], [-65.619720000000029, 1e-7]]]}}]}',
    "citm_catalog.json": '{\n  "events": {\n    "138586341": {"id": 138586341, "name": "Bach", "subTopicIds": [337184]},\n'
                         '    "138585920": {"id": 138585920, "name": "Lenz", "logo": null}\n  },\n  "performances": [1]\n}',
    "twitter.json": '{"statuses": [{"id": 505874924095815700, "text": "名前:前田 😋\\n", "user": {"lang": "ja"}},\n'
                    '  {"id": 2, "text": "\\u00e9 \\"q\\"", "retweeted": false}], "search_metadata": {"count": 2}}',
}  # fmt: skip
CORPUS_NAMES = list(cases.CORPUS_CASES)


@pytest.fixture
def corpus(tmp_path):
    for name, text in CORPUS.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    return tmp_path


def test_corpus_records_are_the_statuses_and_the_events(corpus):
    records = documents.corpus_records(corpus)
    assert list(records) == ["statuses", "events"]
    assert records["statuses"] == (
        json.loads(CORPUS["twitter.json"])["statuses"],
        [
            '{"id":505874924095815700,"text":"名前:前田 😋\\n","user":{"lang":"ja"}}',
            '{"id":2,"text":"é \\"q\\"","retweeted":false}',
        ],
    )
    assert [r["name"] for r in records["events"][0]] == ["Bach", "Lenz"]
    assert records["events"][1][1] == '{"id":138585920,"name":"Lenz","logo":null}'


@pytest.mark.parametrize("remove, given, selected, skipped", [
    ([], False, CORPUS_NAMES, []),
    (["twitter.json"], False, CORPUS_NAMES + ["key-order"], ["corpus-twitter", "corpus-records"]),
    (["twitter.json", "canada.json"], False, ["corpus-canada"], ["corpus-canada"]),
    (["twitter.json"], False, ["corpus-citm", "key-order"], []),
    (["twitter.json"], True, ["corpus-records"], "twitter.json missing"),
    (["twitter.json"], True, ["corpus-canada"], []),
])  # fmt: skip
def test_corpus_skips(corpus, remove, given, selected, skipped):
    for name in remove or ():
        (corpus / name).unlink()
    directory = corpus if remove is not None else corpus / "nowhere"
    if type(skipped) is str:
        with pytest.raises(SystemExit, match=skipped):
            corpus_skips(selected, cases.CORPUS_CASES, directory, given)
        return
    names, line = corpus_skips(selected, cases.CORPUS_CASES, directory, given)
    assert names == skipped and (line is None) == (not skipped)
    assert not line or (
        f"not found in {directory}" in line and line.endswith("skipping " + ", ".join(skipped))
    )


def test_run_without_the_corpus_says_so_once(tmp_path, monkeypatch, capsys):
    monkeypatch.setattr(documents, "DEFAULT_CORPUS", tmp_path / "absent")
    assert main(["--only", "corpus", "--out", str(tmp_path), "--no-chart"]) == 0
    said = [line for line in capsys.readouterr().out.splitlines() if "standard documents" in line]
    assert len(said) == 1 and "skipping " + ", ".join(CORPUS_NAMES) in said[0]
    assert said[0] in (tmp_path / "latest.md").read_text(encoding="utf-8")
    with pytest.raises(SystemExit, match="no such directory"):
        main(["--only", "key-order", "--corpus", str(tmp_path / "absent")])


def _one_member_less(text):
    value = orjson.loads(text)
    value.popitem()
    return orjson.dumps(value, option=SORT), ""


@pytest.mark.parametrize("case_name, target, attribute, sabotage", [
    ("corpus-canada", qc, "deterministic_hash", lambda text: "0" * 64),
    ("corpus-canada", peers, "orjson_normalize_and_hash", _one_member_less),
    ("corpus-records", qc, "normalize_and_hash", lambda t, f=qc.normalize_and_hash: (f(t)[0], f(f"[{t}]")[1])),
    ("corpus-records", peers, "payload_floor_object", lambda p, r, f=peers.payload_floor_object: f(p["args"], r)),
    ("corpus-records", peers, "derive_schema", lambda v, r, f=peers.derive_schema: f(v["args"], r)),
])  # fmt: skip
def test_corpus_checks_catch_disagreement(corpus, case_name, target, attribute, sabotage, monkeypatch):
    case = cases.CORPUS_CASES[case_name][1](corpus)
    case.check()
    monkeypatch.setattr(target, attribute, sabotage)
    with pytest.raises(AssertionError):
        case.check()


PROGRAM_OUTPUT = """openssl: OpenSSL 3.0.19 27 Jan 2026
time 64 portable 6.0e-07 0.02 40 1.2
time 64 x86-sha 1.0e-07 0.01 40 0.25
time 64 openssl 5.0e-07 0.03 40 1.0
"""
MASKED_OUTPUT = PROGRAM_OUTPUT.replace("openssl 5.0e-07", "openssl 9.0e-07").replace("1.2\n", "0.625\n")


def test_sha256_case_sets_the_paths_beside_openssl(monkeypatch):
    # The selected hardware path is the primary job; the portable path is judged against the
    # masked OpenSSL of the second run, the hardware path against the plain one.
    monkeypatch.setattr(sha256, "SIZES", {"64": 64})
    monkeypatch.setattr(sha256, "CASES", ["sha256-64"])
    monkeypatch.setattr(sha256, "libcrypto_path", lambda: "/lib/libcrypto.so.3")
    monkeypatch.setattr(sha256, "check_program", lambda: "check_sha256")
    runs = {False: PROGRAM_OUTPUT, True: MASKED_OUTPUT}
    monkeypatch.setattr(sha256, "_run_program", lambda b, lib, q, env: sha256.parse(runs[bool(env)]))
    case = sha256.results(quick=True)["sha256-64"]
    rows = {r["name"]: r for r in case["rows"]}
    assert [r["name"] for r in case["rows"] if r["primary"]] == ["quarn x86-sha"]
    assert rows["OpenSSL SHA256()"]["ratio"] == pytest.approx(0.2)
    assert rows["OpenSSL SHA256(), SHA extensions masked"]["median"] == 9.0e-07
    notes = dict(case["notes"])
    # The speed ratios are the medians of the rounds' ratios, not the ratios of the medians.
    assert notes["speed of x86-sha / OpenSSL's, median of rounds (goal ≥ 0.95)"] == pytest.approx(4.0)
    masked_note = (
        "speed of portable / OpenSSL's with its SHA extensions masked, median of rounds (goal ≥ 0.6)"
    )
    assert notes[masked_note] == pytest.approx(1.6)
    assert "OpenSSL 3.0.19" in case["title"]
