"""Two builds of the module side by side in one process: same outputs, and how their times compare.

    python -m bench.ab OLD.so NEW.so [--corpus DIR] [--quick] [--only NAME,...]

Both files are loaded under the module's own name (each from its own path, so the
interpreter keeps them apart), every job's outputs are compared first (they must be
identical), then the jobs are timed in interleaved rounds: old, new, new, old, ... so that
drift of a busy machine hits both alike. Each round gives one ratio new/old of the two
batch times; the table shows the median ratio with the quartiles of the rounds' ratios
(below 1 the new build is faster). Jobs: normalize_and_hash and deterministic_hash of the
standard documents, normalize_and_hash and process_export_payload_pyobject per record of
twitter.json's statuses and citm_catalog.json's events, and the span road (each record's
input and output through process_export_payload_pyobject, its span, one export request
of all spans; and examples/export_road.py's calls).
"""

import argparse
import gc
import importlib.machinery
import importlib.util
import json
import statistics
import sys
import time
from pathlib import Path

from . import documents
from .harness import plan, run_rounds

ROOT = Path(__file__).resolve().parent.parent
NAME = "quarn_core"
RULES = {"body": {"encoding": 1, "decoded_type": 1, "match_importance": 1.0}}
KWARGS = {"timeout": 30.0, "retries": 2, "stream": False, "headers": {"Accept": "application/json"}}


def load(path):
    """The extension module in `path`, loaded under the module's own name but kept out of
    sys.modules, so that two builds live side by side."""
    path = Path(path).resolve()
    loader = importlib.machinery.ExtensionFileLoader(NAME, str(path))
    found = importlib.util.spec_from_file_location(NAME, str(path), loader=loader)
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module


def _each(fn, items):
    def run():
        return [fn(item) for item in items]

    return run


def _road(qc, calls):
    """Each call's input and output as payload objects, its span, then one export request."""

    def run():
        spans = []
        for i, (name, inp, rules, out) in enumerate(calls):
            a = qc.process_export_payload_pyobject(inp, rules)
            b = qc.process_export_payload_pyobject(out, None)
            spans.append(
                qc.build_span_proto_bytes_pyobject(
                    trace_id="4bf92f3577b34da6a3ce929d0e0e4736", span_id=f"{i:016x}",
                    parent_span_id="" if i == 0 else f"{0:016x}", name=name, package_name="http",
                    instrumentation_name="quarn.http", submodule_name="server", package_type=1,
                    environment="production", kind=1, input_schema=a[2], output_schema=b[2],
                    input_schema_hash=a[3], output_schema_hash=b[3], input_value_hash=a[1],
                    output_value_hash=b[1], status_code=1, status_message="", is_pre_app_start=False,
                    is_root_span=i == 0, timestamp_seconds=1_700_000_000 + i, timestamp_nanos=i,
                    duration_seconds=0, duration_nanos=1_250_000, metadata={"host": "web-1"},
                    input_value=None, output_value=None, input_value_proto_struct_bytes=a[4],
                    output_value_proto_struct_bytes=b[4],
                )
            )  # fmt: skip
        return qc.build_export_spans_request_bytes_pyobject(
            observable_service_id="checkout", environment="production", sdk_version="0.1.0",
            sdk_instance_id="instance-1", spans=spans,
        )  # fmt: skip

    return run


def _example_calls():
    """The calls of examples/export_road.py, read from its source (it imports the module)."""
    source = (ROOT / "examples" / "export_road.py").read_text(encoding="utf-8")
    namespace = {}
    head = source.split("# ---- a minimal protobuf reader")[0].replace("import quarn_core\n", "")
    exec(compile(head, "export_road.py", "exec"), namespace)
    return [(c["name"], c["input"], namespace["RULES"], c["output"]) for c in namespace["CALLS"]]


