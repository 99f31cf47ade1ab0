"""Composes the program's XM module: a dark, minor "digital rain" piece in A minor.

18 channels, 28 patterns, 37 synthesised instruments (8-bit, 16-bit and ADPCM samples),
song length 44, restart position 0, linear frequencies, speed 6, BPM 111. Everything is
deterministic: build() always gives the same module, gen_music.py writes it.
"""

import math
import random

from . import xmwrite as xw

CHANNELS = 18
ROWS = 64
BASE = 8363.0  # playback rate of a sample at C-4 with relative note 0

# ---------------------------------------------------------------- synthesis helpers

rng = random.Random(0x5EED)


def clip8(v):
    return max(-128, min(127, int(round(v))))


def clip16(v):
    return max(-32768, min(32767, int(round(v))))


def to8(xs, gain=1.0):
    peak = max(1e-9, max(abs(x) for x in xs))
    return [clip8(x / peak * 120 * gain) for x in xs]


def to16(xs, gain=1.0):
    peak = max(1e-9, max(abs(x) for x in xs))
    return [clip16(x / peak * 30000 * gain) for x in xs]


def lowpass(xs, a):
    out, y = [], 0.0
    for x in xs:
        y += a * (x - y)
        out.append(y)
    return out


def highpass(xs, a):
    out, y, px = [], 0.0, 0.0
    for x in xs:
        y = a * (y + x - px)
        px = x
        out.append(y)
    return out


def noise(n):
    return [rng.uniform(-1, 1) for _ in range(n)]


def decay(xs, tau):
    return [x * math.exp(-i / tau) for i, x in enumerate(xs)]


def cycle(n, harmonics):
    """One period of n samples from (harmonic, amplitude, phase) triples."""
    return [
        sum(a * math.sin(2 * math.pi * h * i / n + ph) for h, a, ph in harmonics) for i in range(n)
    ]


def saw_cycle(n, top):
    return cycle(n, [(h, (1.0 / h) * (0.5 + 0.5 * math.cos(math.pi * h / (top + 1))), 0) for h in range(1, top + 1)])


def detuned(n, cycles, weights, top):
    """A loop of n samples holding several saws with whole cycle counts: seamless detune."""
    out = [0.0] * n
    for c, w in zip(cycles, weights):
        for h in range(1, top + 1):
            amp = w / h * (0.5 + 0.5 * math.cos(math.pi * h / (top + 1)))
            ph = rng.uniform(0, 2 * math.pi)
            k = 2 * math.pi * c * h / n
            for i in range(n):
                out[i] += amp * math.sin(k * i + ph)
    return out


def rel_for_cycle(length_per_period):
    """Relative note that makes a loop of this period length sound C-4 at note C-4."""
    f = BASE / length_per_period
    return int(round(12 * math.log2(261.63 / f)))


def env(points, sustain=-1, loop=None):
    e = xw.Envelope(points=points, sustain=sustain)
    if loop:
        e.loop_start, e.loop_end = loop
    return e


def instrument(name, sample, volume_envelope=None, panning_envelope=None, fadeout=0, vib=(0, 0, 0, 0)):
    ins = xw.Instrument(name=name, samples=[sample])
    if volume_envelope:
        ins.volume_envelope = volume_envelope
    if panning_envelope:
        ins.panning_envelope = panning_envelope
    ins.fadeout = fadeout
    ins.vibrato_type, ins.vibrato_sweep, ins.vibrato_depth, ins.vibrato_rate = vib
    return ins


# ---------------------------------------------------------------- the 37 instruments


