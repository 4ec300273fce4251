"""End-to-end: the desktop accepts a trust request.

Two test hosts on their own bridge (10.213.41.0/24): alpha runs headless,
bravo runs `morvex` with its desktop on an X server (Xvfb) started in its
own namespace. alpha asks bravo for trust from the command line; on
bravo's screen the confirmation dialog opens and is accepted with the
keyboard, as its user would; both devices then trust each other. See
README.md in this folder.
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testhosts  # noqa: E402
from testhosts import wait_until  # noqa: E402
from test_peer import Peer, ctl_ok, start, wait_entry  # noqa: E402

NEEDED = ("Xvfb", "xdotool")
SKIP = testhosts.skip_reason() or next(("%s is not installed" % p for p in NEEDED if not shutil.which(p)), None)
NET = None
DISPLAY = ":47"
CONFIRM_TITLE = "Trust request"


def setUpModule():
    global NET
    NET = testhosts.open_network(2, "10.213.41")


def tearDownModule():
    if NET is not None:
        NET.close()


class XServer:
    """Xvfb on DISPLAY inside one test host's namespace."""

    def __init__(self, host):
        self.host = host
        self.socket = "/tmp/.X11-unix/X%s" % DISPLAY[1:]
        if os.path.exists(self.socket):
            raise unittest.SkipTest("display %s is taken on this machine" % DISPLAY)
        self.proc = subprocess.Popen(["ip", "netns", "exec", host.netns, "Xvfb", DISPLAY, "-nolisten", "tcp",
                                      "-screen", "0", "1280x800x24"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        wait_until(lambda: os.path.exists(self.socket), 10, what="Xvfb listens on %s" % DISPLAY)

    def xdotool(self, *args, timeout=20):
        return subprocess.run(["ip", "netns", "exec", self.host.netns, "xdotool"] + list(args),
                              env=dict(os.environ, DISPLAY=DISPLAY), capture_output=True, text=True,
                              timeout=timeout)

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


@unittest.skipIf(SKIP, SKIP)
class DesktopTrustTest(unittest.TestCase):

    def test_a_trust_request_accepted_in_the_desktops_dialog_makes_both_trust(self):
        with NET.scenario(self.id()) as net:
            xserver = XServer(net.hosts[1])
            self.addCleanup(xserver.close)
            (a,) = start(net, (net.hosts[0], "p1", "alpha"))
            # bravo's identity is made headless first: a first start with a
            # display would ask in the setup wizard.
            net.start_service(net.hosts[1], "p1", "bravo")
            metadir = net.hosts[1].service.metadir
            net.stop_service(net.hosts[1])
            net.start_service(net.hosts[1], "p1", "bravo", metadir=metadir, display=DISPLAY)
            b = Peer(net.hosts[1], "bravo", net.ctl_json(net.hosts[1], "id", "--json")["uuid"])
            wait_entry(net, a, b, timeout=15, online=True)
            wait_entry(net, b, a, timeout=15, online=True)

            ctl_ok(self, net, a, "trust", "request", b.name)
            found = xserver.xdotool("search", "--sync", "--onlyvisible", "--name", "^%s$" % CONFIRM_TITLE)
            self.assertEqual(found.returncode, 0, "no confirmation dialog on bravo's screen: %s" % found.stderr)
            window = found.stdout.split()[0]
            # Its default button trusts the device: Return, typed into the
            # dialog as a user would.
            focused = xserver.xdotool("windowfocus", "--sync", window)
            self.assertEqual(focused.returncode, 0, focused.stderr)
            typed = xserver.xdotool("key", "--clearmodifiers", "Return")
            self.assertEqual(typed.returncode, 0, typed.stderr)

            wait_entry(net, a, b, trusted=True)
            wait_entry(net, b, a, trusted=True)
            # The dialog is gone once answered.
            gone = wait_until(lambda: xserver.xdotool("search", "--onlyvisible", "--name",
                                                      "^%s$" % CONFIRM_TITLE).returncode != 0,
                              10, what="the confirmation dialog closes")
            self.assertTrue(gone)


if __name__ == "__main__":
    unittest.main()
