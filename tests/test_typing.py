"""The installed type information: mypy --strict accepts correct calls of all
nine functions with the exact result types, reports every deliberate type
error on its line, and the stubs agree with the functions' runtime signatures.

Everything here reads the installed distribution (the stubs beside the
extension module in site-packages), never the source tree. An editable install
keeps the module and its stubs in the build tree, where mypy does not look on
its own; it is then pointed there.
"""

import ast
import inspect
import os
import re
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest
from support.spans import span_args

import quarn_core

SITE = Path(quarn_core.__file__).parent
STUB = SITE / "quarn_core.pyi"
STUB_PACKAGE = SITE / "quarn_core-stubs"

# Correct keyword arguments of build_span_proto_bytes_pyobject, as source text.
SPAN_ARGS = {
    k: repr(v)
    for k, v in span_args(
        input_schema={"type": 6, "properties": {}},
        is_root_span=True,
        metadata={"k": "v"},
        input_value={"a": [1, 2.5]},
        output_value_proto_struct_bytes=b"",
    ).items()
}


def span_call(**overrides):
    args = {**SPAN_ARGS, **overrides}
    return "q.build_span_proto_bytes_pyobject(%s)" % ", ".join(
        "%s=%s" % (k, v) for k, v in args.items() if v is not None
    )


# (expression, the exact type that mypy must infer for it)
GOOD = [
    ('q.normalize_json("{}")', "str"),
    ('q.normalize_json(payload_json="{}")', "str"),
    ('q.deterministic_hash(" [1] ")', "str"),
    ('q.normalize_and_hash("{}")', "tuple[str, str]"),
    ('q.object_to_protobuf_struct_bytes("{}")', "bytes"),
    ('q.object_to_protobuf_struct_field_count("{}")', "int"),
    ('q.process_export_payload("{}", None)', "tuple[str, str, str, str, str, bytes]"),
    ('q.process_export_payload(payload_json="{}", schema_merges_json="{}")',
     "tuple[str, str, str, str, str, bytes]"),
    ('q.process_export_payload_pyobject(payload, {"a": (1, 1)})',
     "tuple[JsonValue, str, dict[str, JsonValue], str, bytes]"),
    ("q.process_export_payload_pyobject((1, 2.5, None), None)[4]", "bytes"),
    ('q.process_export_payload_pyobject(Fraction(1, 2), {"a": {"encoding": 1}})[3]', "str"),
    (span_call(), "bytes"),
    (span_call(package_type="np_like_index", input_value_proto_struct_bytes='b"\\n\\x00"'), "bytes"),
    ('q.build_export_spans_request_bytes_pyobject("svc", "prod", "1.0", "id", [b""])', "bytes"),
]  # fmt: skip

GOOD_HEADER = """\
from fractions import Fraction

from typing_extensions import assert_type

import quarn_core as q
from quarn_core import _JsonValue as JsonValue


class IndexLike:
    def __index__(self) -> int:
        return 3


np_like_index = IndexLike()
payload: dict[str, list[int]] = {"a": [1, 2]}
normalized, value_hash, schema, schema_hash, struct_bytes = q.process_export_payload_pyobject(payload, None)
if isinstance(normalized, dict):
    names: list[str] = sorted(normalized)
properties = schema["properties"]
"""

# (source line, mypy error code, fragments that its message must contain)
BAD = [
    ('q.normalize_json(b"{}")', "arg-type", ['"normalize_json"', '"bytes"', 'expected "str"']),
    ("q.normalize_json()", "call-arg", ['"payload_json"']),
    ('q.normalize_json(payload="{}")', "call-arg", ['"payload"']),
    ('q.normalize_json("{}", "{}")', "call-arg", ["Too many arguments"]),
    ('q.normalise_json("{}")', "attr-defined", ['"normalise_json"']),
    ('h: int = q.deterministic_hash("{}")', "assignment", ['"str"', '"int"']),
    ('a, b, c = q.normalize_and_hash("{}")', "misc", ["2", "3"]),
    ('n: str = q.object_to_protobuf_struct_field_count("{}")', "assignment", ['"int"']),
    ('s: str = q.object_to_protobuf_struct_bytes("{}")', "assignment", ['"bytes"']),
    ('q.process_export_payload("{}")', "call-arg", ['"schema_merges_json"']),
    ('q.process_export_payload("{}", {})', "arg-type", ['"str | None"']),
    ('t: tuple[str, str, str, str, str, str] = q.process_export_payload("{}", None)', "assignment",
     ["tuple[str, str, str, str, str, bytes]"]),
    ('q.process_export_payload_pyobject(b"raw", None)', "arg-type", ['"bytes"']),
    ('q.process_export_payload_pyobject({1: "a"}, None)', "dict-item", ['"int": "str"', '"str": "Any"']),
    ('q.process_export_payload_pyobject({"a", "b"}, None)', "arg-type", ['"set[str]"']),
    ('q.process_export_payload_pyobject({"a": 1}, "{}")', "arg-type",
     ["Argument 2", '"dict[str, Any] | None"']),
    ('q.process_export_payload_pyobject({"a": 1})', "call-arg", ['"schema_merges"']),
    ("len(q.process_export_payload_pyobject(None, None)[0])", "arg-type", ['"len"', '"Sized"']),
    (span_call(is_root_span="1"), "arg-type", ['"is_root_span"', '"int"', 'expected "bool"']),
    (span_call(kind='"1"'), "arg-type", ['"kind"', '"str"']),
    (span_call(environment="0"), "arg-type", ['"environment"']),
    (span_call(input_value="{1, 2}"), "arg-type", ['"input_value"', '"set[int]"']),
    (span_call(input_value_proto_struct_bytes='"bytes"'), "arg-type", ['"input_value_proto_struct_bytes"']),
    (span_call(metadata="object()"), "arg-type", ['"metadata"', '"object"']),
    (span_call(duration_nanos=None), "call-arg", ['"duration_nanos"']),
    ('q.build_export_spans_request_bytes_pyobject("s", "e", "v", "i", ["x"])', "list-item", ['"str"']),
    ('q.build_export_spans_request_bytes_pyobject("s", "e", "v", "i", (b"",))', "arg-type", ['"list[bytes]"']),
    ('q.build_export_spans_request_bytes_pyobject("s", None, "v", "i", [])', "arg-type", ["Argument 2", '"None"']),
]  # fmt: skip

