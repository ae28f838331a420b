#!/usr/bin/env python3
"""Writes res/CAMERA.WAV, the shutter sound: a sharp click, a short burst of
decaying noise (the curtain) and a second, softer click. 22050 Hz, mono,
16 bit, about a quarter of a second. Deterministic: the noise has a fixed seed.

Usage: python3 scripts/make_camera_wav.py [output]
"""
import math
import os
import random
import struct
import sys
import wave

RATE = 22050
LENGTH = 0.25  # seconds


def shutter_samples():
    rng = random.Random(20260107)
    total = int(RATE * LENGTH)
    samples = []
    for n in range(total):
        t = n / RATE
        value = 0.0
        # First click: a damped 2.2 kHz ring.
        if t < 0.012:
            value += 0.9 * math.exp(-t * 450) * math.sin(2 * math.pi * 2200 * t)
        # Curtain: band-limited noise that dies away.
        if 0.004 < t < 0.16:
            value += 0.45 * math.exp(-(t - 0.004) * 28) * (rng.random() * 2 - 1)
        # Second, softer click as the curtain closes.
        t2 = t - 0.11
        if 0 <= t2 < 0.015:
            value += 0.55 * math.exp(-t2 * 380) * math.sin(2 * math.pi * 1600 * t2)
        # Fade the last 20 ms so the sound ends without a tick.
        fade = min(1.0, (LENGTH - t) / 0.02)
        samples.append(max(-1.0, min(1.0, value * fade)))
    # Smooth the noise a little (two-tap average) so it sounds less harsh.
    smoothed = [samples[0]] + [(samples[i] + samples[i - 1]) / 2 for i in range(1, total)]
    return smoothed


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "CAMERA.WAV")
    frames = b"".join(struct.pack("<h", int(round(s * 32767))) for s in shutter_samples())
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames)


if __name__ == "__main__":
    main()
