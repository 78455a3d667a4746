"""Hypothesis strategies shared by the property tests."""

from hypothesis import strategies as st

int32s = st.integers(-(2**31), 2**31 - 1)
int64s = st.integers(-(2**63), 2**63 - 1)
finite_floats = st.floats(allow_nan=False, allow_infinity=False)


def encodable_text(max_size):
    """Text without lone surrogates, which have no UTF-8 form."""
    return st.text(st.characters(exclude_categories=["Cs"]), max_size=max_size)


def scalars(text, ints=(-(2**63), 2**64 - 1), floats=finite_floats):
    """null, booleans, integers in the closed range ints (none when ints is None), floats, text."""
    leaves = st.none() | st.booleans()
    if ints is not None:
        leaves |= st.integers(*ints)
    return leaves | floats | text


def json_values(leaves, keys, size, max_leaves):
    """Arrays and objects of at most size members (object names drawn from keys) around leaves."""
    return st.recursive(
        leaves,
        lambda c: st.lists(c, max_size=size) | st.dictionaries(keys, c, max_size=size),
        max_leaves=max_leaves,
    )
