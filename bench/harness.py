"""Cases, jobs and the interleaved timer.

A case is one question ("how fast is the canonical text of a 2 KB document?"): a few jobs
that do the same work, the module's and its peers'. The timer runs the jobs of a case in
rounds, one batch of calls per job per round, in a fixed order (module, peer 1, peer 2,
module, ...), so that drift of the machine (frequency changes, other processes) hits every
job alike. A job's figure is the median over the rounds of its batch time per call.
"""

import gc
import statistics
import time
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any

MODULE, PEER, FLOOR = "module", "peer", "floor"


@dataclass
class Job:
    name: str
    fn: Callable[[], Any]
    role: str = PEER  # MODULE, PEER or FLOOR (the cost no implementation can beat)
    group: str = ""  # variant of the case (a key order, a nesting shape); ratios stay inside it
    primary: bool = False  # the module job that the peers of its group are compared with
    size: int | None = None  # UTF-8 bytes handled per call, when throughput means something
    calls: int = 1  # calls of the measured function per call of `fn` (one per record of a set)


@dataclass
class Case:
    name: str
    title: str
    jobs: list
    unit: str = "MB/s"  # "MB/s" (bytes per call known) or "calls/s"
    check: Callable[[], None] | None = None  # raises when the jobs do not do the same work
    notes: list = field(default_factory=list)  # (label, numerator job, denominator job) ratios
    kind: str = "time"


@dataclass
class Timing:
    job: Job
    samples: list  # seconds per call, one per round

    @property
    def median(self):
        return statistics.median(self.samples)

    @property
    def spread(self):
        """Half the distance between the quartiles, relative to the median."""
        if len(self.samples) < 4:
            return (max(self.samples) - min(self.samples)) / 2 / self.median
        q1, _, q3 = statistics.quantiles(self.samples, n=4)
        return (q3 - q1) / 2 / self.median


@dataclass
class Settings:
    batch_seconds: float  # aim for one batch of calls to take this long
    case_seconds: float  # aim for the timed rounds of one case to take this long
    min_rounds: int
    max_rounds: int


FULL = Settings(batch_seconds=0.05, case_seconds=24.0, min_rounds=5, max_rounds=45)
QUICK = Settings(batch_seconds=0.02, case_seconds=3.0, min_rounds=3, max_rounds=7)


def _time_one(fn):
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def plan(per_call, settings):
    """Calls per batch for each job and the number of rounds, from one timed call each."""
    counts = [max(1, int(settings.batch_seconds / max(t, 1e-9))) for t in per_call]
    round_seconds = sum(n * t for n, t in zip(counts, per_call))
    rounds = int(settings.case_seconds / max(round_seconds, 1e-9))
    return counts, max(settings.min_rounds, min(settings.max_rounds, rounds))


def run_rounds(fns, counts, rounds, clock=time.perf_counter):
    """Time `rounds` rounds of one batch per function, interleaved; seconds per call."""
    samples = [[] for _ in fns]
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            n = counts[i]
            t0 = clock()
            for _ in range(n):
                fn()
            samples[i].append((clock() - t0) / n)
    return samples


def measure(case, settings):
    """Timings of every job of the case. The objects the jobs use are frozen out of the
    garbage collector's reach first, so a collection pass costs every job the same."""
    gc.collect()
    gc.freeze()
    try:
        fns = [job.fn for job in case.jobs]
        for fn in fns:  # warm-up: first-call costs (imports, caches) stay out of the figures
            fn()
        counts, rounds = plan([_time_one(fn) for fn in fns], settings)
        samples = run_rounds(fns, counts, rounds)
    finally:
        gc.unfreeze()
    return [Timing(job, s) for job, s in zip(case.jobs, samples)]


def ratios(timings):
    """For every peer and floor job: the time of its group's primary module job divided by
    its own (module / peer: below 1 the module is faster). None for module jobs and where
    the group has no primary job."""
    primary = {t.job.group: t.median for t in timings if t.job.primary}
    out = []
    for t in timings:
        base = primary.get(t.job.group)
        out.append(None if base is None or t.job.role == MODULE else base / t.median)
    return out


def note_value(timings, numerator, denominator):
    """Time of job `numerator` over time of job `denominator`, per byte when both have sizes."""
    by_name = {t.job.name: t for t in timings}
    a, b = by_name[numerator], by_name[denominator]
    if a.job.size and b.job.size:
        return (a.median / a.job.size) / (b.median / b.job.size)
    return a.median / b.median