ERROR = re.compile(r"^(good|bad)\.py:(\d+): error: (.*)  \[([a-z-]+)\]$")


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """Runs mypy --strict once over the good and the bad file; returns
    {(file, line): [(message, code), ...]} and the bad file's first case line."""
    pytest.importorskip("mypy", reason="mypy comes with the test extra")
    work = tmp_path_factory.mktemp("typing")
    good = GOOD_HEADER + "".join("assert_type(%s, %s)\n" % case for case in GOOD)
    (work / "good.py").write_text(good)
    bad_header = "import quarn_core as q\n\n"
    (work / "bad.py").write_text(bad_header + "".join(line + "\n" for line, _, _ in BAD))
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    if SITE not in {Path(sysconfig.get_path(name)) for name in ("platlib", "purelib")}:
        env["MYPYPATH"] = str(SITE)
    run = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--show-error-codes",
            "--no-error-summary",
            "--hide-error-context",
            "--no-pretty",
            "--cache-dir",
            str(work / "cache"),
            "good.py",
            "bad.py",
        ],
        cwd=work,
        env=env,
        capture_output=True,
        text=True,
        check=False,
    )
    assert run.returncode in (0, 1), run.stderr
    errors = {}
    for line in run.stdout.splitlines():
        m = ERROR.match(line)
        if m:
            errors.setdefault((m[1], int(m[2])), []).append((m[3], m[4]))
        else:
            assert ": note: " in line, line
    return errors, bad_header.count("\n") + 1


def test_correct_calls_type_check_with_exact_result_types(mypy_errors):
    errors, _ = mypy_errors
    assert {k: v for k, v in errors.items() if k[0] == "good"} == {}


@pytest.mark.parametrize("index", range(len(BAD)), ids=[case[0][:60] for case in BAD])
def test_each_type_error_is_reported_on_its_line(mypy_errors, index):
    errors, first = mypy_errors
    _, code, fragments = BAD[index]
    reported = errors.get(("bad", first + index), [])
    assert [(c, all(f in m for f in fragments)) for m, c in reported] == [(code, True)], reported


def test_no_error_outside_the_deliberate_lines(mypy_errors):
    errors, first = mypy_errors
    lines = {line for (name, line) in errors if name == "bad"}
    assert lines == set(range(first, first + len(BAD)))


def stub_functions():
    tree = ast.parse(STUB.read_text())
    functions = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    (exported,) = [
        node.value for node in tree.body if isinstance(node, ast.Assign) and node.targets[0].id == "__all__"
    ]
    return functions, ast.literal_eval(exported)


def test_stub_is_installed_beside_the_module_and_as_stub_package():
    assert STUB.read_bytes() == (STUB_PACKAGE / "__init__.pyi").read_bytes()
    assert (STUB_PACKAGE / "py.typed").is_file()


def test_stub_lists_the_module_functions_in_registration_order():
    functions, exported = stub_functions()
    assert exported == quarn_core.__all__
    assert list(functions) == quarn_core.__all__


@pytest.mark.parametrize("name", quarn_core.__all__)
def test_stub_parameters_match_the_runtime_signature(name):
    node = stub_functions()[0][name]
    args = node.args
    assert not (args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg or args.defaults)
    params = inspect.signature(getattr(quarn_core, name)).parameters.values()
    assert [(p.name, p.kind, p.default) for p in params] == [
        (a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty) for a in args.args
    ]
