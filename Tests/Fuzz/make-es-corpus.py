#!/usr/bin/env python3
"""Writes fuzz seeds for EsParserFuzz: the first PES packets of each elementary PID of the
sample streams, each prefixed by the byte that selects its stream kind in the fuzz target."""
import os
import sys

# Index into the fuzz target's kind table for each (sample, PID).
KIND_INDEX = {0x02: 1, 0x03: 2, 0x0F: 4, 0x1B: 6, 0x24: 8, 0x87: 11, 256: 13}
SAMPLES = {
    "h264_aac.ts": {256: 0x1B, 257: 0x0F},
    "hevc_eac3.ts": {256: 0x24, 257: 0x87},
    "mpeg2_mp2_ac3.ts": {256: 0x02, 257: 0x03, 258: 256},
    "twoprog.ts": {256: 0x1B, 257: 0x0F, 258: 0x02, 259: 0x03},
}


def pes_packets(data, pid, limit):
    packets, current = [], None
    for off in range(0, len(data) - 187, 188):
        p = data[off:off + 188]
        if p[0] != 0x47 or ((p[1] & 0x1F) << 8 | p[2]) != pid:
            continue
        afc = (p[3] >> 4) & 3
        start = 4 + (1 + p[4] if afc & 2 else 0)
        if not afc & 1 or start >= 188:
            continue
        if p[1] & 0x40:
            if current:
                packets.append(bytes(current[:2048]))
                if len(packets) >= limit:
                    return packets
            current = bytearray()
        if current is not None:
            current += p[start:]
    return packets


def main():
    samples, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name, pids in SAMPLES.items():
        path = os.path.join(samples, name)
        if not os.path.exists(path):
            continue
        data = open(path, "rb").read()
        for pid, kind in pids.items():
            for i, pes in enumerate(pes_packets(data, pid, 3)):
                seed = bytes([KIND_INDEX[kind]]) + pes
                with open(os.path.join(out, f"{name[:-3]}-{pid}-{i}"), "wb") as f:
                    f.write(seed)


if __name__ == "__main__":
    main()
