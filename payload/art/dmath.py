"""Deterministic maths helpers.

libm's exp may differ in the last bit between C libraries, and one flipped bit can round
a pixel the other way. These use only basic arithmetic, so every machine computes the
same bytes.
"""


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def smoothstep(e0, e1, x):
    t = clamp((x - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def exp(x):
    # exp(x) = exp(x / 2^k)^(2^k): a short series on a small argument, then squarings.
    k = 0
    while x > 0.5 or x < -0.5:
        x /= 2.0
        k += 1
    term = 1.0
    total = 1.0
    for n in range(1, 14):
        term *= x / n
        total += term
    for _ in range(k):
        total *= total
    return total


class Lcg:
    """A tiny fixed generator so the art never depends on the random module's version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next_u32(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state

    def uniform(self, lo=0.0, hi=1.0):
        return lo + (hi - lo) * (self.next_u32() >> 8) / float(1 << 24)

    def randint(self, lo, hi):
        """Integer in lo..hi inclusive."""
        return lo + (self.next_u32() >> 8) % (hi - lo + 1)
