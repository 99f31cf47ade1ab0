"""Procedural artwork of the program: glyph sheets, logo, rabbit, icon and skin.

Everything here is pure Python 3 standard library and byte-for-byte deterministic: no
clock, no environment, no unordered iteration, and only arithmetic whose results IEEE 754
fixes exactly (+, -, *, /, sqrt); sines and exponentials come from dmath, not from libm.
"""
