#!/usr/bin/env python3
"""Figures of one live run of bench/live-figures.sh, from the feeder's log, the program's
timing trace (CORVANE_TRACE) and the bytes fed.

usage: live-figures-report.py FEED_LOG TRACE INPUT [IDLE_FILE]
"""
import bisect
import io
import os
import sys
import zlib


def percentile(values, p):
    if not values:
        return float("nan")
    s = sorted(values)
    k = min(len(s) - 1, max(0, round(p / 100 * (len(s) - 1))))
    return s[k]


def ms(ns):
    return ns / 1e6


def main():
    feed_log, trace_path, input_path = sys.argv[1:4]
    idle_path = sys.argv[4] if len(sys.argv) > 4 else None

    write_at, write_end, lateness = [], [], []
    usage = {}
    ticks_per_second = 100
    with open(feed_log) as f:
        for line in f:
            parts = line.split()
            if parts[0] in ("cpu-start", "cpu-end"):
                usage[parts[0]] = tuple(int(x) for x in parts[1:])
            elif parts[0] == "ticks-per-second":
                ticks_per_second = int(parts[1])
            else:
                at, end, due = (int(x) for x in parts)
                write_at.append(at)
                write_end.append(end)
                lateness.append(at - due)
    fed = write_end[-1]
    with open(input_path, "rb") as f:
        data = f.read(fed)

    decoded, paints, flushes = [], [], []
    with open(trace_path) if os.path.exists(trace_path) else io.StringIO() as f:
        for line in f:
            parts = line.split()
            if parts[0] == "D":
                decoded.append((int(parts[1]), int(parts[2]), int(parts[3]), int(parts[4], 16)))
            elif parts[0] == "P":
                paints.append(int(parts[1]))
            elif parts[0] == "F":
                flushes.append(int(parts[1]))

    # Buffers: each decoded block's running count and checksum against the bytes fed.
    full = [d for d in decoded if d[1] > 0]
    total = full[-1][2] if full else 0
    mismatches, first_bad = 0, None
    crc, upto = 0, 0
    for i, (_, count, running, checksum) in enumerate(full):
        if running > fed:
            mismatches += 1
            first_bad = first_bad if first_bad is not None else i
            continue
        crc = zlib.crc32(data[upto:running], crc)
        upto = running
        if crc != checksum:
            mismatches += 1
            first_bad = first_bad if first_bad is not None else i
    block = full[0][1] if full else 1024
    lost = max(0, fed - total) // block
    doubled = max(0, total - fed) // block

    # Delays, per buffer, from the write of its earliest sample.
    to_decode, to_paint, to_flush, last_to_decode = [], [], [], []
    for t, count, running, _ in full:
        first_byte = running - count
        w = bisect.bisect_right(write_end, first_byte)
        last = bisect.bisect_right(write_end, running - 1)
        if last >= len(write_at):
            continue
        written = write_at[w]
        to_decode.append(t - written)
        last_to_decode.append(t - write_at[last])
        p = bisect.bisect_left(paints, t)
        if p < len(paints):
            to_paint.append(paints[p] - written)
            q = bisect.bisect_left(flushes, paints[p])
            if q < len(flushes):
                to_flush.append(flushes[q] - written)

    seconds = fed / 28800
    print(f"audio fed:            {fed} bytes in {len(write_at)} writes, {seconds:.1f} s of audio")
    print(f"feeder lateness:      median {ms(percentile(lateness, 50)):.2f} ms, "
          f"95% {ms(percentile(lateness, 95)):.2f} ms, max {ms(max(lateness)):.2f} ms")
    if "cpu-start" in usage and "cpu-end" in usage:
        t0, c0, r0 = usage["cpu-start"]
        t1, c1, r1 = usage["cpu-end"]
        cpu = (c1 - c0) / ticks_per_second
        wall = (t1 - t0) / 1e9
        print(f"CPU of the program:   {cpu:.2f} s over {wall:.1f} s = {100 * cpu / wall:.2f}% of "
              f"one core (target <= 1%)")
        print(f"resident memory:      {r0} kB at start of feed, {r1} kB at end "
              f"({r1 - r0:+d} kB)")
    if idle_path:
        with open(idle_path) as f:
            c0, c1, wall = (float(x) for x in f.read().split())
        print(f"idle floor:           {100 * (c1 - c0) / ticks_per_second / wall:.2f}% of one "
              f"core over {wall:.1f} s, window up and recording, no audio")
    if not decoded:
        print("no timing trace: buffers and delays not measured")
        return 0
    print(f"buffers decoded:      {len(full)} ({total} bytes); fed {fed // block} buffers; "
          f"lost {lost}, doubled {doubled}, checksum mismatches {mismatches}"
          + (f" (first at buffer {first_bad})" if first_bad is not None else ""))
    print(f"repaints:             {len(paints)} paints, {len(flushes)} flushes "
          f"({len(paints) / seconds:.1f} paints per second of audio)")
    print("delays from the write of each buffer's first sample (its last: 'last sample'):")
    for name, values in (("write -> decoded", to_decode), ("  last sample", last_to_decode),
                         ("write -> painted", to_paint), ("write -> on screen", to_flush)):
        if values:
            print(f"{name + ':':22}median {ms(percentile(values, 50)):6.1f} ms, "
                  f"95% {ms(percentile(values, 95)):6.1f} ms, max {ms(max(values)):6.1f} ms "
                  f"({len(values)} buffers; target <= 60 ms)")
        else:
            print(f"{name + ':':22}no data")
    return 0 if lost == 0 and doubled == 0 and mismatches == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
