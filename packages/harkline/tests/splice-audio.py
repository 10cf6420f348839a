#!/usr/bin/python3
"""Writes 16 kHz s16le mono PCM made of recordings with silence and synthetic noise spliced
between them, for the speech gate's tests and benchmark.

usage: splice-audio.py OUTPUT PART...
  PART is one of
    speech:PATH                 a recording (raw 16 kHz s16le mono, or a WAV file of that)
    silence:SECONDS
    white:SECONDS:DBFS          noise at that RMS level relative to full scale
    pink:SECONDS:DBFS
    brown:SECONDS:DBFS
    hum:SECONDS:DBFS            50 Hz mains hum with its odd harmonics
Prints one JSON line: the parts with their first and last byte in OUTPUT. The noise is the
same on every run (fixed seeds).
"""
import json
import sys
import wave

import numpy as np

RATE = 16000


def recording(path):
    if path.endswith(".wav"):
        with wave.open(path, "rb") as file:
            if file.getframerate() != RATE or file.getnchannels() != 1 or file.getsampwidth() != 2:
                sys.exit(f"{path}: not 16 kHz mono 16-bit")
            return np.frombuffer(file.readframes(file.getnframes()), dtype="<i2").astype(np.float64)
    return np.fromfile(path, dtype="<i2").astype(np.float64)


def at_level(signal, dbfs):
    rms = np.sqrt(np.mean(signal**2))
    return signal * (32767 * 10 ** (dbfs / 20) / rms if rms > 0 else 0)


def noise(kind, seconds, dbfs, seed):
    count = int(seconds * RATE)
    random = np.random.default_rng(seed)
    if kind == "white":
        signal = random.standard_normal(count)
    elif kind == "pink":
        # 1/f power: white noise shaped in the frequency domain.
        spectrum = np.fft.rfft(random.standard_normal(count))
        frequencies = np.fft.rfftfreq(count, 1 / RATE)
        frequencies[0] = frequencies[1]
        signal = np.fft.irfft(spectrum / np.sqrt(frequencies), count)
    elif kind == "brown":
        signal = np.cumsum(random.standard_normal(count))
        signal -= np.linspace(signal[0], signal[-1], count)  # no drift to the rails
    elif kind == "hum":
        time = np.arange(count) / RATE
        phase = random.uniform(0, 2 * np.pi)
        signal = sum(np.sin(2 * np.pi * 50 * harmonic * time + phase) / harmonic for harmonic in (1, 3, 5, 7))
    else:
        sys.exit(f"unknown part kind {kind}")
    return at_level(signal, dbfs)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    pieces, parts, offset = [], [], 0
    for seed, part in enumerate(sys.argv[2:]):
        kind, _, rest = part.partition(":")
        if kind == "speech":
            samples = recording(rest)
        elif kind == "silence":
            samples = np.zeros(int(float(rest) * RATE))
        else:
            seconds, dbfs = rest.split(":")
            samples = noise(kind, float(seconds), float(dbfs), seed)
        samples = np.clip(np.round(samples), -32768, 32767).astype("<i2")
        pieces.append(samples)
        parts.append({"part": part, "firstByte": offset, "endByte": offset + 2 * len(samples)})
        offset += 2 * len(samples)
    np.concatenate(pieces).tofile(sys.argv[1])
    print(json.dumps(parts))


main()
