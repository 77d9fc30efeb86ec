#!/usr/bin/env python3
"""Makes a long, continuous transport stream from a short sample, reproducibly.

The sample is repeated; every repetition's PCR, PTS and DTS are moved on by the sample's
duration and the continuity counters run on, so the result plays as one stream with no
discontinuity. With --rate the stream is padded with null packets to that mux rate: every packet
keeps its time to within one packet, and its PCR says exactly where it went. With --drop-null the
sample's own null packets go first, and the rest spread evenly over the sample's duration (each
PCR is set to its packet's new place): the densest stream the sample makes. --share pads to a
rate at which the sample's packets are that fraction of the stream. --mux-rate then makes the
result run at that rate: every PCR, PTS and DTS is scaled about the first PCR, so the stream (its
elementary streams faster in proportion) lasts as long as its bytes take at that rate.

  make-stream.py SAMPLE.ts OUT.ts --size 75M [--drop-null] [--rate R | --share F] [--mux-rate R]
"""
import argparse
import struct
import sys

PACKET = 188
PCR_MODULUS = (1 << 33) * 300
PTS_MODULUS = 1 << 33


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1].upper() in units:
        return int(float(text[:-1]) * units[text[-1].upper()])
    return int(text)


def pcr_offset(packet):
    """Offset of the PCR field in the packet, or None."""
    if not packet[3] & 0x20 or packet[4] < 7 or not packet[5] & 0x10:
        return None
    return 6


def read_pcr(packet, at):
    base = (packet[at] << 25) | (packet[at + 1] << 17) | (packet[at + 2] << 9) | (packet[at + 3] << 1) | (packet[at + 4] >> 7)
    extension = ((packet[at + 4] & 0x01) << 8) | packet[at + 5]
    return base * 300 + extension


def write_pcr(packet, at, pcr):
    base, extension = divmod(pcr % PCR_MODULUS, 300)
    packet[at:at + 6] = bytes([(base >> 25) & 0xFF, (base >> 17) & 0xFF, (base >> 9) & 0xFF, (base >> 1) & 0xFF,
                               ((base & 1) << 7) | 0x7E | (extension >> 8), extension & 0xFF])


def read_timestamp(packet, at):
    b = packet[at:at + 5]
    return ((b[0] >> 1) & 0x07) << 30 | b[1] << 22 | (b[2] >> 1) << 15 | b[3] << 7 | b[4] >> 1


def write_timestamp(packet, at, value):
    value %= PTS_MODULUS
    prefix = packet[at] & 0xF0
    packet[at:at + 5] = bytes([prefix | ((value >> 29) & 0x0E) | 1, (value >> 22) & 0xFF, ((value >> 14) & 0xFE) | 1,
                               (value >> 7) & 0xFF, ((value << 1) & 0xFE) | 1])


def pes_timestamps(packet):
    """Offsets of the PTS and DTS fields of a PES header starting in this packet."""
    if not packet[1] & 0x40 or not packet[3] & 0x10:
        return []
    start = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
    if start + 14 > PACKET or packet[start:start + 3] != b"\x00\x00\x01":
        return []
    stream_id = packet[start + 3]
    if stream_id in (0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF) or packet[start + 6] & 0xC0 != 0x80:
        return []
    flags = packet[start + 7] >> 6
    fields = []
    if flags & 0x2:
        fields.append(start + 9)
    if flags == 0x3 and start + 19 <= PACKET:
        fields.append(start + 14)
    return fields


