"""Generators of the patch payloads: the Russian resource pack, the three dialog templates,
and the stand-in target's own files (its icon and its Chinese pack)."""
