"""End-to-end: the desktop's first start and a trust request it accepts.

Two test hosts on their own bridge (10.213.41.0/24): alpha runs headless,
bravo runs `morvex` with its desktop on an X server (Xvfb) started in its
own namespace. bravo's first start is set up in the setup wizard, typed
into as its user would; alpha then asks bravo for trust from the command
line, and on bravo's screen the confirmation dialog opens and is accepted
with the keyboard; both devices then trust each other. A wizard cancelled
leaves no identity and ends the start. See README.md in this folder.
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
WIZARD_TITLE = "Morvex setup wizard"


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

    def answer_wizard(self, *keys):
        """Types `keys` into the setup wizard once it shows."""
        found = self.xdotool("search", "--sync", "--onlyvisible", "--name", "^%s$" % WIZARD_TITLE)
        if found.returncode != 0:
            raise AssertionError("no setup wizard on the screen: %s" % found.stderr)
        window = found.stdout.split()[0]
        for key in keys:
            typed = self.xdotool("windowfocus", "--sync", window, "key", "--clearmodifiers", key)
            if typed.returncode != 0:
                raise AssertionError("could not type %s into the wizard: %s" % (key, typed.stderr))

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
            # bravo's first start asks in the setup wizard, which starts from
            # what the command line gave: the typical way is Next, Next,
            # Finish.
            net.start_service(net.hosts[1], "p1", "bravo", display=DISPLAY, wait=False)
            xserver.answer_wizard("Return", "Return", "Return")
            net.wait_running(net.hosts[1])
            b = Peer(net.hosts[1], "bravo", net.ctl_json(net.hosts[1], "id", "--json")["uuid"])
            self.assertEqual(net.ctl_json(net.hosts[1], "id", "--json")["route_port"], 9527)
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

    def test_a_first_start_whose_setup_wizard_is_cancelled_stores_nothing_and_ends(self):
        with NET.scenario(self.id(), check_clean_stop=False) as net:
            xserver = XServer(net.hosts[1])
            self.addCleanup(xserver.close)
            service = net.start_service(net.hosts[1], "p1", "bravo", display=DISPLAY, wait=False)
            xserver.answer_wizard("Escape")
            status = service.proc.wait(20)
            self.assertNotEqual(status, 0, "the start went on without an identity")
            self.assertIn("the setup was cancelled: nothing was stored", service.output())
            status, out, err = net.ctl(net.hosts[1], "id", "--json")
            self.assertNotEqual(status, 0, "an identity was stored: %s" % out)


if __name__ == "__main__":
    unittest.main()
