"""SHA-256 alone: every path of the module beside OpenSSL, in one process and one loop.

The module has no Python function that hashes bytes alone, so its paths are timed by the
check program (fuzz/check_sha256.cpp, built by scripts/check-sha256 --build-only). That
program loads, with dlopen, the very libcrypto that Python's hashlib has loaded (its path
is read from /proc/self/maps) and times its one-shot SHA256() beside each path of the
module, interleaved, after checking that all give the same digest. It runs twice: as it
is, and with OpenSSL's SHA extensions masked (OPENSSL_ia32cap), which is what the
portable path is measured against. hashlib's own time per call from Python is shown for
reference. One case per message size.
"""

import hashlib
import os
import platform
import re
import subprocess
import sys
import time
from pathlib import Path

from .harness import MODULE, PEER

ROOT = Path(__file__).resolve().parent.parent
SIZES = {"64": 64, "1k": 1024, "64k": 65536, "1m": 1 << 20}
SIZE_NAMES = {64: "64 B", 1024: "1 KiB", 65536: "64 KiB", 1 << 20: "1 MiB"}
CASES = [f"sha256-{name}" for name in SIZES]
# OpenSSL reads its x86 capability vector from this variable; bit 29 of the second word is
# CPUID leaf 7's SHA bit.
MASK_SHA = {"OPENSSL_ia32cap": ":~0x20000000"}


def libcrypto_path():
    """The libcrypto shared library that hashlib's _hashlib has loaded, or None."""
    import _hashlib  # noqa: F401  (loads libcrypto)

    try:
        maps = Path("/proc/self/maps").read_text()
    except OSError:
        return None
    for line in maps.splitlines():
        path = line.split()[-1] if len(line.split()) >= 6 else ""
        if re.search(r"/libcrypto[^/]*\.so", path):
            return path
    return None


def cpu_name():
    try:
        info = Path("/proc/cpuinfo").read_text()
    except OSError:
        return platform.processor() or platform.machine()
    model = re.search(r"^(model name|Model)\s*:\s*(.+)$", info, re.M)
    flags = re.search(r"^(flags|Features)\s*:\s*(.+)$", info, re.M)
    names = set(flags.group(2).split()) if flags else set()
    sha = ", SHA extensions" if {"sha_ni", "sha2"} & names else ", no SHA extensions"
    return (model.group(2).strip() if model else platform.machine()) + sha


def check_program():
    out = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "check-sha256"), "--build-only"],
        capture_output=True,
        text=True,
        check=True,
    )
    return out.stdout.strip().splitlines()[-1]


def parse(text):
    """{size: {job: (median seconds, spread, rounds, median over the rounds of the job's time / OpenSSL's
    time)}} and the OpenSSL version line."""
    version, times = "", {}
    for line in text.splitlines():
        if line.startswith("openssl: "):
            version = line.split(": ", 1)[1]
        elif line.startswith("time "):
            _, size, job, median, spread, rounds, ratio = line.split()
            times.setdefault(int(size), {})[job] = (float(median), float(spread), int(rounds), float(ratio))
    return version, times


def _run_program(binary, lib, quick, env_extra):
    env = dict(os.environ, **env_extra)
    sizes = ",".join(str(n) for n in SIZES.values())
    out = subprocess.run(
        [binary, "time", lib, "--sizes", sizes, "--milliseconds", "500" if quick else "4000"],
        capture_output=True,
        text=True,
        env=env,
        check=False,
    )
    if out.returncode != 0:
        raise RuntimeError(f"check_sha256 time failed: {out.stderr.strip()}")
    return parse(out.stdout)


def _hashlib_per_call(data, seconds):
    """Median time of hashlib.sha256(data).digest() over batches of about 10 ms."""
    fn = hashlib.sha256
    n = 1
    while True:
        t0 = time.perf_counter()
        for _ in range(n):
            fn(data).digest()
        if time.perf_counter() - t0 > 0.01:
            break
        n *= 2
    samples, end = [], time.perf_counter() + seconds
    while time.perf_counter() < end or len(samples) < 5:
        t0 = time.perf_counter()
        for _ in range(n):
            fn(data).digest()
        samples.append((time.perf_counter() - t0) / n)
    return sorted(samples)


def _row(name, role, primary, size, median, spread):
    return {
        "name": name,
        "role": role,
        "group": "",
        "primary": primary,
        "size": size,
        "calls": 1,
        "median": median,
        "spread": spread,
        "ratio": None,
        "samples": [median],
    }


def results(quick):
    """One time-kind result per size (the form bench.run writes), from two program runs."""
    lib = libcrypto_path()
    if lib is None:
        raise RuntimeError("no libcrypto found in this process's maps (hashlib without OpenSSL?)")
    binary = check_program()
    version, plain = _run_program(binary, lib, quick, {})
    _, masked = _run_program(binary, lib, quick, MASK_SHA)
    cpu = cpu_name()
    out = {}
    for size, case in zip(SIZES.values(), CASES):
        jobs = plain[size]
        paths = [j for j in jobs if j != "openssl"]
        hardware = [p for p in paths if p != "portable"]
        first = hardware[0] if hardware else "portable"
        rows = [_row(f"quarn {first}", MODULE, True, size, *jobs[first][:2])]
        rows += [_row(f"quarn {p}", MODULE, False, size, *jobs[p][:2]) for p in paths if p != first]
        rows.append(_row("OpenSSL SHA256()", PEER, False, size, *jobs["openssl"][:2]))
        rows.append(
            _row("OpenSSL SHA256(), SHA extensions masked", PEER, False, size, *masked[size]["openssl"][:2])
        )
        samples = _hashlib_per_call(os.urandom(size), 0.3 if quick else 1.0)
        median = samples[len(samples) // 2]
        spread = (samples[3 * len(samples) // 4] - samples[len(samples) // 4]) / 2 / median
        rows.append(_row("hashlib.sha256 from Python", PEER, False, size, median, spread))
        for r in rows:
            r["ratio"] = None if r["role"] == MODULE else rows[0]["median"] / r["median"]
        # Speed ratios from the rounds' own ratios (the jobs of one round ran side by side).
        notes = []
        if hardware:
            notes.append(
                (f"speed of {first} / OpenSSL's, median of rounds (goal ≥ 0.95)", 1 / jobs[first][3])
            )
        notes.append(
            (
                "speed of portable / OpenSSL's with its SHA extensions masked, median of rounds (goal ≥ 0.6)",
                1 / masked[size]["portable"][3],
            )
        )
        out[case] = {
            "name": case,
            "title": f"SHA-256 of {SIZE_NAMES.get(size, f'{size} B')} messages, one call each; {version}; {cpu}",
            "kind": "time",
            "unit": "MB/s",
            "rounds": min(v[2] for v in jobs.values()),
            "rows": rows,
            "notes": notes,
        }
    return out
