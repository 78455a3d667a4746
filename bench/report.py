"""The results as a text table (printed and written as Markdown), as JSON and as a chart."""

import json
import math
import textwrap

from .harness import FLOOR, MODULE

RATIO_HEAD = "quarn/peer"
RATIO_HELP = (
    "quarn/peer is the time of the case's first quarn job (marked *) divided by the time of the "
    "peer: below 1 quarn is faster (0.25 = 4x faster), above 1 slower."
)


def fmt_time(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def fmt_rate(value, unit):
    if unit == "calls/s":
        return f"{value / 1e3:,.3g} k/s" if value >= 1e3 else f"{value:,.3g} /s"
    return f"{value:,.4g}"


def fmt_bytes(n):
    for unit, scale in (("GB", 1e9), ("MB", 1e6), ("KB", 1e3)):
        if n >= scale:
            return f"{n / scale:.3g} {unit}"
    return f"{n} B"


def per_call(row):
    """Seconds per call of the measured function: a job that makes several calls per run (one
    per record of a set) is divided by their number."""
    return row["median"] / row.get("calls", 1)


def rate(row, unit):
    """Throughput of a timing row: MB/s of input, or calls per second."""
    if unit == "MB/s":
        return row["size"] / row["median"] / 1e6
    return 1.0 / per_call(row)


def versions(meta):
    """The versions that the figures depend on: the interpreter and the peers' libraries."""
    return (
        f"Python {meta['python']}, orjson {meta['orjson']}, "
        f"protobuf {meta['protobuf']} ({meta['protobuf_backend']} backend)"
    )


def case_lines(case, meta=None):
    """The text table of one case result (a dict as in the JSON file); with the run's `meta`, the
    versions of Python and the peers' libraries stand under the title."""
    lines = memory_lines(case) if case["kind"] == "memory" else time_lines(case)
    if meta is not None:
        lines[1:1] = ["", versions(meta)]
    return lines


def time_lines(case):
    unit = case["unit"]
    head = f"{case['name']}: {case['title']}  [median of {case['rounds']} interleaved rounds]"
    cells = []
    for row in case["rows"]:
        name = row["name"] + (" *" if row["primary"] else "")
        ratio = "" if row["ratio"] is None else f"{row['ratio']:.2f}"
        cells.append(
            [
                name,
                fmt_time(per_call(row)),
                fmt_rate(rate(row, unit), unit),
                f"±{row['spread'] * 100:.0f}%",
                ratio,
            ]
        )
    return table_lines(head, ["job", "per call", unit, "spread", RATIO_HEAD], cells, case["notes"])


def memory_lines(case):
    cells = []
    for row in case["rows"]:
        result = row["result_text_bytes"]
        rest = "" if result is None else f"{max(0, row['increase'] - result) / row['size']:.2f}"
        cells.append(
            [
                row["name"],
                fmt_bytes(row["size"]),
                fmt_bytes(row["increase"]),
                f"{row['multiple']:.2f}",
                "" if result is None else fmt_bytes(result),
                rest,
            ]
        )
    columns = [
        "job",
        "input (UTF-8)",
        "peak RSS increase",
        "× input size",
        "result str/bytes",
        "× without result",
    ]
    return table_lines(f"{case['name']}: {case['title']}", columns, cells, case["notes"])


def table_lines(head, columns, cells, notes):
    """A heading, a Markdown table (the first column left-aligned, the others right) and the notes."""
    lines = [head, "", "| " + " | ".join(columns) + " |", "|---|" + "---:|" * (len(columns) - 1)]
    lines += ["| " + " | ".join(row) + " |" for row in cells]
    lines += [f"\n{label}: {value:.2f}" for label, value in notes]
    return lines


def markdown(results):
    meta = results["meta"]
    out = [
        f"# quarn_core benchmarks ({meta['mode']} run, {meta['date']})",
        "",
        f"{versions(meta)}, {meta['machine']}, {meta['cpus']} CPUs. {RATIO_HELP}",
        "",
    ]
    if "skipped" in results:
        out += [results["skipped"]["why"] + ".", ""]
    for case in results["cases"]:
        lines = case_lines(case, meta)
        out += ["## " + lines[0]] + lines[1:] + [""]
    return "\n".join(out)


def write_json(results, path):
    path.write_text(json.dumps(results, indent=1, ensure_ascii=False) + "\n", encoding="utf-8")


# The chart: one panel per case, one horizontal bar per job, longer is better for timings.

COLORS = {MODULE: "#1f6fd1", "peer": "#9aa3ad", FLOOR: "#d9dde1"}


def _bar_label(row, case):
    if case["kind"] == "memory":
        text = f"{row['multiple']:.2f}×  ({fmt_bytes(row['increase'])}"
        if row["result_text_bytes"] is not None:
            text += f", of which result {fmt_bytes(row['result_text_bytes'])}"
        return text + ")"
    text = fmt_time(per_call(row))
    if row["ratio"] is not None:
        r = row["ratio"]
        factor = 1 / r if r < 1 else r
        factor = f"{factor:.2f}" if factor < 2 else f"{factor:.1f}"
        if round(r, 2) == 1:
            text += f"   {r:.2f}: the same"
        else:
            text += f"   {r:.2f}: quarn {factor}× {'faster' if r < 1 else 'slower'}"
    return text


def draw(results, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    cases = results["cases"]
    cols = 2 if len(cases) > 1 else 1
    rows_n = math.ceil(len(cases) / cols)
    heights = [1.1 + 0.32 * len(c["rows"]) for c in cases]
    row_heights = [max(heights[i * cols : (i + 1) * cols]) for i in range(rows_n)]
    fig, axes = plt.subplots(
        rows_n,
        cols,
        figsize=(8.5 * cols, sum(row_heights) + 1.4),
        squeeze=False,
        gridspec_kw={"height_ratios": row_heights},
    )
    for ax in axes.flat[len(cases) :]:
        ax.set_visible(False)
    for ax, case in zip(axes.flat, cases):
        _panel(ax, case)
    meta = results["meta"]
    fig.suptitle(
        f"quarn_core vs Python peers — {meta['mode']} run {meta['date']}, {versions(meta)}, "
        f"{meta['cpus']} CPUs\n"
        "blue: quarn_core · grey: Python peers · light: floor (reading the bytes once).  "
        "Labels: time per call, then quarn time / peer time.",
        fontsize=10,
    )
    fig.tight_layout(rect=(0, 0, 1, 1 - 0.75 / (sum(row_heights) + 1.4)), h_pad=1.2)
    fig.savefig(path, dpi=110)
    plt.close(fig)


def _panel(ax, case):
    rows = case["rows"]
    memory = case["kind"] == "memory"
    if memory:
        values = [r["multiple"] for r in rows]
        xlabel = "peak RSS increase, × input UTF-8 size (shorter is better)"
    else:
        unit = case["unit"]
        values = [rate(r, unit) for r in rows]
        if unit == "MB/s":
            xlabel = "MB/s of input (longer is better)"
        elif max(values) >= 1e3:
            values = [v / 1e3 for v in values]
            xlabel = "thousand calls/s (longer is better)"
        else:
            xlabel = "calls/s (longer is better)"
    # Rows of one group stay together; a gap separates groups.
    ys, y, last = [], 0.0, None
    for r in rows:
        if last is not None and r["group"] != last:
            y += 0.5
        ys.append(y)
        y += 1.0
        last = r["group"]
    # A floor far beyond every other bar would squeeze them all: such a bar is cut at the
    # panel's edge and its figure written on it.
    others = [v for v, r in zip(values, rows) if r["role"] != FLOOR] or values
    limit = max(others) * 1.6
    shown = [min(v, limit) for v in values]
    colors = [COLORS[r["role"]] for r in rows]
    ax.barh(
        ys,
        shown,
        color=colors,
        edgecolor=["#0b3d7a" if r["role"] == MODULE else "#6b737b" for r in rows],
        linewidth=0.6,
        height=0.75,
    )
    ax.set_yticks(ys, [r["name"] for r in rows], fontsize=8)
    for tick, r in zip(ax.get_yticklabels(), rows):
        if r["role"] == MODULE:
            tick.set_fontweight("bold")
    ax.invert_yaxis()
    right = limit * 1.02
    ax.set_xlim(0, right)
    for yy, v, w, r in zip(ys, values, shown, rows):
        label = _bar_label(r, case)
        if v > limit:
            label += f"   (bar cut: {v:,.0f})"
        weight = "bold" if r["role"] == MODULE else "normal"
        # About 0.8 % of the panel's width per character: a label that would run past the
        # edge goes inside its bar instead.
        if w + right * (0.012 + 0.008 * len(label)) > right:
            ax.text(
                w - right * 0.01,
                yy,
                label,
                va="center",
                ha="right",
                fontsize=7.5,
                fontweight=weight,
                color="white" if r["role"] == MODULE else "black",
            )
        else:
            ax.text(w + right * 0.01, yy, label, va="center", fontsize=7.5, fontweight=weight)
    lines = textwrap.wrap(f"{case['name']}: {case['title']}", 70)
    lines += [f"{label} = {value:.2f}" for label, value in case["notes"]]
    ax.set_title("\n".join(lines), fontsize=9, loc="left")
    ax.set_xlabel(xlabel, fontsize=8)
    ax.tick_params(axis="x", labelsize=7)
    ax.grid(axis="x", color="#eeeeee")
    ax.set_axisbelow(True)
    for side in ("top", "right"):
        ax.spines[side].set_visible(False)
