"""Peak memory of one call, measured in a fresh interpreter.

The parent writes the document to a file; a child process (`python -m bench.memory JOB PATH`)
reads it, builds the call's input, resets the kernel's peak-RSS mark (writing 5 to
/proc/self/clear_refs), calls the job once and reports how far the peak rose above the
resident size just before the call. Everything the call allocates counts, its result too.
The figure is given as a multiple of the document's UTF-8 size.
"""

import functools
import gc
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

TEXT_JOBS = {
    # job name: role
    "quarn normalize_json": "module",
    "orjson loads+dumps": "peer",
    "json loads+dumps": "peer",
}
PAYLOAD_JOBS = {
    "quarn process_export_payload_pyobject": "module",
    "Python: orjson, base64, hashlib, protobuf": "peer",
    "orjson dumps+loads, sha256 (floor)": "floor",
}


def _status_kib(key):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise KeyError(key)


def _reset_peak():
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def _job(name, path):
    """The call to measure, with its input already built, and the input's size in memory."""
    import orjson

    import quarn_core as qc

    from . import documents, peers

    text = Path(path).read_text(encoding="utf-8")
    if name in TEXT_JOBS:
        fns = {"quarn normalize_json": qc.normalize_json, "orjson loads+dumps": peers.orjson_normalize,
               "json loads+dumps": peers.stdlib_normalize}  # fmt: skip
        return functools.partial(fns[name], text), sys.getsizeof(text)
    payload = orjson.loads(text)
    fns = {"quarn process_export_payload_pyobject": qc.process_export_payload_pyobject,
           "Python: orjson, base64, hashlib, protobuf": peers.process_payload_object,
           "orjson dumps+loads, sha256 (floor)": peers.payload_floor_object}  # fmt: skip
    return functools.partial(fns[name], payload, documents.PAYLOAD_RULES), None


def probe(name, path):
    fn, input_bytes = _job(name, path)
    gc.collect()
    reset = _reset_peak()
    before = _status_kib("VmRSS")
    if not reset:
        before = max(before, _status_kib("VmHWM"))
    result = fn()
    peak = _status_kib("VmHWM")
    return {
        "before_kib": before,
        "peak_kib": peak,
        "reset": reset,
        "input_object_bytes": input_bytes,
        "result_text_bytes": _text_bytes(result),
    }


def _text_bytes(result):
    """Memory held by the str and bytes objects of a result (None when it holds others)."""
    items = result if type(result) is tuple else (result,)
    if all(type(x) in (str, bytes) for x in items):
        return sum(sys.getsizeof(x) for x in items)
    return None


def measure(name, path):
    """Run one probe in a child interpreter; its report plus the document's UTF-8 size."""
    out = subprocess.run(
        [sys.executable, "-m", "bench.memory", name, str(path)],
        check=True,
        capture_output=True,
        text=True,
        cwd=Path(__file__).resolve().parent.parent,
    )
    report = json.loads(out.stdout)
    report["size"] = os.path.getsize(path)
    report["increase"] = max(0, report["peak_kib"] - report["before_kib"]) * 1024
    report["multiple"] = report["increase"] / report["size"]
    return report


def write_documents(directory, quick):
    """The two documents of the memory case, as files: (text path, payload path)."""
    from . import documents

    text_bytes = 20_000_000 if quick else 100_000_000
    payload_bytes = 5_000_000 if quick else documents.SIZES["huge"]
    text_path = Path(directory) / "document.json"
    text_path.write_text(documents.realistic_document(3, text_bytes), encoding="utf-8")
    payload, _ = documents.export_payload("huge", seed=4, target_bytes=payload_bytes)
    payload_path = Path(directory) / "payload.json"
    payload_path.write_text(json.dumps(payload, ensure_ascii=False), encoding="utf-8")
    return text_path, payload_path


def run(quick):
    """Every memory job, each in its own child process: a list of result rows."""
    rows = []
    with tempfile.TemporaryDirectory(prefix="quarn-bench-") as directory:
        text_path, payload_path = write_documents(directory, quick)
        for jobs, path, what in ((TEXT_JOBS, text_path, "document"), (PAYLOAD_JOBS, payload_path, "payload")):
            for name, role in jobs.items():
                report = measure(name, path)
                rows.append(dict(report, name=name, role=role, group=what))
    return rows


if __name__ == "__main__":
    print(json.dumps(probe(sys.argv[1], sys.argv[2])))
