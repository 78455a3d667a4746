"""Benchmarks of quarn_core against plain-Python peers doing the same work.

Run from the repository root: python -m bench [--quick] [--only CASE[,CASE...]] [--list]
"""
