"""The README's examples run as written, and every function has its own
subsection under "Functions"."""

import re
import traceback
from pathlib import Path

import pytest

import quarn_core

README = Path(__file__).resolve().parent.parent / "README.md"
FENCE = re.compile(r"^```python\n(.*?)^```$", re.DOTALL | re.MULTILINE)


def readme():
    if not README.is_file():
        pytest.skip(f"no README.md at {README}")
    return README.read_text(encoding="utf-8")


def blocks():
    """(first line of the block's code, code) for every python block."""
    if not README.is_file():
        return []
    text = README.read_text(encoding="utf-8")
    return [(text.count("\n", 0, m.start(1)) + 1, m.group(1)) for m in FENCE.finditer(text)]


def test_readme_has_examples():
    assert len(FENCE.findall(readme())) >= len(quarn_core.__all__)


BLOCKS = blocks()


@pytest.mark.parametrize("line, code", BLOCKS, ids=[f"line{line}" for line, _ in BLOCKS])
def test_example_runs(line, code):
    # Line numbers in tracebacks are the README's own.
    compiled = compile("\n" * (line - 1) + code, str(README), "exec")
    try:
        exec(compiled, {"__name__": "readme_example"})
    except BaseException as e:  # the block's own failure, whatever its class
        if isinstance(e, (KeyboardInterrupt, SystemExit)):
            raise
        frames = [f for f in traceback.extract_tb(e.__traceback__) if f.filename == str(README)]
        lineno = frames[-1].lineno if frames else line
        pytest.fail(f"README.md block at line {line} fails at line {lineno}: {type(e).__name__}: {e}")


def test_every_function_has_a_subsection():
    text = readme()
    section = re.search(r"^## Functions\n(.*?)(?=^## )", text, re.DOTALL | re.MULTILINE)
    assert section, "no Functions section"
    headings = set(re.findall(r"^### `(\w+)`$", section.group(1), re.MULTILINE))
    assert [name for name in quarn_core.__all__ if name not in headings] == []


def test_section_links_resolve():
    text = FENCE.sub("", readme())  # comments in code are no headings
    anchors = {
        re.sub(r"[^\w\- ]", "", h.lower()).replace(" ", "-") for h in re.findall(r"^#+ (.*)$", text, re.M)
    }
    links = re.findall(r"\]\(#([^)]+)\)", text)
    assert links and [link for link in links if link not in anchors] == []