def jobs(qc, corpus):
    """(name, calls per run, function) for one build of the module."""
    out = []
    for name in ("canada", "citm", "twitter"):
        text = documents.corpus_document(corpus, name)
        out.append((f"{name}.json normalize_and_hash", 1, lambda t=text: qc.normalize_and_hash(t)))
        out.append((f"{name}.json deterministic_hash", 1, lambda t=text: qc.deterministic_hash(t)))
    records = documents.corpus_records(corpus)
    for group, (objects, texts) in records.items():
        payloads = [{"args": r, "kwargs": KWARGS} for r in objects]
        out.append(
            (f"{group}: normalize_and_hash per record", len(texts), _each(qc.normalize_and_hash, texts))
        )
        out.append(
            (
                f"{group}: process_export_payload_pyobject per record",
                len(payloads),
                _each(lambda p: qc.process_export_payload_pyobject(p, None), payloads),
            )
        )
    statuses = records["statuses"][0]
    calls = [
        (f"status {s['id']}", {"args": s, "kwargs": KWARGS}, None, {"ok": True, "n": i})
        for i, s in enumerate(statuses)
    ]
    out.append(("span road: 100 statuses, one export request", len(calls), _road(qc, calls)))
    example = _example_calls()
    out.append(("span road: examples/export_road.py", len(example), _road(qc, example)))
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench.ab", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)  # fmt: skip
    parser.add_argument("old", type=Path)
    parser.add_argument("new", type=Path)
    parser.add_argument("--corpus", type=Path, default=documents.DEFAULT_CORPUS)
    parser.add_argument("--quick", action="store_true", help="fewer and shorter rounds")
    parser.add_argument(
        "--seconds", type=float, default=None, help="timed seconds per job (default 12, quick 3)"
    )
    parser.add_argument(
        "--only", default="", help="jobs whose name contains one of these words (comma-separated)"
    )
    parser.add_argument("--json", type=Path, help="also write every round's times to this file")
    args = parser.parse_args(argv)
    if args.old.resolve() == args.new.resolve():
        raise SystemExit("bench.ab: OLD and NEW are the same file; copy one build elsewhere first")

    old, new = load(args.old), load(args.new)
    old_jobs, new_jobs = jobs(old, args.corpus), jobs(new, args.corpus)
    words = [w for w in args.only.split(",") if w]
    chosen = [i for i, (name, _, _) in enumerate(old_jobs) if not words or any(w in name for w in words)]
    seconds = args.seconds or (3.0 if args.quick else 12.0)
    print(f"old: {args.old}\nnew: {args.new}\nPython {sys.version.split()[0]}; ratio new/old, median of rounds "
          f"[quartiles]; below 1 the new build is faster")  # fmt: skip
    rows, dump = [], {}
    for i in chosen:
        name, calls, old_fn = old_jobs[i]
        new_fn = new_jobs[i][2]
        if old_fn() != new_fn():
            print(f"{name}: OUTPUTS DIFFER")
            rows.append((name, None))
            continue
        gc.collect()
        gc.freeze()
        try:
            for fn in (old_fn, new_fn):
                fn()
            t0 = time.perf_counter()
            old_fn()
            one = time.perf_counter() - t0
            counts, rounds = plan([one, one], _settings(seconds, args.quick))
            # old, new, new, old: each build goes first as often as second.
            a = run_rounds([old_fn, new_fn], counts, (rounds + 1) // 2)
            b = run_rounds([new_fn, old_fn], counts, (rounds + 1) // 2)
        finally:
            gc.unfreeze()
        old_s, new_s = a[0] + b[1], a[1] + b[0]
        per_round = sorted(n / o for n, o in zip(new_s, old_s))
        q1, med, q3 = (
            statistics.quantiles(per_round, n=4)
            if len(per_round) >= 4
            else (min(per_round), statistics.median(per_round), max(per_round))
        )
        print(f"{name:55s} old {statistics.median(old_s) / calls * 1e6:10.2f} µs  new {statistics.median(new_s) / calls * 1e6:10.2f} µs"
              f"  new/old {med:.3f} [{q1:.3f}, {q3:.3f}]  ({len(per_round)} rounds)", flush=True)  # fmt: skip
        rows.append((name, med))
        dump[name] = {"calls": calls, "old": old_s, "new": new_s}
    if args.json:
        args.json.write_text(json.dumps(dump, indent=1), encoding="utf-8")
    return 1 if any(r is None for _, r in rows) else 0


def _settings(seconds, quick):
    from .harness import Settings

    return Settings(batch_seconds=0.02 if quick else 0.04, case_seconds=seconds, min_rounds=6, max_rounds=200)


if __name__ == "__main__":
    sys.exit(main())