def make_instruments():
    I = []
    R2 = BASE * 2  # drums are rendered at twice the base rate and played one octave up

    # 1 kick: falling sine with a click
    n = 1600
    ph, xs = 0.0, []
    for i in range(n):
        t = i / R2
        f = 45 + 110 * math.exp(-t * 28)
        ph += 2 * math.pi * f / R2
        xs.append(math.sin(ph) * math.exp(-t * 7) + (0.6 if i < 8 else 0) * math.exp(-i / 3))
    I.append(instrument("kick", xw.Sample(to8(xs), relative_note=12, volume=64)))
    # 2 snare: body tone and bright noise
    n = 1800
    xs = [
        0.55 * math.sin(2 * math.pi * 185 * i / R2) * math.exp(-i / 350) + 0.8 * v * math.exp(-i / 700)
        for i, v in enumerate(highpass(noise(n), 0.7))
    ]
    I.append(instrument("snare", xw.Sample(to8(xs), relative_note=12, volume=56)))
    # 3 closed hat (ADPCM)
    xs = decay(highpass(noise(420), 0.35), 90)
    I.append(instrument("closed hat", xw.Sample(to8(xs, 0.5), adpcm=True, relative_note=24, volume=40)))
    # 4 open hat (ADPCM) with a decaying envelope
    xs = decay(highpass(noise(2400), 0.35), 900)
    I.append(
        instrument(
            "open hat",
            xw.Sample(to8(xs, 0.5), adpcm=True, relative_note=24, volume=36),
            env([(0, 64), (6, 40), (20, 12), (40, 0)]),
        )
    )
    # 5 clap: three quick bursts then a tail
    n = 1800
    base = highpass(noise(n), 0.6)
    xs = []
    for i, v in enumerate(base):
        g = sum(math.exp(-(i - o) / 60) for o in (0, 160, 330) if i >= o) + 0.6 * math.exp(-max(0, i - 330) / 500) * (i >= 330)
        xs.append(v * g)
    I.append(instrument("clap", xw.Sample(to8(xs), relative_note=12, volume=48)))
    # 6, 7 toms
    for name, f0 in (("low tom", 95), ("high tom", 150)):
        n, ph, xs = 1400, 0.0, []
        for i in range(n):
            t = i / R2
            ph += 2 * math.pi * f0 * (1 + 0.6 * math.exp(-t * 20)) / R2
            xs.append(math.sin(ph) * math.exp(-t * 6))
        I.append(instrument(name, xw.Sample(to8(xs), relative_note=12, volume=52)))
    # 8 crash (ADPCM)
    xs = decay(highpass(noise(3400), 0.5), 1500)
    I.append(instrument("crash", xw.Sample(to8(xs, 0.5), adpcm=True, relative_note=12, volume=40)))
    # 9 rim
    xs = [math.sin(2 * math.pi * 820 * i / R2) * math.exp(-i / 40) for i in range(300)]
    I.append(instrument("rim", xw.Sample(to8(xs), relative_note=12, volume=44)))
    # 10 shaker (ADPCM)
    xs = [v * math.sin(math.pi * i / 700) ** 2 for i, v in enumerate(highpass(noise(700), 0.3))]
    I.append(instrument("shaker", xw.Sample(to8(xs, 0.5), adpcm=True, relative_note=24, volume=30)))

    # 11 saw bass: 16-bit cycle, pluck to sustain
    cyc = to16(lowpass(saw_cycle(128, 24) * 2, 0.5)[128:], 0.8)
    I.append(
        instrument(
            "saw bass",
            xw.Sample(cyc, bits=16, loop=1, loop_length=128, relative_note=rel_for_cycle(128), volume=48),
            env([(0, 64), (8, 44), (30, 36)], sustain=2),
            fadeout=1200,
        )
    )
    # 12 sub bass: 8-bit sine
    I.append(
        instrument(
            "sub",
            xw.Sample(to8(cycle(64, [(1, 1, 0), (2, 0.08, 0)])), loop=1, loop_length=64, relative_note=rel_for_cycle(64), volume=52),
            env([(0, 64), (4, 60)], sustain=1),
            fadeout=2000,
        )
    )
    # 13 acid bass: 16-bit square-ish half cycle in a ping-pong loop (a full period)
    half = [math.tanh(3 * math.sin(math.pi * i / 64)) + 0.3 * math.sin(3 * math.pi * i / 64) for i in range(64)]
    I.append(
        instrument(
            "acid",
            xw.Sample(to16(half, 0.7), bits=16, loop=2, loop_length=64, relative_note=rel_for_cycle(128), volume=44),
            env([(0, 64), (5, 30), (20, 24)], sustain=2),
            fadeout=1500,
        )
    )

    # 14 dark pad: 16-bit detuned saws, slow attack, sustain
    pad = lowpass(detuned(2048, (32, 33, 31), (1, 0.8, 0.8), 10), 0.35)
    I.append(
        instrument(
            "dark pad",
            xw.Sample(to16(pad, 0.8), bits=16, loop=1, loop_length=2048, relative_note=rel_for_cycle(64), volume=40),
            env([(0, 0), (24, 48), (48, 64), (80, 56)], sustain=3),
            fadeout=300,
        )
    )
    # 15 choir: formant "ah", 8-bit, auto-panning envelope with a loop
    harm = []
    for h in range(1, 22):
        f = 130.8 * h
        g = sum(a * math.exp(-((f - fc) / bw) ** 2) for fc, bw, a in ((700, 130, 1.0), (1220, 150, 0.5), (2600, 250, 0.25)))
        harm.append((h, g + 0.02 / h, rng.uniform(0, 6.28)))
    ah = cycle(64, harm)
    I.append(
        instrument(
            "choir",
            xw.Sample(to8(ah * 16, 0.8), loop=1, loop_length=1024, relative_note=rel_for_cycle(64), volume=38),
            env([(0, 0), (30, 50), (60, 64)], sustain=2),
            env([(0, 32), (40, 20), (80, 44), (120, 32)], loop=(0, 3)),
            fadeout=250,
            vib=(0, 40, 3, 5),
        )
    )
    # 16 glass: ping-pong loop of a bright partial mix
    gl = [math.sin(2 * math.pi * 4 * i / 512) + 0.5 * math.sin(2 * math.pi * 9.02 * i / 512) for i in range(512)]
    I.append(
        instrument(
            "glass",
            xw.Sample(to8(gl, 0.9), loop=2, loop_start=128, loop_length=384, relative_note=rel_for_cycle(128), volume=34),
            env([(0, 64), (20, 40), (60, 28)], sustain=2),
            fadeout=600,
        )
    )
    # 17 strings: ADPCM pad
    st = lowpass(detuned(2048, (32, 33), (1, 1), 6), 0.25)
    I.append(
        instrument(
            "strings",
            xw.Sample(to8(st, 0.7), adpcm=True, loop=1, loop_length=2048, relative_note=rel_for_cycle(64), volume=36),
            env([(0, 0), (40, 64), (80, 56)], sustain=2),
            fadeout=400,
            vib=(0, 60, 2, 4),
        )
    )
    # 18 saw lead: 16-bit, delayed auto-vibrato
    lead = to16(saw_cycle(64, 16), 0.8)
    I.append(
        instrument(
            "saw lead",
            xw.Sample(lead, bits=16, loop=1, loop_length=64, relative_note=rel_for_cycle(64), volume=44),
            env([(0, 0), (2, 64), (16, 48)], sustain=2),
            fadeout=900,
            vib=(0, 64, 4, 12),
        )
    )
    # 19 square lead: 30 % pulse
    pul = [1.0 if i < 19 else -0.8 for i in range(64)]
    I.append(
        instrument(
            "pulse lead",
            xw.Sample(to8(lowpass(pul * 2, 0.6)[64:], 0.7), loop=1, loop_length=64, relative_note=rel_for_cycle(64), volume=40),
            env([(0, 64), (10, 50), (30, 44)], sustain=2),
            fadeout=1100,
            vib=(0, 80, 3, 10),
        )
    )
    # 20 bell: two-operator FM, decaying, no loop
    n = 2600
    xs = [
        math.sin(2 * math.pi * 261.63 * i / BASE + 2.2 * math.exp(-i / 900) * math.sin(2 * math.pi * 261.63 * 3.5 * i / BASE)) * math.exp(-i / 1100)
        for i in range(n)
    ]
    I.append(instrument("bell", xw.Sample(to8(xs), volume=40)))
    # 21 pluck: Karplus-Strong
    period = 64
    buf = noise(period)
    xs = []
    for i in range(2200):
        v = buf[i % period]
        nxt = buf[(i + 1) % period]
        buf[i % period] = 0.5 * (v + nxt) * 0.996
        xs.append(v)
    I.append(instrument("pluck", xw.Sample(to8(xs), relative_note=rel_for_cycle(period), volume=44)))
    # 22 gate arp: bright pulse with a looping volume envelope (trance gate)
    ar = [1.0 if i < 10 else -1.0 for i in range(32)]
    I.append(
        instrument(
            "gate arp",
            xw.Sample(to8(lowpass(ar * 3, 0.5)[64:], 0.6), loop=1, loop_length=32, relative_note=rel_for_cycle(32), volume=34),
            env([(0, 64), (3, 10), (6, 64), (9, 10), (12, 64)], loop=(0, 4)),
            fadeout=3000,
        )
    )
    # 23 organ
    org = cycle(64, [(1, 1, 0), (2, 0.5, 0), (4, 0.3, 0), (8, 0.15, 0)])
    I.append(instrument("organ", xw.Sample(to8(org, 0.8), loop=1, loop_length=64, relative_note=rel_for_cycle(64), volume=36), env([(0, 64), (8, 56)], sustain=1), fadeout=700))
    # 24 drone: root and fifth, ping-pong
    dr = lowpass(detuned(1024, (8, 12, 16), (1, 0.6, 0.4), 6), 0.2)
    I.append(
        instrument(
            "drone",
            xw.Sample(to8(dr, 0.9), loop=2, loop_length=1024, relative_note=rel_for_cycle(128), volume=40),
            env([(0, 0), (60, 64)], sustain=1),
            fadeout=200,
        )
    )
    # 25 rising noise sweep (ADPCM)
    n = 3200
    xs, y = [], 0.0
    for i, v in enumerate(noise(n)):
        a = 0.02 + 0.5 * i / n
        y += a * (v - y)
        xs.append(y * (i / n) ** 1.5)
    I.append(instrument("sweep", xw.Sample(to8(xs, 0.6), adpcm=True, relative_note=12, volume=40)))
    # 26 reverse cymbal (ADPCM)
    xs = list(reversed(decay(highpass(noise(3400), 0.5), 1400)))
    I.append(instrument("reverse", xw.Sample(to8(xs, 0.5), adpcm=True, relative_note=12, volume=36)))
    # 27 zap
    n, ph, xs = 1400, 0.0, []
    for i in range(n):
        ph += 2 * math.pi * (1800 * math.exp(-i / 250) + 60) / R2
        xs.append((1 if math.sin(ph) > 0 else -1) * math.exp(-i / 500))
    I.append(instrument("zap", xw.Sample(to8(xs, 0.6), relative_note=12, volume=36)))
    # 28 rain blip: short sine ping
    xs = [math.sin(2 * math.pi * 4 * i / 32) * math.exp(-i / 260) for i in range(1100)]
    I.append(instrument("blip", xw.Sample(to8(xs), relative_note=rel_for_cycle(8), volume=30)))
    # 29 electric piano
    n = 2000
    xs = [
        (math.sin(2 * math.pi * i / 32) + 0.35 * math.sin(2 * math.pi * 2 * i / 32) * math.exp(-i / 300) + 0.15 * math.sin(2 * math.pi * 5 * i / 32) * math.exp(-i / 120)) * math.exp(-i / 1400)
        for i in range(n)
    ]
    I.append(instrument("piano", xw.Sample(to8(xs), relative_note=rel_for_cycle(32), volume=42)))
    # 30 brass stab
    br = lowpass(saw_cycle(64, 20) * 2, 0.7)[64:]
    I.append(instrument("stab", xw.Sample(to8(br, 0.8), loop=1, loop_length=64, relative_note=rel_for_cycle(64), volume=40), env([(0, 64), (4, 56), (10, 20), (16, 0)]), fadeout=2000))
    # 31 flute: sine and breath
    fl = [math.sin(2 * math.pi * i / 64) + 0.12 * math.sin(4 * math.pi * i / 64) + 0.05 * v for i, v in enumerate(noise(1024))]
    I.append(
        instrument(
            "flute",
            xw.Sample(to8(fl, 0.8), loop=1, loop_start=0, loop_length=1024, relative_note=rel_for_cycle(64), volume=38),
            env([(0, 0), (6, 64), (20, 52)], sustain=2),
            fadeout=800,
            vib=(0, 30, 4, 9),
        )
    )
    # 32 metal hit
    n = 1500
    xs = [sum(math.sin(2 * math.pi * f * i / R2) for f in (317, 583, 911, 1427)) * math.exp(-i / 450) for i in range(n)]
    I.append(instrument("metal", xw.Sample(to8(xs), relative_note=12, volume=36)))
    # 33 gong (ADPCM)
    n = 3200
    xs = [sum(a * math.sin(2 * math.pi * f * i / BASE) for f, a in ((98, 1), (161, 0.7), (237, 0.5), (351, 0.3))) * math.exp(-i / 1600) * min(1, i / 60) for i in range(n)]
    I.append(instrument("gong", xw.Sample(to8(xs, 0.7), adpcm=True, volume=40)))
    # 34 click
    xs = [(1 if i < 3 else 0) - 0.5 * math.exp(-i / 10) for i in range(80)]
    I.append(instrument("click", xw.Sample(to8(xs), relative_note=12, volume=30)))
    # 35 vowel "oh" pad with a volume envelope loop (slow swell)
    harm = []
    for h in range(1, 16):
        f = 130.8 * h
        g = sum(a * math.exp(-((f - fc) / bw) ** 2) for fc, bw, a in ((450, 100, 1.0), (800, 120, 0.5)))
        harm.append((h, g + 0.01, rng.uniform(0, 6.28)))
    I.append(
        instrument(
            "oh",
            xw.Sample(to8(cycle(64, harm) * 8, 0.8), loop=1, loop_length=512, relative_note=rel_for_cycle(64), volume=34),
            env([(0, 0), (20, 50), (50, 64), (80, 40), (110, 64)], sustain=-1, loop=(2, 4)),
            fadeout=300,
        )
    )
    # 36 sine
    I.append(instrument("sine", xw.Sample(to8(cycle(32, [(1, 1, 0)])), loop=1, loop_length=32, relative_note=rel_for_cycle(32), volume=40), env([(0, 64), (10, 48)], sustain=1), fadeout=1000))
    # 37 boom: 16-bit deep hit for the breaks
    n, ph, xs = 2000, 0.0, []
    for i in range(n):
        ph += 2 * math.pi * (38 + 60 * math.exp(-i / 300)) / BASE
        xs.append(math.sin(ph) * math.exp(-i / 1100))
    I.append(instrument("boom", xw.Sample(to16(xs, 0.9), bits=16, volume=52)))
    assert len(I) == 37
    return I


