"""The README stays a front page whose links lead somewhere: each function's row links to its
reference page, which exists and has examples, and every link into the tree names a file and a
heading that exist. (The examples themselves are doctests, collected from README.md and docs/;
the site's own links are checked by its strict build.)"""

import re
from pathlib import Path

import pytest

import quarn_core

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
CODE = re.compile(r"^```.*?^```$", re.DOTALL | re.MULTILINE)
LINK = re.compile(r"\]\(([^)\s]+)\)")


def text(path):
    if not path.is_file():
        pytest.skip(f"no {path.name} at {path}")
    return path.read_text(encoding="utf-8")


def anchors(markdown):
    """The ids MkDocs gives the headings of a page (its default slugs)."""
    headings = re.findall(r"^#+ (.*)$", CODE.sub("", markdown), re.MULTILINE)
    return {re.sub(r"[-\s]+", "-", re.sub(r"[^\w\s-]", "", h).strip().lower()) for h in headings}


def test_readme_is_a_front_page():
    assert len(text(README).splitlines()) <= 250


def test_every_function_links_to_its_page_with_examples():
    rows = re.findall(r"^\| \[`(\w+)\(.*?\)`\]\(([^)]+)\) \|", text(README), re.MULTILINE)
    assert [name for name, _ in rows] == quarn_core.__all__
    for name, target in rows:
        assert target == f"docs/reference/{name}.md"
        page = text(ROOT / target)
        assert page.startswith(f"# `{name}`\n") and "\n>>> " in page


def test_links_into_the_tree_resolve():
    links = [link for link in LINK.findall(CODE.sub("", text(README))) if "://" not in link]
    assert links
    broken = []
    for link in links:
        target, _, anchor = link.partition("#")
        path = ROOT / target if target else README
        if not path.exists() or (anchor and anchor not in anchors(path.read_text(encoding="utf-8"))):
            broken.append(link)
    assert broken == []
