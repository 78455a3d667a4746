"""Publishing: the figures the documentation shows are the run's own, with its conditions, and a
run that does not cover every case publishes nothing."""

import copy

import pytest

from bench import publish

META = {
    "mode": "quick", "date": "2026-12-10 09:30", "python": "3.11.7", "orjson": "3.13.0",
    "protobuf": "7.36.2", "protobuf_backend": "upb", "machine": "x86_64", "cpus": 2,
    "cpu": "Example CPU @ 2.0GHz", "system": "Linux-6.1", "quarn_core": "0.1.0", "commit": "abc1234",
    "partial": False, "load_before": 3.25, "load_after": 4.5,
}  # fmt: skip


def corpus_case(name, size, whole, peer, floor_ratio):
    row = {"group": "", "size": size, "spread": 0.01, "calls": 1, "role": "module", "primary": False}
    return {
        "name": name, "title": "t", "kind": "time", "unit": "MB/s", "rounds": 3,
        "notes": [[publish.FLOOR_NOTE, floor_ratio]],
        "rows": [dict(row, name=publish.WHOLE_JOB, median=whole, ratio=None, primary=True),
                 dict(row, name=publish.PEER_JOB, median=peer, ratio=whole / peer, role="peer")],
    }  # fmt: skip


RESULTS = {
    "meta": META,
    "failed": [],
    "cases": [
        corpus_case("corpus-canada", 2_251_051, 0.0144, 0.0207, 8.86),
        corpus_case("corpus-citm", 1_727_030, 0.0028, 0.00912, 1.72),
        corpus_case("corpus-twitter", 631_515, 0.00154, 0.00308, 2.81),
    ],
}
README = f"# quarn_core\n\nintro\n\n{publish.BEGIN}\nold figures\n{publish.END}\n\nrest\n"


def test_publish_writes_the_run_and_its_conditions(tmp_path):
    readme = tmp_path / "README.md"
    readme.write_text(README, encoding="utf-8")
    drawn = []
    written = publish.publish(
        RESULTS,
        docs=tmp_path / "docs",
        readme=readme,
        draw=lambda r, p: drawn.append((p.name, len(r["cases"]))),
    )
    assert [p.name for p in written] == ["figures.md", "chart.png", "headline.png", "README.md"]
    assert drawn == [("chart.png", 3), ("headline.png", 3)]
    figures = (tmp_path / "docs" / "figures.md").read_text(encoding="utf-8")
    text = readme.read_text(encoding="utf-8")
    for conditions in (figures, text):
        assert (
            "Quick run of 2026-12-10 09:30 on Example CPU @ 2.0GHz, 2 CPUs, Linux-6.1; Python 3.11.7, "
            "orjson 3.13.0, protobuf 7.36.2 (upb backend); quarn_core 0.1.0 (commit abc1234); "
            "load average 3.2 before the run and 4.5 after it (other work shared the machine"
        ) in conditions
    assert "### corpus-citm\n\nt  [median of 3 interleaved rounds]\n" in figures
    assert text.startswith("# quarn_core\n\nintro\n\n" + publish.BEGIN) and text.endswith(
        publish.END + "\n\nrest\n"
    )
    assert "old figures" not in text
    assert "| canada.json (2.25 MB) | 14.4 ms (156 MB/s) | 20.7 ms | 0.70 | 8.86 |" in text
    assert "| twitter.json (632 KB) | 1.54 ms (410 MB/s) | 3.08 ms | 0.50 | 2.81 |" in text


def _without(name):
    results = copy.deepcopy(RESULTS)
    results["cases"] = [c for c in results["cases"] if c["name"] != name]
    return results


@pytest.mark.parametrize("results, why", [
    ({**RESULTS, "meta": {**META, "partial": True}}, "--only"),
    ({**RESULTS, "failed": ["memory"]}, "cases failed: memory"),
    ({**RESULTS, "skipped": {"cases": ["corpus-canada"], "why": "standard documents: missing"}}, "standard documents"),
    (_without("corpus-twitter"), "lacks corpus-twitter"),
])  # fmt: skip
def test_incomplete_runs_publish_nothing(tmp_path, results, why):
    readme = tmp_path / "README.md"
    readme.write_text(README, encoding="utf-8")
    with pytest.raises(ValueError, match=why):
        publish.publish(results, docs=tmp_path / "docs", readme=readme, draw=pytest.fail)
    assert readme.read_text(encoding="utf-8") == README and not (tmp_path / "docs").exists()


def test_readme_without_the_markers_is_refused(tmp_path):
    readme = tmp_path / "README.md"
    readme.write_text("# quarn_core\n", encoding="utf-8")
    with pytest.raises(ValueError, match="no block"):
        publish.publish(RESULTS, docs=tmp_path / "docs", readme=readme, draw=pytest.fail)


def test_a_quiet_machine_is_not_called_busy():
    text = publish.conditions({**META, "load_before": 0.2, "load_after": 0.4})
    assert text.endswith("load average 0.2 before the run and 0.4 after it.")