(KICK, SNARE, CHAT, OHAT, CLAP, LTOM, HTOM, CRASH, RIM, SHAKER, SAWBASS, SUB, ACID, PAD, CHOIR,
 GLASS, STRINGS, LEAD, PULSE, BELL, PLUCK, GATE, ORGAN, DRONE, SWEEP, REVERSE, ZAP, BLIP, PIANO,
 STAB, FLUTE, METAL, GONG, CLICK, OH, SINE, BOOM) = range(1, 38)

# ---------------------------------------------------------------- notes and harmony

NAMES = {"C": 0, "C#": 1, "Db": 1, "D": 2, "D#": 3, "Eb": 3, "E": 4, "F": 5, "F#": 6, "G": 7,
         "G#": 8, "Ab": 8, "A": 9, "A#": 10, "Bb": 10, "B": 11}


def N(name):
    """'A4' -> XM note number (C-0 is 1)."""
    pitch, octave = name[:-1], int(name[-1])
    return 12 * octave + NAMES[pitch] + 1


CHORDS = {
    "Am": ("A2", "C4", "E4", "A4"),
    "F": ("F2", "C4", "F4", "A4"),
    "Dm": ("D2", "D4", "F4", "A4"),
    "E": ("E2", "B3", "E4", "G#4"),
    "C": ("C3", "C4", "E4", "G4"),
    "G": ("G2", "B3", "D4", "G4"),
    "Bb": ("Bb2", "Bb3", "D4", "F4"),
    "Em": ("E2", "B3", "E4", "G4"),
}
PROGS = {
    "A": ("Am", "F", "Dm", "E"),
    "B": ("Am", "Am", "F", "G"),
    "C": ("Dm", "Bb", "Am", "E"),
    "D": ("F", "G", "Em", "Am"),
}