def mux_rate(packets):
    """Bit rate from the first and last PCR of the PID with the most PCRs."""
    pcrs = {}
    for index, packet in enumerate(packets):
        at = pcr_offset(packet)
        if at is not None:
            pid = ((packet[1] & 0x1F) << 8) | packet[2]
            pcrs.setdefault(pid, []).append((index, read_pcr(packet, at)))
    if not pcrs:
        sys.exit("no PCR in the sample")
    samples = max(pcrs.values(), key=len)
    (first_index, first_pcr), (last_index, last_pcr) = samples[0], samples[-1]
    return (last_index - first_index) * PACKET * 8 * 27_000_000 / (last_pcr - first_pcr)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("sample")
    parser.add_argument("output")
    parser.add_argument("--size", default="75M", help="size of the result (K, M, G suffixes)")
    parser.add_argument("--rate", type=int, default=0, help="pad with null packets to this mux rate (bit/s)")
    parser.add_argument("--share", type=float, default=0, help="pad so that the sample's packets are this fraction")
    parser.add_argument("--drop-null", action="store_true", help="leave out the sample's null packets first")
    parser.add_argument("--mux-rate", type=int, default=0, help="scale every time stamp so the result runs at this rate")
    args = parser.parse_args()

    data = open(args.sample, "rb").read()
    start = data.find(b"\x47")
    packets = [bytearray(data[i:i + PACKET]) for i in range(start, len(data) - PACKET + 1, PACKET)]
    if not packets or any(p[0] != 0x47 for p in packets):
        sys.exit("the sample must be 188-byte packets in sync")
    rate = mux_rate(packets)
    if args.drop_null:
        kept = [p for p in packets if ((p[1] & 0x1F) << 8 | p[2]) != 0x1FFF]
        rate = rate * len(kept) / len(packets)  # the same duration in fewer packets
        first_pcr = next(read_pcr(p, pcr_offset(p)) for p in packets if pcr_offset(p) is not None)
        packets = kept
        for index, packet in enumerate(packets):
            at = pcr_offset(packet)
            if at is not None:
                write_pcr(packet, at, first_pcr + round(index * PACKET * 8 * 27_000_000 / rate))
    if args.share and args.rate:
        sys.exit("--rate and --share exclude each other")
    if args.share and not 0 < args.share <= 1:
        sys.exit("--share is a fraction in (0, 1]")
    out_rate = rate / args.share if args.share else max(args.rate, rate)
    origin = next(read_pcr(p, pcr_offset(p)) for p in packets if pcr_offset(p) is not None)
    scale = out_rate / args.mux_rate if args.mux_rate else 1.0

    def scaled(ticks):
        return origin + round((ticks - origin) * scale)

    # One repetition in 27 MHz ticks, a whole number of 90 kHz ticks so PTS move exactly.
    loop_ticks = round(len(packets) * PACKET * 8 * 90_000 / rate) * 300
    target = parse_size(args.size)
    null = bytearray(b"\x47\x1F\xFF\x10" + b"\xFF" * (PACKET - 4))
    counters = {}
    written = 0
    out_index = 0
    repetition = 0
    with open(args.output, "wb") as out:
        while written < target:
            for index, source in enumerate(packets):
                packet = bytearray(source)
                pid = ((packet[1] & 0x1F) << 8) | packet[2]
                shift = repetition * loop_ticks
                # Keep the packet's time: the nulls in front of it fill the faster mux. Its PCR
                # moves by what rounding to a whole packet place changed.
                source_index = repetition * len(packets) + index
                due = int(source_index * out_rate / rate)
                rounding = round((due / out_rate - source_index / rate) * PACKET * 8 * 27_000_000)
                at = pcr_offset(packet)
                if at is not None:
                    write_pcr(packet, at, scaled(read_pcr(packet, at) + shift + rounding))
                for field in pes_timestamps(packet):
                    write_timestamp(packet, field, scaled((read_timestamp(packet, field) + shift // 300) * 300) // 300)
                if pid != 0x1FFF and packet[3] & 0x10:
                    counters[pid] = (counters.get(pid, packet[3] & 0x0F) + (1 if pid in counters else 0)) & 0x0F
                    packet[3] = (packet[3] & 0xF0) | counters[pid]
                elif pid in counters:  # no payload: the counter stays
                    packet[3] = (packet[3] & 0xF0) | counters[pid]
                while out_index < due:
                    out.write(null)
                    out_index += 1
                    written += PACKET
                out.write(packet)
                out_index += 1
                written += PACKET
                if written >= target:
                    break
            repetition += 1
    final_rate = args.mux_rate or out_rate
    print(f"{args.output}: {written} bytes, {repetition} repetitions of {len(packets)} packets, "
          f"{final_rate / 1e6:.3f} Mbit/s (sample {rate / 1e6:.3f} Mbit/s)")


if __name__ == "__main__":
    main()
