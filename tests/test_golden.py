"""The golden corpus: every case of tests/golden/*.jsonl gives exactly its recorded outcome.

The files pin every result byte and exception text of the nine functions (a text that the
interpreter writes is compared with what the running interpreter writes); any change of an
output fails here with the ids of the cases that moved. tests/golden/generate.py writes them.
"""

import pytest
from golden import corpus

FUNCTIONS = corpus.FUNCTIONS


def differences(function, numpy_cases):
    cases = [c for c in corpus.load(function) if corpus.needs_numpy(c) == numpy_cases]
    found = []
    for case in cases:
        diff = corpus.difference(function, case)
        if diff is not None:
            found.append((case["id"], diff))
    return cases, found


def report(function, found):
    case_id, (expected, got) = found[0]
    ids = ", ".join(i for i, _ in found[:50])
    return (
        f"{len(found)} cases of {function} differ: {ids}\n"
        f"first: {case_id}\n  expected: {expected}\n  got:      {got}"
    )


@pytest.mark.parametrize("function", FUNCTIONS)
def test_golden_file(function):
    cases, found = differences(function, numpy_cases=False)
    assert cases, f"no cases for {function}"
    if found:
        pytest.fail(report(function, found), pytrace=False)


def test_golden_numpy_cases():
    # The cases that pass NumPy scalars (booleans, integers, floats), from every file.
    pytest.importorskip("numpy")
    count, failures = 0, []
    for function in FUNCTIONS:
        cases, found = differences(function, numpy_cases=True)
        count += len(cases)
        if found:
            failures.append(report(function, found))
    assert count > 0
    if failures:
        pytest.fail("\n".join(failures), pytrace=False)


def test_every_function_has_a_file():
    assert sorted(p.stem for p in corpus.HERE.glob("*.jsonl")) == sorted(FUNCTIONS)