# Lead phrases: (note or None for rest, rows), 64 rows each.
PHRASES = [
    [("E5", 4), (None, 2), ("A5", 2), ("G5", 2), ("E5", 4), ("C5", 2), ("F5", 6), ("E5", 2), ("C5", 4), ("A4", 4),
     ("D5", 4), ("F5", 4), ("A5", 6), ("G5", 2), ("G#5", 10), ("E5", 2), ("B4", 4)],
    [("A5", 8), ("C6", 4), ("B5", 4), ("A5", 4), ("F5", 4), ("E5", 8), ("D5", 2), ("E5", 2), ("F5", 4), ("A5", 4),
     ("D6", 4), ("B5", 6), ("G#5", 2), ("E5", 8)],
    [("D5", 4), ("A5", 8), ("G5", 2), ("F5", 2), ("F5", 4), ("D5", 4), ("Bb4", 8), ("C5", 4), ("E5", 4), ("A5", 4),
     ("C6", 4), ("B5", 8), ("G#5", 4), ("E5", 4)],
    [("A5", 4), ("G5", 4), ("F5", 4), ("D5", 4), ("D6", 8), ("C6", 4), ("Bb5", 4), ("A5", 8), ("E5", 4), ("C5", 4),
     ("B4", 4), ("C5", 4), ("D5", 4), ("G#5", 4)],
]
for p in PHRASES:
    assert sum(r for _, r in p) == 64, p


