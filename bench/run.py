"""Run the benchmark cases, print their tables and write bench/results/latest.{md,json,png}."""

import os

# The peers get the protobuf package's fastest backend (upb, its default); a setting left over
# from a test environment that pins the pure-Python one would make them look slower than they are.
os.environ.pop("PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION", None)

import argparse
import datetime
import importlib.util
import itertools
import json
import platform
import subprocess
import sys
import time
import traceback
from pathlib import Path

MEMORY = "memory"
RESULTS = Path(__file__).resolve().parent / "results"
ORJSON_RELEASE = (3, 13)  # the oldest orjson the bench extra accepts (pyproject.toml)


def _release(version):
    """The leading numeric parts of a version text: "3.13.0" -> (3, 13, 0)."""
    parts = []
    for part in version.split("."):
        digits = "".join(itertools.takewhile(str.isdigit, part))
        if not digits:
            break
        parts.append(int(digits))
    return tuple(parts)


def select(names, patterns):
    """The names that equal a pattern or start with it followed by "-", in `names` order."""
    if not patterns:
        return list(names)
    chosen = [n for n in names if any(n == p or n.startswith(p + "-") for p in patterns)]
    unknown = [p for p in patterns if not any(n == p or n.startswith(p + "-") for n in names)]
    if unknown:
        raise SystemExit(f"unknown case {', '.join(unknown)}; the cases are: {', '.join(names)}")
    return chosen


def corpus_skips(selected, corpus_cases, directory, given):
    """The cases among `selected` that need standard documents missing from `directory`, and
    one line that says so. A directory named with --corpus (`given`) must hold what the
    selected cases need: a missing one ends the run."""
    from .documents import missing_corpus_files

    if given and not directory.is_dir():
        raise SystemExit(f"--corpus {directory}: no such directory")
    needs = {name: corpus_cases[name][0] for name in selected if name in corpus_cases}
    missing = missing_corpus_files(directory, sorted({d for ds in needs.values() for d in ds}))
    if not missing:
        return [], None
    if given:
        raise SystemExit(f"--corpus {directory}: {', '.join(missing)} missing")
    skipped = [name for name, ds in needs.items() if missing_corpus_files(directory, ds)]
    return skipped, (
        f"standard documents: {', '.join(missing)} not found in {directory} "
        f"(--corpus DIR names their directory); skipping {', '.join(skipped)}"
    )


def _importable(name):
    try:
        return importlib.util.find_spec(name) is not None
    except ModuleNotFoundError:  # a missing parent package
        return False


def _load():
    """The one-minute load average, or None where the system does not tell it."""
    try:
        return round(os.getloadavg()[0], 2)
    except (AttributeError, OSError):
        return None


def _cpu():
    """The CPU's model name, as Linux tells it; else what the platform module knows."""
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or None


def _commit():
    """The checked-out commit of the tree the bench runs from, marked when it has changes."""

    def git(*args):
        return subprocess.run(
            ["git", *args], cwd=RESULTS.parent, capture_output=True, text=True, check=True
        ).stdout

    try:
        commit = git("rev-parse", "--short", "HEAD").strip()
        changed = git("status", "--porcelain", "--untracked-files=no").strip()
    except (OSError, subprocess.CalledProcessError):
        return None
    return commit + (" with uncommitted changes" if changed else "")


def _meta(quick, partial=False):
    import importlib.metadata

    import google.protobuf
    import orjson
    from google.protobuf.internal import api_implementation

    try:
        module = importlib.metadata.version("quarn-core")
    except importlib.metadata.PackageNotFoundError:
        module = None
    return {
        "mode": "quick" if quick else "full",
        "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
        "python": platform.python_version(),
        "protobuf": google.protobuf.__version__,
        "protobuf_backend": api_implementation.Type(),
        "orjson": orjson.__version__,
        "machine": platform.machine(),
        "cpus": os.cpu_count(),
        "cpu": _cpu(),
        "system": platform.platform(terse=True),
        "quarn_core": module,
        "commit": _commit(),
        "partial": partial,
        "load_before": _load(),
    }


def timing_result(case, timings):
    from .harness import note_value, ratios

    rows = [
        {
            "name": t.job.name,
            "role": t.job.role,
            "group": t.job.group,
            "primary": t.job.primary,
            "size": t.job.size,
            "calls": t.job.calls,
            "median": t.median,
            "spread": t.spread,
            "ratio": r,
            "samples": t.samples,
        }
        for t, r in zip(timings, ratios(timings))
    ]
    notes = [(label, note_value(timings, a, b)) for label, a, b in case.notes]
    return {
        "name": case.name,
        "title": case.title,
        "kind": "time",
        "unit": case.unit,
        "rounds": len(timings[0].samples),
        "rows": rows,
        "notes": notes,
    }


