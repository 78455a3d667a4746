"""Soak: every call of the shared table repeated 10^5 times, its outcome checked each time,
with resident memory, interpreter memory blocks and the reference counts of every argument
(and of the objects of a result kept alive meanwhile) unchanged afterwards. The first call is
judged on its own too: a reference given back once too often shows there, before repeated calls
free the object and the process crashes; its result must have no owner but the caller.

A leak of one small heap block per call shows as at least 3 MiB of resident memory over
10^5 calls (a 16-byte request takes a 32-byte chunk), and a leaked interpreter object as
10^5 blocks; the tolerances below sit well under both and well above the measured noise.
Under the sanitizer build (QUARN_SANITIZED=1) the counts are scaled down and resident
memory is not judged: the allocator keeps freed memory in quarantine there, and its own
leak checker takes that job.
"""

import gc
import os
import sys

import pytest
from support import calls
from support.calls import CASES, SANITIZED, Ok, describe, function, matches, shared
from support.interpreter import refcounts

CALLS = 10**3 if SANITIZED else 10**5
WARM_UP = CALLS // 10
# Resident memory growth allowed over CALLS calls after the warm-up. Measured growth over
# all cases of the table is 0 bytes, once one 4 KiB page; a wrapper that leaks one 8- or
# 16-byte malloc per call measured 2.9-3.2 MB. 1 MiB lies between the two.
RSS_TOLERANCE = 1 << 20
# Interpreter memory blocks allowed to remain: free lists and caches settle during the
# warm-up; measured growth is 1-3 blocks, one leaked object per call would be 10^5.
BLOCK_TOLERANCE = 100
SHARED_TOLERANCE = 50
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def repeat(fn, args, kwargs, expected, n):
    """Calls fn n times; returns the number of calls whose outcome differed and the first one."""
    wrong, first = 0, None
    if isinstance(expected, Ok):
        want, kind = expected.value, type(expected.value)
        for _ in range(n):
            r = fn(*args, **kwargs)
            if type(r) is not kind or r != want:
                wrong += 1
                first = first or r
        return wrong, first
    for _ in range(n):
        try:
            fn(*args, **kwargs)
        except BaseException as e:  # noqa: PERF203 - the failing call itself is what is repeated
            if not matches(expected, error=e):
                wrong += 1
                first = first or e
        else:
            wrong += 1
    return wrong, first


def counts_of(objects):
    return refcounts(objects)


def changed(objects, counts):
    """The objects whose reference count is no longer the one in counts (shared objects within
    SHARED_TOLERANCE). Both counts are taken by counts_of: how an object handed to a call is
    counted differs between interpreters (3.14 lends a local variable without a new reference)."""
    return [
        (repr(o)[:80], before, now)
        for o, before, now in zip(objects, counts, counts_of(objects))
        if now != before and not (shared(o) and abs(now - before) < SHARED_TOLERANCE)
    ]


@pytest.mark.parametrize("case_id, name, make, expected", CASES, ids=[c[0] for c in CASES])
def test_repeated_calls_keep_memory_and_references(case_id, name, make, expected):
    fn = function(name)
    args, kwargs = make()
    alone = object()  # referred to by this name only, as a kept result must be
    with calls.quiet_stderr(case_id in calls.NOISY):
        # The first call gives back every reference it takes, before a miscounted one can add up
        # to a freed object, and hands its result to the caller alone.
        tracked = calls.reachable(args, kwargs)
        gc.collect()  # garbage of earlier tests may still refer to shared arguments
        counts = counts_of(tracked)
        assert repeat(fn, args, kwargs, expected, 1) == (0, None), describe(expected)
        gc.collect()
        assert changed(tracked, counts) == []
        kept = fn(*args, **kwargs) if isinstance(expected, Ok) else None  # alive throughout
        if isinstance(expected, Ok) and not shared(kept):
            assert sys.getrefcount(kept) == sys.getrefcount(alone)
        assert repeat(fn, args, kwargs, expected, WARM_UP) == (0, None), describe(expected)
        tracked = calls.reachable(args, kwargs, kept)
        gc.collect()
        counts = counts_of(tracked)
        rss, blocks = resident(), sys.getallocatedblocks()

        wrong, first = repeat(fn, args, kwargs, expected, CALLS)

        gc.collect()
        rss_growth, block_growth = resident() - rss, sys.getallocatedblocks() - blocks
    assert (wrong, first) == (0, None), f"{wrong} of {CALLS} calls: expected {describe(expected)}"
    assert changed(tracked, counts) == []
    assert block_growth < BLOCK_TOLERANCE
    if not SANITIZED:
        assert rss_growth < RSS_TOLERANCE, f"resident memory grew by {rss_growth} bytes"
    del tracked
    if isinstance(expected, Ok) and not shared(kept):
        assert sys.getrefcount(kept) == sys.getrefcount(alone)