class Pattern:
    def __init__(self, rows=ROWS):
        self.rows = rows
        self.cells = [[[0, 0, 0, 0, 0] for _ in range(CHANNELS)] for _ in range(rows)]

    def put(self, row, ch, note=0, ins=0, vol=0, fx=0, param=0):
        if row >= self.rows:
            return
        c = self.cells[row][ch]
        if note:
            c[0] = note
        if ins:
            c[1] = ins
        if vol:
            c[2] = vol
        if fx or param:
            c[3], c[4] = fx, param

    def fx(self, row, ch, fx, param):
        if row < self.rows:
            self.cells[row][ch][3] = fx
            self.cells[row][ch][4] = param

    def vol(self, row, ch, v):
        if row < self.rows:
            self.cells[row][ch][2] = v

    def out(self):
        return [[tuple(c) for c in row] for row in self.cells]


def V(v):
    """Volume-column byte for a volume 0..64."""
    return 0x10 + max(0, min(64, v))


# ---------------------------------------------------------------- layers


def drums(p, style, fill=False, bars=4):
    for bar in range(bars):
        b = bar * 16
        last = bar == bars - 1
        if style in ("full", "drop", "half"):
            kicks = (0, 4, 8, 12) if style != "half" else (0, 10)
            for k in kicks:
                p.put(b + k, 0, N("C4"), KICK, V(64 if k == 0 else 56))
            if style == "drop" and bar % 2 == 1:
                p.put(b + 14, 0, N("C4"), KICK, V(40), 0xE, 0xD2)  # late ghost kick
            snares = (4, 12) if style != "half" else (8,)
            for s in snares:
                p.put(b + s, 1, N("C4"), CLAP if (style == "drop" and s == 12) else SNARE, V(52))
            for h in range(16):
                if h % 4 == 2:
                    p.put(b + h, 2, N("C4"), OHAT, V(34), 0xE, 0xC4)  # open hat cut short
                elif style != "half" or h % 2 == 0:
                    p.put(b + h, 2, N("C4"), CHAT, V(22 + (8 if h % 2 else 0)))
                    p.fx(b + h, 2, 0x8, 0x60 if h % 4 == 1 else 0xA0)
            p.put(b + 6, 3, N("C4"), SHAKER, V(26), 0xE, 0xD2)  # swung shaker
            p.put(b + 14, 3, N("C4"), SHAKER, V(22), 0xE, 0xD3)
            if bar == 1:
                p.put(b + 11, 3, N("C5"), RIM, V(30), 0xE, 0x8C)
        elif style == "build":
            for k in (0, 8):
                p.put(b + k, 0, N("C4"), KICK, V(48 + bar * 4))
            for h in range(0, 16, 2):
                p.put(b + h, 2, N("C4"), CHAT, V(16 + bar * 3))
        elif style == "hats":
            for h in range(0, 16, 2):
                p.put(b + h, 2, N("C4"), CHAT, V(12 + bar * 2 + (6 if h % 4 == 2 else 0)))
        if fill and last:
            if style == "build":
                # snare roll: retrigger faster and louder into the next section
                p.put(b + 0, 1, N("C4"), SNARE, V(24), 0x1B, 0x93)  # R93: +1 each retrig every 3 ticks
                p.put(b + 8, 1, 0, 0, 0, 0x1B, 0x92)
                p.put(b + 12, 1, N("C4"), SNARE, V(40), 0xE, 0x92)
            else:
                p.put(b + 8, 3, N("A4"), HTOM, V(48))
                p.put(b + 10, 3, N("E4"), HTOM, V(48))
                p.put(b + 12, 3, N("A3"), LTOM, V(52))
                p.put(b + 14, 3, N("E3"), LTOM, V(56))
                p.put(b + 15, 1, N("C4"), SNARE, V(40), 0x9, 0x04)  # offset into the snare tail


