"""Procedural artwork of the program: glyph sheets, logo, rabbit, icon and skin.

Everything here is pure Python 3 standard library and byte-for-byte deterministic: no
clock, no environment, no unordered iteration, and only arithmetic whose results IEEE 754
fixes exactly (+, -, *, /, sqrt); exponentials come from dmath rather than libm, and no
trigonometry is used.
"""
