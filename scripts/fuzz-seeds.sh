#!/usr/bin/env bash
# Writes the small seed corpora of the fuzz/ targets into DIR/<target>/ (default
# build-fuzz/seeds): a few sound files of the kinds the readers meet, short locked-decoder
# inputs (settings bytes, then a line-sync-like signal) and tiny pictures.
# Usage: scripts/fuzz-seeds.sh [DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$root/build-fuzz/seeds}"
mkdir -p "$dir/soundfile" "$dir/locked_decoder" "$dir/transmitter"
python3 - "$dir" <<'PY'
import math, struct, sys, wave, zlib
d = sys.argv[1]

def signal(n, rate, line_hz=400):
    # A sync dip at the start of every line, a ramp across it: enough to lock on.
    out = []
    for i in range(n):
        phase = (i * line_hz / rate) % 1.0
        out.append(-1.0 if phase < 0.05 else -0.4 + 1.2 * phase)
    return out

def wav(name, rate, width, channels, n=2400):
    s = signal(n, rate)
    with wave.open(f"{d}/soundfile/{name}", "wb") as w:
        w.setnchannels(channels); w.setsampwidth(width); w.setframerate(rate)
        frames = bytearray()
        for v in s:
            for _ in range(channels):
                if width == 1: frames += bytes([int(128 + 100 * v)])
                else: frames += struct.pack("<h", int(20000 * v))
        w.writeframes(bytes(frames))

wav("u8-mono-8k.wav", 8000, 1, 1)
wav("s16-stereo-44k.wav", 44100, 2, 2)
wav("s16-mono-28k8.wav", 28800, 2, 1)
# A float WAV (format 3), which the wave module does not write.
s = signal(1200, 11025)
data = b"".join(struct.pack("<f", v) for v in s)
fmt = struct.pack("<HHIIHH", 3, 1, 11025, 11025 * 4, 4, 32)
with open(f"{d}/soundfile/f32-mono-11k.wav", "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
    f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data)
# The soundfile target takes its rate from the first byte: every seed gets one in front.
import os
for name in os.listdir(f"{d}/soundfile"):
    p = f"{d}/soundfile/{name}"
    body = open(p, "rb").read()
    if not body.startswith(b"\x14"):
        open(p, "wb").write(b"\x14" + body)

# Locked decoder: 9 settings bytes (known standard, automatic kind and polarity, channels, any
# channel, flags: 8-bit or floats, levels, rate 8 kHz) and then the signal.
s = signal(8000, 8000)
u8 = bytes(int(128 + 100 * v) for v in s)
f32 = b"".join(struct.pack("<f", 0.8 * v) for v in s)
head = lambda flags, chans: bytes([0, 0, 0, chans, 0, flags, 64, 255, 0])
open(f"{d}/locked_decoder/u8-nbtva", "wb").write(head(6, 0) + u8)
open(f"{d}/locked_decoder/f32-nbtva", "wb").write(head(2, 0) + f32)
open(f"{d}/locked_decoder/f32-stereo-inverted", "wb").write(head(10, 1) + f32)

# Transmitter: a first byte of options, then a picture.
def png(w, h):
    raw = b"".join(b"\x00" + bytes((x * 255 // max(w - 1, 1)) for x in range(w)) for _ in range(h))
    chunk = lambda t, b: struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
open(f"{d}/transmitter/grey.png", "wb").write(b"\x00" + png(16, 12))
open(f"{d}/transmitter/wide.pgm", "wb").write(b"\x41" + b"P5 40 3 255\n" + bytes(range(120)))
open(f"{d}/transmitter/bars.ppm", "wb").write(b"\x80" + b"P3 2 2 255\n255 0 0 0 255 0 0 0 255 9 9 9\n")
PY
echo "$dir"