def bass(p, prog, style, transpose=0):
    for bar, chord in enumerate(PROGS[prog]):
        root = N(CHORDS[chord][0]) + transpose
        b = bar * 16
        if style == "pulse":  # off-beat eighths with the sub underneath
            for s in range(0, 16, 2):
                note = root + (12 if s in (6, 14) else 0)
                p.put(b + s + 1, 4, note, SAWBASS, V(44 if s % 4 else 36))
            p.put(b, 5, root, SUB, V(48))
            p.put(b + 8, 5, root, SUB, V(40))
        elif style == "run":  # driving sixteenths
            for s in range(16):
                note = root + (12 if s % 4 == 2 else 0) + (7 if s == 13 else 0)
                p.put(b + s, 4, note, SAWBASS, V(40 if s % 4 == 0 else 30))
            p.put(b, 5, root, SUB, V(52))
            p.fx(b + 15, 4, 0xE, 0x22)  # fine slide down into the next bar
        elif style == "acid":
            for s in range(0, 16, 2):
                note = root + (12 if s % 6 == 4 else 0)
                p.put(b + s, 4, note, ACID, V(44))
                if s == 10:
                    p.fx(b + s, 4, 0x3, 0x30)  # glide
                    p.put(b + s, 4, root + 15)
            p.put(b, 5, root, SUB, V(52))
        elif style == "long":
            p.put(b, 5, root, SUB, V(44))
            p.put(b + 12, 5, 0, 0, 0, 0xA, 0x02)


def pads(p, prog, ins=PAD, vol=34, fade_in=False, swell=False):
    for bar, chord in enumerate(PROGS[prog]):
        notes = CHORDS[chord][1:]
        b = bar * 16
        for k, nm in enumerate(notes):
            ch = 6 + k
            p.put(b, ch, N(nm), ins, V(vol if not fade_in else 8 + bar * 6))
            if fade_in:
                for r in range(b + 2, b + 16, 3):
                    p.fx(r, ch, 0xA, 0x10)
            elif swell and bar == 3:
                p.fx(b + 8, ch, 0x7, 0x43)  # tremolo at the turnaround
        if bar == 0 and ins == PAD:
            p.fx(b, 8, 0x15, 0x10)  # L10: later into the attack


def arp(p, prog, style="up", vol=26, use_arpeggio=False):
    pat = {"up": (0, 1, 2, 3, 2, 1), "broken": (0, 2, 1, 3, 1, 2, 0, 3)}[style]
    for bar, chord in enumerate(PROGS[prog]):
        tones = [N(x) + 12 for x in CHORDS[chord][1:]] + [N(CHORDS[chord][1]) + 24]
        b = bar * 16
        if use_arpeggio:
            # one note per beat, the tracker arpeggio does the rest (minor or major shape)
            minor = chord.endswith("m")
            for s in range(0, 16, 4):
                p.put(b + s, 9, tones[0], GATE, V(vol), 0x0, 0x37 if minor else 0x47)
                for t in range(1, 4):
                    p.fx(b + s + t, 9, 0x0, 0x37 if minor else 0x47)
            continue
        for s in range(16):
            p.put(b + s, 9, tones[pat[(bar * 16 + s) % len(pat)]], PLUCK if style == "broken" else GATE, V(vol - (6 if s % 2 else 0)))
        p.fx(b, 9, 0x19, 0x20 if bar % 2 == 0 else 0x02)  # panning slide


def lead(p, phrase, ins=LEAD, ch=10, echo=True, vibrato=0x44, glide=False, tremor=False, transpose=0):
    row = 0
    prev = None
    for i, (nm, length) in enumerate(PHRASES[phrase]):
        if nm is None:
            p.put(row, ch, 97)
            row += length
            continue
        note = N(nm) + transpose
        if glide and prev is not None and length >= 6:
            p.put(row, ch, note, 0, V(44), 0x3, 0x18)  # tone portamento from the previous note
        else:
            p.put(row, ch, note, ins, V(44))
        if length >= 8:
            p.fx(row + 3, ch, 0x4, vibrato)
            for r in range(row + 4, row + length - 1):
                p.fx(r, ch, 0x4, 0x00)
            p.fx(row + length - 1, ch, 0x6, 0x02)  # vibrato and fade
        elif length >= 4 and i % 3 == 1:
            p.vol(row + 2, ch, 0xB3)  # volume-column vibrato depth
        if tremor and length >= 8:
            p.fx(row + 1, ch, 0x1D, 0x21)
        if echo:
            # the echo: the same line three rows later, quieter and to the right
            p.put(row + 3, ch + 1, note, ins, V(18), 0x8, 0xC0)
        prev = note
        row += length
    p.put(63, ch, 97)


def rain(p, density, seed, ch=13):
    r = random.Random(seed)
    scale = ("A5", "C6", "D6", "E6", "G6", "A6", "E7", "C7")
    for row in range(0, p.rows, 2):
        if r.random() < density:
            vol = r.choice((0xC0 + r.randrange(16), V(r.randrange(10, 28))))
            p.put(row, ch, N(r.choice(scale)), BLIP, vol)


def drone(p, note="A1", vol=40, fade=False):
    p.put(0, 15, N(note), DRONE, V(vol))
    if fade:
        p.fx(32, 15, 0xA, 0x01)


# ---------------------------------------------------------------- the 28 patterns


