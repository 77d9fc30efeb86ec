#!/usr/bin/env python3
"""Network input of skts.exe under Wine: Wine's sockets are the host's, so the datagrams are sent
from here. Each check starts skts.exe analyze --json on a free port, waits until the port is bound,
sends a transport stream in 1316-byte datagrams (plain, or each behind an RTP header), lets the run
end and compares the report with what was sent.

Use: live-input.py WINE SKTS_EXE STREAM.ts; exits non-zero on the first failed check."""
import json
import os
import pty
import re
import select
import socket
import subprocess
import sys
import tempfile
import time

WINE, SKTS, STREAM = sys.argv[1:4]
PAYLOAD = 1316
GROUP = "239.255.17.23"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def bound(port):
    """Whether a UDP socket of this machine is bound to the port (Wine's sockets are host sockets)."""
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(table) as lines:
                for line in list(lines)[1:]:
                    local = line.split()[1]
                    if int(local.rsplit(":", 1)[1], 16) == port:
                        return True
        except FileNotFoundError:
            pass
    return False


def wait_bound(port, process):
    while not bound(port):
        if process.poll() is not None:
            raise SystemExit(f"live-input.py: skts.exe ended before it bound port {port}")
        time.sleep(0.05)


def send(stream, port, rtp=False, host="127.0.0.1"):
    """Sends the stream at a modest pace; returns the datagram count."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as out:
        if host != "127.0.0.1":
            out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
            out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
        count = 0
        for offset in range(0, len(stream), PAYLOAD):
            datagram = stream[offset:offset + PAYLOAD]
            if rtp:
                header = bytes([0x80, 33]) + (count & 0xFFFF).to_bytes(2, "big")
                header += (count * 3000 & 0xFFFFFFFF).to_bytes(4, "big") + (0x5354).to_bytes(4, "big")
                datagram = header + datagram
            out.sendto(datagram, (host, port))
            count += 1
            time.sleep(0.001)
        return count


def fail(name, why, detail=""):
    raise SystemExit(f"live-input.py: {name}: {why}\n{detail}")


def check_report(name, report, stream, datagrams, end, rtp=False, multicast=False):
    live = report.get("live", {})
    expected = {
        "datagrams": datagrams, "bytes": len(stream), "end": end, "truncated_datagrams": 0,
        "kernel_timestamps": False, "multicast": multicast, "rtp": rtp,
        "rtp_packets": datagrams if rtp else 0, "rtp_packets_lost": 0, "rtp_sequence_gaps": 0,
    }
    for key, value in expected.items():
        if live.get(key) != value:
            fail(name, f"live.{key} is {live.get(key)!r}, not {value!r}", json.dumps(live, indent=1))
    if not live.get("receive_buffer_bytes", 0) > 0:
        fail(name, "no receive buffer size reported", json.dumps(live, indent=1))
    if report.get("packets") != len(stream) // 188:
        fail(name, f"packets is {report.get('packets')}, not {len(stream) // 188}")


def run_silence_ended(name, stream, address, port, rtp=False, host="127.0.0.1", multicast=False):
    """The sender stops; the silence timeout ends the run with the full report (exit code 2)."""
    command = [WINE, SKTS, "analyze", "--json", "--timeout", "3", address]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        wait_bound(port, process)
        datagrams = send(stream, port, rtp=rtp, host=host)
        out, err = process.communicate(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
    err = err.decode(errors="replace")
    if process.returncode != 2:
        fail(name, f"exit code {process.returncode}, not 2", err)
    if f"the input stopped after {datagrams} datagrams" not in err:
        fail(name, "no line saying the input stopped", err)
    check_report(name, json.loads(out), stream, datagrams, "timeout", rtp=rtp, multicast=multicast)


def run_ctrl_c(name, stream, port):
    """Ctrl-C on Wine's console after the stream was sent: the run ends with exit code 0 and
    reports every datagram. The report goes to a file: the console wraps lines at its width,
    which would put line breaks into the JSON's longer strings."""
    command = [WINE, SKTS, "analyze", "--json", "--timeout", "60", f"udp://127.0.0.1:{port}"]
    report = tempfile.TemporaryFile()
    pid, terminal = pty.fork()
    if pid == 0:
        os.dup2(report.fileno(), 1)
        os.execvp(command[0], command)
    output = b""
    datagrams = None
    give_up = time.monotonic() + 120  # against a hang only
    while time.monotonic() < give_up:
        if datagrams is None and bound(port):
            datagrams = send(stream, port)
            os.write(terminal, b"\x03")
        ready, _, _ = select.select([terminal], [], [], 0.05)
        if ready:
            try:
                chunk = os.read(terminal, 65536)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
    if time.monotonic() >= give_up:
        os.kill(pid, 9)
    _, status = os.waitpid(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    # The console adds cursor controls and carriage returns to what the program wrote.
    text = re.sub(r"\x1b\[[?0-9;]*[A-Za-z]", "", output.decode(errors="replace")).replace("\r", "")
    if code != 0:
        fail(name, f"exit code {code}, not 0", text[-2000:])
    if datagrams is None:
        fail(name, "the port was never bound", text[-2000:])
    report.seek(0)
    check_report(name, json.load(report), stream, datagrams, "signal")


def run_no_datagram(name, port):
    address = f"udp://127.0.0.1:{port}"
    result = subprocess.run([WINE, SKTS, "analyze", "--json", "--timeout", "1", address],
                            capture_output=True, timeout=120)
    err = result.stderr.decode(errors="replace")
    if result.returncode != 2 or f"no datagram on {address} within 1 s" not in err:
        fail(name, f"exit code {result.returncode}, expected 2 and the 'no datagram ... within' line", err)


def main():
    with open(STREAM, "rb") as source:
        stream = source.read()
    port = free_port()
    run_silence_ended("udp unicast", stream, f"udp://127.0.0.1:{port}", port)
    port = free_port()
    run_silence_ended("rtp unicast", stream, f"rtp://127.0.0.1:{port}", port, rtp=True)
    port = free_port()
    run_silence_ended("multicast on 127.0.0.1", stream, f"udp://{GROUP}:{port}?interface=127.0.0.1", port,
                      host=GROUP, multicast=True)
    port = free_port()
    run_silence_ended("source-specific multicast", stream, f"udp://127.0.0.1@{GROUP}:{port}?interface=127.0.0.1",
                      port, host=GROUP, multicast=True)
    run_ctrl_c("Ctrl-C", stream, free_port())
    run_no_datagram("no datagram", free_port())
    print("live-input.py: udp, rtp, multicast, source-specific multicast, Ctrl-C and silence checked")


if __name__ == "__main__":
    main()
