"""Writes XM modules (format version 0x0104) from plain Python data.

Used by compose_track.py at build time and by xmrender's tests. Samples are given as lists of signed integers and
stored as 8-bit or 16-bit delta data, or as 4-bit ADPCM with a delta table.
"""

import struct
from dataclasses import dataclass, field

ADPCM = 0xAD


@dataclass
class Sample:
    data: list  # signed values: -128..127 for 8-bit, -32768..32767 for 16-bit
    bits: int = 8  # 8 or 16
    adpcm: bool = False  # 4-bit ADPCM (8-bit data only)
    loop: int = 0  # 0 none, 1 forward, 2 ping-pong
    loop_start: int = 0  # in samples
    loop_length: int = 0
    volume: int = 64
    finetune: int = 0
    panning: int = 128
    relative_note: int = 0
    name: str = ""


@dataclass
class Envelope:
    points: list = field(default_factory=list)  # (x, y)
    sustain: int = -1
    loop_start: int = -1
    loop_end: int = -1

    def type_byte(self):
        if len(self.points) < 2:
            return 0
        t = 1
        if self.sustain >= 0:
            t |= 2
        if self.loop_start >= 0:
            t |= 4
        return t


@dataclass
class Instrument:
    name: str = ""
    samples: list = field(default_factory=list)
    sample_map: list = None  # 96 entries, default all 0
    volume_envelope: Envelope = field(default_factory=Envelope)
    panning_envelope: Envelope = field(default_factory=Envelope)
    vibrato_type: int = 0
    vibrato_sweep: int = 0
    vibrato_depth: int = 0
    vibrato_rate: int = 0
    fadeout: int = 0


@dataclass
class Module:
    name: str
    channels: int
    orders: list
    patterns: list  # each: list of rows, each row a list of channel cells (n, i, v, e, p)
    instruments: list
    restart: int = 0
    linear: bool = True
    tempo: int = 6
    bpm: int = 125
    tracker: str = "compose_track.py"


def _text(s, n):
    b = s.encode("latin-1")[:n]
    return b + b"\0" * (n - len(b))


def pack_pattern(rows, channels):
    out = bytearray()
    for row in rows:
        assert len(row) == channels
        for cell in row:
            n, i, v, e, p = cell
            fields = [(0x01, n), (0x02, i), (0x04, v), (0x08, e), (0x10, p)]
            present = [(bit, val) for bit, val in fields if val]
            if len(present) == 5:
                out += bytes([n, i, v, e, p])
                continue
            mask = 0x80
            for bit, _ in present:
                mask |= bit
            out.append(mask)
            for _, val in present:
                out.append(val)
    return bytes(out)


def _deltas8(data):
    prev = 0
    out = bytearray()
    for v in data:
        out.append((v - prev) & 0xFF)
        prev = v
    return bytes(out)


def _deltas16(data):
    prev = 0
    out = bytearray()
    for v in data:
        out += struct.pack("<H", (v - prev) & 0xFFFF)
        prev = v
    return bytes(out)


ADPCM_TABLE = [0, 1, 2, 4, 8, 16, 32, 64, -1, -2, -4, -8, -16, -32, -64, -128]


def encode_adpcm(data):
    """Greedy 4-bit delta coding of 8-bit data; returns (bytes, decoded values)."""
    acc = 0
    nibbles = []
    decoded = []
    for v in data:
        best = min(range(16), key=lambda k: abs(((acc + ADPCM_TABLE[k] + 128) & 0xFF) - 128 - v))
        acc = ((acc + ADPCM_TABLE[best] + 128) & 0xFF) - 128
        nibbles.append(best)
        decoded.append(acc)
    if len(nibbles) % 2:
        nibbles.append(0)
    out = bytes(nibbles[i] | nibbles[i + 1] << 4 for i in range(0, len(nibbles), 2))
    return bytes((t & 0xFF) for t in ADPCM_TABLE) + out, decoded


def _sample_header_and_data(s: Sample):
    n = len(s.data)
    if s.adpcm:
        payload, _ = encode_adpcm(s.data)
        scale = 1
    elif s.bits == 16:
        payload = _deltas16(s.data)
        scale = 2
    else:
        payload = _deltas8(s.data)
        scale = 1
    type_byte = s.loop | (0x10 if s.bits == 16 and not s.adpcm else 0)
    header = struct.pack(
        "<IIIBbBBbB22s",
        n * scale,
        s.loop_start * scale,
        s.loop_length * scale,
        s.volume,
        s.finetune,
        type_byte,
        s.panning,
        s.relative_note,
        ADPCM if s.adpcm else 0,
        _text(s.name, 22),
    )
    assert len(header) == 40
    return header, payload


def _envelope_bytes(env: Envelope):
    pts = list(env.points)[:12]
    b = bytearray()
    for x, y in pts:
        b += struct.pack("<HH", x, y)
    b += b"\0" * (48 - len(b))
    return bytes(b)


def write(m: Module) -> bytes:
    out = bytearray()
    out += b"Extended Module: "
    out += _text(m.name, 20)
    out += b"\x1a"
    out += _text(m.tracker, 20)
    out += struct.pack("<H", 0x0104)
    orders = list(m.orders) + [0] * (256 - len(m.orders))
    out += struct.pack(
        "<IHHHHHHHH",
        276,
        len(m.orders),
        m.restart,
        m.channels,
        len(m.patterns),
        len(m.instruments),
        1 if m.linear else 0,
        m.tempo,
        m.bpm,
    )
    out += bytes(orders)
    assert len(out) == 336
    for rows in m.patterns:
        packed = pack_pattern(rows, m.channels)
        out += struct.pack("<IBHH", 9, 0, len(rows), len(packed))
        out += packed
    for ins in m.instruments:
        if not ins.samples:
            out += struct.pack("<I22sBH", 29, _text(ins.name, 22), 0, 0)
            continue
        ve, pe = ins.volume_envelope, ins.panning_envelope
        smap = ins.sample_map or [0] * 96
        head = struct.pack("<I22sBHI", 263, _text(ins.name, 22), 0, len(ins.samples), 40)
        body = bytes(smap)
        body += _envelope_bytes(ve) + _envelope_bytes(pe)
        body += bytes(
            [
                min(len(ve.points), 12),
                min(len(pe.points), 12),
                max(ve.sustain, 0),
                max(ve.loop_start, 0),
                max(ve.loop_end, 0),
                max(pe.sustain, 0),
                max(pe.loop_start, 0),
                max(pe.loop_end, 0),
                ve.type_byte(),
                pe.type_byte(),
                ins.vibrato_type,
                ins.vibrato_sweep,
                ins.vibrato_depth,
                ins.vibrato_rate,
            ]
        )
        body += struct.pack("<H", ins.fadeout)
        body += b"\0" * 22  # reserved
        out += head + body
        assert len(head + body) == 263
        datas = []
        for s in ins.samples:
            h, d = _sample_header_and_data(s)
            out += h
            datas.append(d)
        for d in datas:
            out += d
    return bytes(out)
