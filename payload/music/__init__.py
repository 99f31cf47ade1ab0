"""The program's XM module: its composition (compose_track) and the XM writer (xmwrite)."""
