"""Many threads calling all nine functions at once on shared arguments.

Calls hold the interpreter lock, but the conversion hooks of the arguments (__index__,
__float__) run Python code in the middle of a call, where the interpreter may switch to
another thread, which then enters the module itself. With a tiny switch interval that
happens constantly, so calls of different threads interleave inside conversions. Every
outcome must equal the one of a plain sequential run, and the shared arguments must come
out unchanged, reference counts included.
"""

import gc
import sys
import threading

import pytest
from support import calls as call_table
from support.calls import CASES, NOISY, SANITIZED, Ok, call, function, quiet_stderr, shared
from support.interpreter import refcounts

THREADS = 8 if SANITIZED else 12
ROUNDS = 40 if SANITIZED else 300
# A dict whose hooks change it cannot be shared: the change seen by one call would depend on
# the other threads; each thread makes its own.
PER_THREAD = {"object dict changed"}


class Witness:
    """An __index__ that takes a while and counts how often it starts while another thread is
    inside it, that is, while another call of the module is in progress."""

    def __init__(self):
        self.inside = self.overlaps = 0

    def __index__(self):
        self.overlaps += self.inside > 0
        self.inside += 1
        total = sum(range(1000))
        self.inside -= 1
        return total % 7


def same_outcome(a, b):
    (ra, ea), (rb, eb) = a, b
    if ea is None or eb is None:
        return ea is None and eb is None and type(ra) is type(rb) and ra == rb
    return type(ea) is type(eb) and ea.args == eb.args


@pytest.fixture
def tiny_switch_interval():
    before = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(before)


def test_concurrent_calls_match_a_sequential_run(tiny_switch_interval):
    witness = Witness()
    witnessed = ("witnessed", "process_export_payload_pyobject",
                 lambda: (({"w": [witness, "x"], "n": 1.5}, {"w": [1]}), {}), None)  # fmt: skip
    shared_args = {cid: make() for cid, _, make, _ in CASES + [witnessed]}
    table = [(cid, function(name), expected) for cid, name, _, expected in CASES]
    alone = function(witnessed[1])(*shared_args["witnessed"][0])
    assert alone[0] == {"n": 1.5, "w": [sum(range(1000)) % 7, "x"]}
    table.append(("witnessed", function(witnessed[1]), Ok(alone)))
    with quiet_stderr(bool(NOISY)):
        sequential = {cid: call(fn, *shared_args[cid]) for cid, fn, _ in table}
    wrong = [cid for cid, _, expected in table if not call_table.matches(expected, *sequential[cid])]
    assert wrong == []

    tracked = call_table.reachable(*(shared_args[cid] for cid, _, _ in table if cid not in PER_THREAD))
    gc.collect()
    counts = refcounts(tracked)
    barrier = threading.Barrier(THREADS)
    failures, calls = [], [0] * THREADS

    def worker(index):
        own = {cid: CASES_BY_ID[cid][2]() for cid in PER_THREAD}
        order = table[index % len(table) :] + table[: index % len(table)]
        try:
            barrier.wait()
            for _ in range(ROUNDS):
                for cid, fn, expected in order:
                    got = call(fn, *own.get(cid, shared_args[cid]))
                    calls[index] += 1
                    if not same_outcome(got, sequential[cid]):
                        failures.append((index, cid, call_table.describe(expected), repr(got)[:300]))
        except BaseException as e:  # reported below; a dying thread must not hang the others
            failures.append((index, "worker", type(e).__name__, str(e)))
            barrier.abort()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    with quiet_stderr(bool(NOISY)):
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert failures[:5] == []
    assert witness.overlaps > 0 and witness.inside == 0
    assert calls == [ROUNDS * len(table)] * THREADS
    gc.collect()  # caught exceptions reach the frames that held them: cycles
    after = refcounts(tracked)
    assert [
        (repr(o)[:80], b, a) for o, b, a in zip(tracked, counts, after) if a != b and not shared(o)
    ] == []  # the soak test watches the shared ones


CASES_BY_ID = {c[0]: c for c in CASES}
