"""Publish a run's figures where the documentation reads them: docs/performance/figures.md (every
table), the charts beside it (every case; the standard documents alone) and the headline block
of README.md. Figures in the documentation come from here, never typed by hand, and each file
says under which conditions its run was made."""

import copy
from pathlib import Path

from . import report

ROOT = Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs" / "performance"
README = ROOT / "README.md"
BEGIN = "<!-- bench:headline (written by python -m bench --publish) -->"
END = "<!-- /bench:headline -->"
# The standard documents, in the order of the headline table.
HEADLINE = {
    "corpus-canada": "canada.json",
    "corpus-citm": "citm_catalog.json",
    "corpus-twitter": "twitter.json",
}
WHOLE_JOB, PEER_JOB = "quarn normalize_and_hash", "orjson loads+dumps, sha256"
FLOOR_NOTE = "quarn deterministic_hash / floor"


def refusal(results):
    """Why these results may not be published, or None: published figures cover every case."""
    if results["meta"].get("partial"):
        return "the run chose its cases with --only"
    if results.get("failed"):
        return f"cases failed: {', '.join(results['failed'])}"
    if results.get("skipped"):
        return results["skipped"]["why"]
    missing = [name for name in HEADLINE if name not in {c["name"] for c in results["cases"]}]
    if missing:
        return f"the run lacks {', '.join(missing)}"
    return None


def conditions(meta):
    """One sentence on the run: mode, date, machine, versions and how busy the machine was."""
    machine = ", ".join(
        part
        for part in (meta.get("cpu") or meta["machine"], f"{meta['cpus']} CPUs", meta.get("system"))
        if part
    )
    module = meta.get("quarn_core", "")
    if module and meta.get("commit"):
        module += f" (commit {meta['commit']})"
    text = f"{meta['mode'].capitalize()} run of {meta['date']} on {machine}; {report.versions(meta)}"
    if module:
        text += f"; quarn_core {module}"
    load = [meta.get("load_before"), meta.get("load_after")]
    if all(value is not None for value in load):
        text += f"; load average {load[0]:.1f} before the run and {load[1]:.1f} after it"
        if max(load) >= meta["cpus"] * 0.75:
            text += " (other work shared the machine: times are upper bounds, ratios stay comparable)"
    return text + "."


def figures_markdown(results):
    """The included section of docs/performance/index.md: conditions, chart and every table."""
    out = [
        "<!-- Written by python -m bench --publish from one run; do not edit. -->",
        "",
        conditions(results["meta"]),
        "",
        report.RATIO_HELP,
        "",
        "![Every case: time per call of quarn_core and its peers](chart.png)",
        "",
    ]
    for case in results["cases"]:
        lines = report.case_lines(case)
        name, _, title = lines[0].partition(": ")
        out += ["### " + name, "", title, *lines[1:], ""]
    return "\n".join(out)


def _row(case, name):
    return next(row for row in case["rows"] if row["name"] == name)


def headline_markdown(results):
    """The README's block: the standard documents' chart and table, and the run's conditions."""
    by_name = {case["name"]: case for case in results["cases"]}
    out = [
        BEGIN,
        "![The standard documents: quarn_core and its peers](docs/performance/headline.png)",
        "",
        "| Document | `normalize_and_hash` | orjson pipeline | quarn / orjson | `deterministic_hash` / SHA-256 |",
        "|---|---:|---:|---:|---:|",
    ]
    for name, document in HEADLINE.items():
        case = by_name[name]
        whole, peer = _row(case, WHOLE_JOB), _row(case, PEER_JOB)
        floor = dict(case["notes"])[FLOOR_NOTE]
        out.append(
            f"| {document} ({report.fmt_bytes(whole['size'])}) "
            f"| {report.fmt_time(report.per_call(whole))} ({report.rate(whole, 'MB/s'):,.0f} MB/s) "
            f"| {report.fmt_time(report.per_call(peer))} | {peer['ratio']:.2f} | {floor:.2f} |"
        )
    out += ["", conditions(results["meta"]), END]
    return "\n".join(out)


def replace_block(text, block):
    """`text` with the lines from BEGIN to END replaced by `block` (which holds both markers)."""
    start, end = text.find(BEGIN), text.find(END)
    if start < 0 or end < start:
        raise ValueError(f"no block from {BEGIN!r} to {END!r}")
    return text[:start] + block + text[end + len(END) :]


def draw_small(results, path):
    """The chart of `report.draw`, stored with a palette of 256 colours: the figures are tracked
    files, and a palette image of bars and text is about a third of the full-colour one."""
    from PIL import Image

    report.draw(results, path)
    with Image.open(path) as image:
        small = image.convert("RGB").quantize(colors=256)
    small.save(path, optimize=True)


def publish(results, docs=DOCS, readme=README, draw=draw_small):
    """Write figures.md, chart.png and headline.png into `docs` and the headline into `readme`;
    returns the paths written. Raises ValueError for results that may not be published."""
    why = refusal(results)
    if why:
        raise ValueError(f"not published: {why}")
    text = replace_block(readme.read_text(encoding="utf-8"), headline_markdown(results))
    docs.mkdir(parents=True, exist_ok=True)
    written = [docs / "figures.md", docs / "chart.png", docs / "headline.png", readme]
    written[0].write_text(figures_markdown(results) + "\n", encoding="utf-8")
    draw(results, written[1])
    headline = copy.copy(results)
    headline["cases"] = [case for case in results["cases"] if case["name"] in HEADLINE]
    draw(headline, written[2])
    readme.write_text(text, encoding="utf-8")
    return written