def memory_result(rows, quick):
    size = {row["group"]: row["size"] for row in rows}
    by_name = {row["name"]: row for row in rows}
    document = by_name["quarn normalize_json"]
    notes = [("input str in memory, × its UTF-8 size", document["input_object_bytes"] / document["size"])]
    return {
        "name": MEMORY,
        "kind": "memory",
        "rows": rows,
        "notes": notes,
        "title": f"peak memory of one call: normalize_json on a {size['document'] / 1e6:.0f} MB document, "
        f"process_export_payload_pyobject on a {size['payload'] / 1e6:.0f} MB payload",
    }


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m bench", description=__doc__)
    parser.add_argument("--quick", action="store_true", help="a short run (about 2 minutes)")
    parser.add_argument(
        "--only",
        action="append",
        default=[],
        metavar="CASE",
        help="run only these cases (comma-separated, repeatable; a prefix such as "
        "'canonical' selects canonical-request, canonical-typical, ...)",
    )
    parser.add_argument("--list", action="store_true", help="list the cases and exit")
    parser.add_argument(
        "--corpus",
        type=Path,
        metavar="DIR",
        help="directory of the standard documents canada.json, citm_catalog.json and twitter.json "
        "(default: shared/json-corpus beside the repository's directory)",
    )
    parser.add_argument("--out", type=Path, default=RESULTS, help="directory for latest.md, .json and .png")
    parser.add_argument("--no-chart", action="store_true", help="skip drawing latest.png")
    parser.add_argument("--redraw", action="store_true", help="only draw latest.png again from latest.json")
    parser.add_argument(
        "--publish",
        action="store_true",
        help="also write the figures into docs/performance/ and the README's headline block "
        "(every case must run; with --redraw: from latest.json, without running)",
    )
    args = parser.parse_args(argv)
    if args.publish and args.only:
        parser.error("--publish needs every case: leave out --only")
    if args.redraw:
        from . import report

        results = json.loads((args.out / "latest.json").read_text(encoding="utf-8"))
        report.draw(results, args.out / "latest.png")
        return _publish(results) if args.publish else 0

    missing = [m for m in ("quarn_core", "orjson", "google.protobuf", "matplotlib") if not _importable(m)]
    if missing:
        print(
            f"missing {', '.join(missing)}: install the module with its bench extra, pip install '.[bench]'",
            file=sys.stderr,
        )
        return 2

    from . import cases, documents, harness, memory, report, sha256

    # The standard documents come first: they are the figures other libraries publish.
    names = list(cases.CORPUS_CASES) + list(cases.CASES) + sha256.CASES + [MEMORY]
    if args.list:
        print("\n".join(names))
        return 0
    selected = select(names, [p for item in args.only for p in item.split(",") if p])
    corpus = args.corpus or documents.DEFAULT_CORPUS
    skipped, why = corpus_skips(selected, cases.CORPUS_CASES, corpus, args.corpus is not None)
    settings = harness.QUICK if args.quick else harness.FULL
    results = {"meta": _meta(args.quick, partial=bool(args.only)), "cases": [], "failed": []}
    if why:
        print(why, flush=True)
        results["skipped"] = {"cases": skipped, "why": why}
    if results["meta"]["protobuf_backend"] != "upb":
        print(
            f"note: protobuf runs on its {results['meta']['protobuf_backend']} backend, not upb",
            file=sys.stderr,
        )
    if _release(results["meta"]["orjson"]) < ORJSON_RELEASE:
        print(
            f"note: orjson {results['meta']['orjson']} is older than the bench extra asks for "
            f"({'.'.join(map(str, ORJSON_RELEASE))})",
            file=sys.stderr,
        )
    print(report.versions(results["meta"]), flush=True)
    start = time.perf_counter()
    sha256_results = {}
    for name in selected:
        if name in skipped:
            continue
        t0 = time.perf_counter()
        try:
            if name == MEMORY:
                result = memory_result(memory.run(args.quick), args.quick)
            elif name in sha256.CASES:
                # One run of the check program times every size.
                if not sha256_results:
                    sha256_results.update(sha256.results(args.quick))
                result = sha256_results[name]
            else:
                if name in cases.CORPUS_CASES:
                    case = cases.CORPUS_CASES[name][1](corpus)
                else:
                    case = cases.CASES[name]()
                if case.check is not None:
                    case.check()
                result = timing_result(case, harness.measure(case, settings))
                del case
        except Exception:
            print(f"\n{name}: FAILED\n{traceback.format_exc()}", file=sys.stderr)
            results["failed"].append(name)
            continue
        results["cases"].append(result)
        print(
            "\n"
            + "\n".join(report.case_lines(result, results["meta"]))
            + f"\n({time.perf_counter() - t0:.0f} s)",
            flush=True,
        )
    results["meta"]["seconds"] = round(time.perf_counter() - start, 1)
    results["meta"]["load_after"] = _load()
    print(f"\n{report.RATIO_HELP}\nTotal {results['meta']['seconds']:.0f} s.")

    args.out.mkdir(parents=True, exist_ok=True)
    (args.out / "latest.md").write_text(report.markdown(results) + "\n", encoding="utf-8")
    report.write_json(results, args.out / "latest.json")
    written = ["latest.md", "latest.json"]
    if not args.no_chart and results["cases"]:
        report.draw(results, args.out / "latest.png")
        written.append("latest.png")
    print(f"Wrote {', '.join(str(args.out / w) for w in written)}")
    if results["failed"]:
        return 1
    return _publish(results) if args.publish else 0


def _publish(results):
    from . import publish

    try:
        written = publish.publish(results)
    except ValueError as e:
        print(e, file=sys.stderr)
        return 1
    print(f"Published {', '.join(str(path.relative_to(publish.ROOT)) for path in written)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
