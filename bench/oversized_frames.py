#!/usr/bin/env python3
"""The service's resident memory under oversized frames on its route port.

Starts one `morvex --headless` in a test network (tests/e2e/testhosts.py:
network namespaces only, nothing in the machine's own), and from a second
host speaks ZeroMQ's wire protocol (ZMTP 3.0, NULL mechanism, as a DEALER)
to its route port:

  1. one frame of FRAME_MIB (default 1024) MiB, sent whole;
  2. three connections that each announce a frame of PARTIAL_MIB (default
     600) MiB, send all but the last MiB of it and hold the connection open
     for HOLD_S (default 5) seconds.

Prints the service's VmRSS before, the peak while each step runs and after
it, and whether `morvexctl devices` still answers after each step.

    sudo MORVEX_BIN_DIR=build/bin python3 bench/oversized_frames.py
"""

import os
import socket
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

ROUTE_PORT = 9527
MIB = 1024 * 1024


def zmtp_dealer(address, port):
    """A TCP connection that has done the ZMTP 3.0 handshake as a DEALER."""
    s = socket.create_connection((address, port), timeout=30)
    greeting = b"\xff" + b"\x00" * 8 + b"\x7f" + b"\x03\x00" + b"NULL".ljust(20, b"\x00") + b"\x00" + b"\x00" * 31
    s.sendall(greeting)
    received = b""
    while len(received) < 64:
        chunk = s.recv(64 - len(received))
        if not chunk:
            raise ConnectionError("closed during the greeting")
        received += chunk
    body = b"\x05READY" + b"\x0bSocket-Type" + struct.pack(">I", 6) + b"DEALER"
    s.sendall(b"\x04" + bytes([len(body)]) + body)
    return s


def send_frame(s, size, send):
    """Announces one last frame of `size` bytes and sends `send` of them."""
    s.sendall(b"\x02" + struct.pack(">Q", size))
    chunk = b"\x00" * MIB
    sent = 0
    while sent < send:
        n = min(MIB, send - sent)
        s.sendall(chunk[:n])
        sent += n


def sender_main(args):
    """Runs in the second host: `--send ADDRESS whole|partial MIB HOLD_S`."""
    address, kind, mib, hold = args[0], args[1], int(args[2]), float(args[3])
    if kind == "whole":
        s = zmtp_dealer(address, ROUTE_PORT)
        try:
            send_frame(s, mib * MIB, mib * MIB)
        except OSError as exc:
            print("connection dropped after the header or during the frame: %s" % exc)
        time.sleep(hold)
        s.close()
        return
    connections = []
    threads = []
    for _ in range(3):
        s = zmtp_dealer(address, ROUTE_PORT)
        connections.append(s)

        def run(sock=s):
            try:
                send_frame(sock, mib * MIB, (mib - 1) * MIB)
            except OSError as exc:
                print("connection dropped: %s" % exc)

        t = threading.Thread(target=run)
        t.start()
        threads.append(t)
    for t in threads:
        t.join()
    time.sleep(hold)
    for s in connections:
        s.close()


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class PeakRss:
    def __init__(self, pid):
        self.pid = pid
        self.peak = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run)

    def _run(self):
        while not self._stop.is_set():
            self.peak = max(self.peak, rss_kib(self.pid))
            time.sleep(0.05)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


def main():
    import testhosts

    reason = testhosts.skip_reason()
    if reason:
        print("cannot run: %s" % reason)
        return 1
    frame_mib = int(os.environ.get("FRAME_MIB", "1024"))
    partial_mib = int(os.environ.get("PARTIAL_MIB", "600"))
    hold = float(os.environ.get("HOLD_S", "5"))
    with testhosts.TestNetwork(2, subnet="10.213.61") as net:
        a, b = net.hosts
        service = net.start_service(a, "secret", "alpha")
        time.sleep(2)
        pid = service.proc.pid

        def answers():
            started = time.monotonic()
            status, _, _ = net.run(a, net.ctl_path, "-m", a.metadir if hasattr(a, "metadir") else service.metadir,
                                   "devices", timeout=30)
            return status == 0, time.monotonic() - started

        print("baseline VmRSS: %d MiB" % (rss_kib(pid) // 1024))
        for label, kind, mib in (("one %d MiB frame" % frame_mib, "whole", frame_mib),
                                 ("three unfinished %d MiB frames" % partial_mib, "partial", partial_mib)):
            with PeakRss(pid) as peak:
                out = subprocess.run(["ip", "netns", "exec", b.netns, sys.executable, os.path.abspath(__file__),
                                      "--send", a.address, kind, str(mib), str(hold)],
                                     capture_output=True, text=True, timeout=600)
            time.sleep(1)
            ok, seconds = answers()
            print("%s: peak VmRSS %d MiB, after %d MiB; devices answered: %s (%.1f s)%s"
                  % (label, peak.peak // 1024, rss_kib(pid) // 1024, ok, seconds,
                     ("; sender: " + out.stdout.strip()) if out.stdout.strip() else ""))
        net.stop_service(a)
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--send":
        sender_main(sys.argv[2:])
    else:
        sys.exit(main())