def build_patterns():
    P = []

    def new(rows=ROWS):
        p = Pattern(rows)
        P.append(p)
        return p

    # 0 intro: drone, falling glyph blips, the pad fades in
    p = new()
    p.fx(0, 0, 0x10, 0x40)  # global volume 64 (also after the loop back)
    p.fx(0, 1, 0xF, 0x06)
    p.fx(0, 2, 0xF, 0x6F)  # 111 BPM
    drone(p)
    pads(p, "A", fade_in=True)
    rain(p, 0.35, 1)
    p.put(48, 14, N("C4"), SWEEP, V(30))
    # 1 intro 2: choir joins, reverse cymbal into the build
    p = new()
    drone(p, vol=44)
    pads(p, "A", ins=STRINGS, vol=28)
    for bar, chord in enumerate(PROGS["A"]):
        p.put(bar * 16, 16, N(CHORDS[chord][3]), CHOIR, V(30))
    p.fx(0, 16, 0xE, 0x51)  # finetune of the choir sample
    rain(p, 0.45, 2)
    p.put(40, 14, N("C4"), REVERSE, V(40))
    drums(p, "hats")
    p.put(62, 16, 97)
    p.put(62, 15, 97)
    # 2 build: bass pulse and kicks
    p = new()
    drums(p, "build")
    bass(p, "A", "pulse")
    pads(p, "A", vol=28)
    rain(p, 0.3, 3)
    # 3 build 2: arpeggio, snare roll
    p = new()
    drums(p, "build", fill=True)
    bass(p, "A", "pulse")
    pads(p, "A", vol=30)
    arp(p, "A", use_arpeggio=True)
    p.put(32, 14, N("C4"), SWEEP, V(40))
    p.put(0, 17, N("A3"), BOOM, V(50))
    # 4, 5 verse A
    for v in range(2):
        p = new()
        drums(p, "full", fill=v == 1)
        bass(p, "A", "pulse")
        pads(p, "A", swell=v == 1)
        arp(p, "A", "up")
        rain(p, 0.2, 10 + v)
        if v == 0:
            p.put(0, 14, N("C4"), CRASH, V(40))
    # 6, 7 verse B
    for v in range(2):
        p = new()
        drums(p, "full", fill=v == 1)
        bass(p, "C", "pulse")
        pads(p, "C", ins=STRINGS, vol=32, swell=v == 1)
        arp(p, "C", "broken")
        for bar in range(4):
            p.put(bar * 16 + 8, 12, N("E6") if bar % 2 else N("A5"), BELL, V(24))
    # 8-11 lead sections
    for phrase, prog in ((0, "A"), (1, "A"), (2, "C"), (3, "C")):
        p = new()
        drums(p, "full", fill=phrase == 3)
        bass(p, prog, "run" if phrase % 2 else "pulse")
        pads(p, prog, vol=26)
        lead(p, phrase, glide=phrase >= 2)
        rain(p, 0.15, 20 + phrase)
        if phrase == 0:
            p.put(0, 14, N("C4"), CRASH, V(40))
        if phrase == 3:
            p.fx(63, 0, 0xE, 0xE3)  # hold the last row: a breath before the break
    # 12-14 break
    p = new()  # 12
    pads(p, "D", vol=36)
    for bar, chord in enumerate(PROGS["D"]):
        p.put(bar * 16, 12, N(CHORDS[chord][2]) + 12, BELL, V(34))
        p.put(bar * 16 + 6, 12, N(CHORDS[chord][3]) + 12, BELL, V(22))
        p.put(bar * 16, 16, N(CHORDS[chord][3]), OH, V(32))
    p.put(0, 17, N("A3"), GONG, V(48))
    drone(p, "F1", 36)
    rain(p, 0.5, 30)
    p.put(60, 16, 97)
    p.put(60, 15, 97)
    p = new()  # 13: plucked figure repeated with a pattern loop
    pads(p, "D", ins=STRINGS, vol=30)
    fig = ("A4", "C5", "E5", "C5")
    for i, nm in enumerate(fig):
        p.put(i, 9, N(nm), PLUCK, V(34))
    p.fx(0, 9, 0xE, 0x60)
    p.fx(3, 9, 0xE, 0x63)  # four rows, four times
    for i, nm in enumerate(("F4", "A4", "C5", "A4", "G4", "B4", "D5", "B4")):
        p.put(32 + i * 2, 9, N(nm), PLUCK, V(30))
    for bar in range(4):
        p.put(bar * 16 + 12, 12, N("E6"), GLASS, V(24), 0x7, 0x62)
    drums(p, "hats")
    p.put(56, 14, N("C4"), REVERSE, V(40))
    p = new()  # 14: build with a break at row 48
    drums(p, "build", fill=True)
    bass(p, "A", "long")
    pads(p, "A", vol=30, fade_in=True)
    p.put(0, 14, N("C4"), SWEEP, V(48))
    p.put(16, 14, N("C5"), ZAP, V(30), 0x2, 0x08)  # falling zap
    p.put(24, 14, N("C4"), ZAP, V(30), 0x1, 0x10)  # rising zap
    p.fx(47, 0, 0xD, 0x00)
    # 15-18 drop
    for k, (prog, phrase) in enumerate((("A", 0), ("A", 1), ("C", 2), ("C", 3))):
        p = new()
        drums(p, "drop", fill=k == 3)
        bass(p, prog, "acid")
        pads(p, prog, vol=24, swell=True)
        lead(p, phrase, ins=PULSE, vibrato=0x56, tremor=k == 3, transpose=12 if k == 1 else 0)
        arp(p, prog, "up", vol=20)
        if k == 0:
            p.put(0, 14, N("C4"), CRASH, V(44))
            p.fx(0, 10, 0xE, 0x42)  # square vibrato for the drop's lead
        if k == 3:
            p.fx(0, 10, 0xE, 0x40)
    # 19, 20 interlude: half-time, piano and flute
    for v in range(2):
        p = new()
        drums(p, "half")
        bass(p, "B", "long")
        pads(p, "B", ins=CHOIR, vol=26)
        for bar, chord in enumerate(PROGS["B"]):
            tones = CHORDS[chord][1:]
            for i, nm in enumerate(tones):
                p.put(bar * 16 + i * 2 + (8 if v else 0), 12, N(nm) + 12, PIANO, V(30 - i * 4))
        mel = (("E5", 12), ("D5", 4), ("C5", 8), ("B4", 8), ("A4", 12), ("G4", 4), ("A4", 16)) if v == 0 else (
            ("A5", 8), ("G5", 8), ("F5", 8), ("E5", 8), ("D5", 8), ("E5", 8), ("C5", 8), ("B4", 8))
        row = 0
        for nm, ln in mel:
            p.put(row, 10, N(nm), FLUTE, V(36))
            if ln >= 8:
                p.vol(row + 4, 10, 0xA4)
                p.vol(row + 5, 10, 0xB2)
            row += ln
        p.fx(60, 10, 0x5, 0x04) if v else None
        rain(p, 0.25, 40 + v)
    # 21, 22 lead C: organ and stabs over prog D
    for v in range(2):
        p = new()
        drums(p, "full", fill=v == 1)
        bass(p, "D", "run")
        pads(p, "D", ins=ORGAN, vol=22)
        for bar, chord in enumerate(PROGS["D"]):
            for s in (0, 3, 6, 10):
                p.put(bar * 16 + s, 17, N(CHORDS[chord][2]), STAB, V(34))
        lead(p, 2 + v, ins=LEAD, glide=True, echo=True)
        p.fx(8, 10, 0x21, 0x14)  # extra fine up
        p.fx(24, 10, 0x21, 0x24)  # extra fine down
    # 23, 24 finale
    for v, prog in enumerate(("A", "C")):
        p = new()
        drums(p, "drop", fill=v == 1)
        bass(p, prog, "acid")
        pads(p, prog, vol=28, swell=True)
        lead(p, 1 if v == 0 else 3, ins=LEAD, vibrato=0x46)
        arp(p, prog, "broken", vol=22)
        for bar in range(4):
            p.put(bar * 16, 16, N(CHORDS[PROGS[prog][bar]][3]), CHOIR, V(26), 0x7, 0x42)
        if v == 0:
            p.put(0, 14, N("C4"), CRASH, V(44))
        rain(p, 0.2, 50 + v)
        p.put(62, 16, 97)
    # 25 outro: the band thins out
    p = new()
    drums(p, "hats")
    bass(p, "A", "pulse")
    pads(p, "A", vol=30)
    for ch in (4, 5):
        p.fx(48, ch, 0xE, 0xA1)  # fine volume up once
        p.fx(56, ch, 0xE, 0xB4)  # then down
    rain(p, 0.35, 60)
    drone(p)
    p.put(62, 4, 97)
    p.put(62, 5, 97)
    # 26 outro 2: drone and rain, global fade; the loop restores the volume
    p = new()
    drone(p, vol=44, fade=True)
    pads(p, "A", ins=STRINGS, vol=28)
    rain(p, 0.5, 61)
    p.put(0, 17, N("A3"), GONG, V(44))
    p.put(0, 14, N("C4"), SWEEP, V(20), 0x11, 0x01)  # global volume slides down
    for r in range(8, 63, 10):
        p.fx(r, 14, 0x11, 0x00)
    p.put(20, 3, N("C5"), METAL, V(24), 0x8, 0x30)
    p.put(44, 3, N("C5"), CLICK, V(30), 0x19, 0x40)
    for ch in (6, 7, 8):
        p.put(60, ch, 0, 0, 0, 0x14, 0)  # K00: release the pad
    # 27 transition: 32 rows of toms, zaps and a held chord
    p = new(32)
    for i, nm in enumerate(("E4", "A3", "E3", "A2")):
        p.put(i * 8, 3, N(nm), LTOM if i >= 2 else HTOM, V(48))
    p.put(0, 17, N("A3"), BOOM, V(56))
    p.put(0, 14, N("C5"), ZAP, V(30), 0x2, 0x04)
    p.put(16, 14, N("C5"), ZAP, V(26), 0x2, 0x06)
    for k, nm in enumerate(("A3", "E4", "C5")):
        p.put(0, 6 + k, N(nm), GLASS, V(30), 0xC, 0x28)
    drone(p, "A1", 36)
    p.put(30, 15, 97)
    p.put(30, 6, 97)
    p.put(30, 7, 97)
    p.put(30, 8, 97)
    p.put(24, 1, N("C4"), SNARE, V(20), 0xE, 0x93)
    p.put(28, 1, N("C4"), SNARE, V(30), 0xE, 0x92)
    assert len(P) == 28, len(P)
    return P


ORDERS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 27, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22,
          4, 6, 8, 9, 10, 11, 27, 12, 14, 15, 16, 17, 18, 23, 24, 23, 24, 25, 26, 26]


def build():
    patterns = [p.out() for p in build_patterns()]
    m = xw.Module(
        name="Wake up, Neo",
        channels=CHANNELS,
        orders=ORDERS,
        patterns=patterns,
        instruments=make_instruments(),
        restart=0,
        linear=True,
        tempo=6,
        bpm=111,
    )
    assert len(ORDERS) == 44
    return m

