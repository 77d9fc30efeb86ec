#!/usr/bin/env python3
"""Writes fuzz seeds for one target from the sample streams.

  make-corpus.py TARGET SAMPLES_DIR OUT_DIR [--max-bytes N]

TARGET is psi, analyser, engine or filter (the elementary-stream target has make-es-corpus.py).
Each seed is at most --max-bytes long (4096 by default): the committed corpora are made with the
default and minimised with libFuzzer's -merge; run-one.sh adds larger seeds at run time.
The script formats are those of FuzzInput.h: a command count, four bytes per command, then the
stream.
"""
import argparse
import os
import struct

PACKET = 188


def packets_of(data):
    """The 188-byte packets of a 188- or 204-byte stream, in order."""
    size = 204 if len(data) > 408 and data[0] == 0x47 and data[204] == 0x47 and data[408] == 0x47 \
        and not (data[188] == 0x47 and data[376] == 0x47) else PACKET
    return [data[at:at + PACKET] for at in range(0, len(data) - size + 1, size) if data[at] == 0x47]


def pid_of(packet):
    return (packet[1] & 0x1F) << 8 | packet[2]


def pusi(packet):
    return bool(packet[1] & 0x40)


def table_id(packet):
    """table_id of a section starting in this packet, or None."""
    if not pusi(packet) or not packet[3] & 0x10:
        return None
    at = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
    if at >= PACKET:
        return None
    at += 1 + packet[at]
    return packet[at] if at < PACKET else None


def psi_pids(packets):
    """PIDs carrying tables: the fixed SI PIDs and every PID whose sections look like a PMT."""
    pids = {0x00, 0x01, 0x10, 0x11, 0x12, 0x14, 0x1FFB}
    for p in packets:
        if table_id(p) == 0x02:
            pids.add(pid_of(p))
    return pids


def es_pids(packets, psi):
    seen = []
    for p in packets:
        pid = pid_of(p)
        if pid not in psi and pid != 0x1FFF and pusi(p) and pid not in seen:
            seen.append(pid)
    return seen


def window(packets, keep, limit):
    """Packets for which keep() holds, from the first video start on, up to limit bytes."""
    out = []
    for p in packets:
        if keep(p):
            out.append(p)
            if (len(out) + 1) * PACKET > limit:
                break
    return b"".join(out)


def commands(*items):
    body = b"".join(bytes(c) for c in items)
    return bytes([len(items)]) + body


def psi_seeds(name, packets, limit):
    psi = psi_pids(packets)
    tables = window(packets, lambda p: pid_of(p) in psi, limit - 1)
    for standard in (0, 1, 2):
        yield f"{name}-std{standard}", bytes([0x04 | standard]) + tables
    yield f"{name}-rawcrc", bytes([0x02]) + tables


def analyser_seeds(name, raw, limit):
    for flags in (0x02, 0x06, 0x0A, 0x2E, 0x42):
        yield f"{name}-{flags:02x}", bytes([flags, 0x12, 0x34]) + raw[:limit - 3]


def media_window(packets, limit):
    psi = psi_pids(packets)
    pids = es_pids(packets, psi)
    return window(packets, lambda p: pid_of(p) in psi or pid_of(p) in pids, limit), pids


def engine_seeds(name, packets, limit):
    stream, pids = media_window(packets, limit - 64)
    maps = [(1, pid >> 8, pid & 0xFF, 0) for pid in pids[:4]]
    yield f"{name}-whole", commands(*maps) + stream
    yield f"{name}-cuts", commands(*maps, (0, 0, 0, 0x80 | 1), (0, 0x00, 187, 0), (0, 0x01, 0x77, 0),
                                   (0, 0, 5, 0x80), (0, 0x03, 0x00, 0)) + stream
    yield f"{name}-jumps", commands(*maps, (0, 0x02, 0x00, 0), (4, 0x40, 0x00, 20), (0, 0x02, 0x00, 0),
                                    (4, 0xFF, 0xFF, 0x80 | 25), (5, 1, 0, 0), (0, 0x02, 0x00, 0),
                                    (6, 0x10, 0, 0)) + stream
    yield f"{name}-remap", commands(*maps, (0, 0x04, 0x00, 0), (3, 0, 0, 0), (2, pids[0] >> 8, pids[0] & 0xFF, 0),
                                    (0, 0x02, 0x00, 0), *maps, (7, 1, 0, 0), (7, 0, 2, 0)) + stream


def filter_seeds(name, packets, limit):
    stream, pids = media_window(packets, limit - 96)
    pins = [(1, 0, 0, 0x01), (1, 1, 1, 0x01)]
    maps = [(3, i & 1, pid & 0xFF, 0) if pid < 0x100 else (3, (i & 1) | ((pid >> 8) << 2), pid & 0xFF, 0)
            for i, pid in enumerate(pids[:2])]
    yield f"{name}-paused", commands(*pins, *maps, (5, 1, 0, 0)) + stream
    yield f"{name}-running", commands(*pins, *maps, (7, 0, 0, 0), (5, 2, 0, 0), (0, 0x03, 0x00, 0),
                                      (6, 0, 0, 0), (0, 0x01, 0x00, 0), (6, 1, 0, 0)) + stream
    yield f"{name}-faults", commands((1, 0, 0, 0x03 | 0x08 | 0x40), (1, 1, 1, 0x05 | 0x20), *maps, (5, 1, 0, 0),
                                     (0, 0x02, 0x00, 1), (0, 0x00, 0x00, 2), (0, 0x02, 0x00, 0),
                                     (2, 1, 0, 0), (5, 0, 0, 0), (2, 1, 0, 0), (1, 2, 2, 1)) + stream
    yield f"{name}-states", commands(*pins, *maps, (5, 2, 0, 0), (0, 0x01, 0x00, 0), (5, 1, 0, 0),
                                     (4, 0, pids[0] & 0xFF, 0), (0, 0x01, 0x00, 0), (5, 0, 0, 0),
                                     (7, 2, 0x10, 0x20), (5, 2, 0, 0)) + stream


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target", choices=["psi", "analyser", "engine", "filter"])
    parser.add_argument("samples")
    parser.add_argument("out")
    parser.add_argument("--max-bytes", type=int, default=4096)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for entry in sorted(os.listdir(args.samples)):
        if not entry.endswith(".ts"):
            continue
        raw = open(os.path.join(args.samples, entry), "rb").read()
        packets = packets_of(raw)
        name = entry[:-3]
        if args.target == "psi":
            seeds = psi_seeds(name, packets, args.max_bytes)
        elif args.target == "analyser":
            seeds = analyser_seeds(name, raw, args.max_bytes)
        elif args.target == "engine":
            seeds = engine_seeds(name, packets, args.max_bytes)
        else:
            seeds = filter_seeds(name, packets, args.max_bytes)
        for seed_name, seed in seeds:
            with open(os.path.join(args.out, f"{seed_name}-{args.max_bytes}"), "wb") as f:
                f.write(seed)


if __name__ == "__main__":
    main()
