#!/usr/bin/env python3
"""Holds a network of test hosts (tests/e2e/testhosts.py) open for a shell script.

    python3 bench/testnet.py COUNT SUBNET

Builds TestNetwork(COUNT, SUBNET), prints one line per host, "NETNS ADDRESS",
then a line "ready", and keeps the network until standard input closes or
SIGTERM arrives; then it deletes every namespace it made.  The script runs its
own processes in the hosts and stops them before this exits.  Nothing is made
in the machine's own network namespace.
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

import testhosts  # noqa: E402


def main():
    count, subnet = int(sys.argv[1]), sys.argv[2]
    reason = testhosts.skip_reason()
    if reason:
        print(reason, file=sys.stderr)
        return 2
    with testhosts.TestNetwork(count, subnet=subnet, label="bench") as net:
        for host in net.hosts:
            print(host.netns, host.address, flush=True)
        print("ready", flush=True)
        try:
            sys.stdin.read()  # until the script closes its end
        except KeyboardInterrupt:  # SIGTERM, turned into an unwind by TestNetwork
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
