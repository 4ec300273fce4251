"""End-to-end: discovery and the trust handshake between real services.

Three test hosts share one bridge for the whole module; every scenario starts
fresh services (new metadirs, new identities) and stops them at its end, so
scenarios do not depend on each other.  See README.md in this folder.
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testhosts  # noqa: E402
from testhosts import wait_until  # noqa: E402

SKIP = testhosts.skip_reason()
NET = None

DISCOVERY_TIMEOUT = 15.0  # services with one password list each other within this
SETTLE = 5.0              # a trust change shows on both sides within this


def setUpModule():
    global NET
    NET = testhosts.open_network(3, "10.213.7")


def tearDownModule():
    if NET is not None:
        NET.close()


class Peer:
    """A started service as the scenarios see it."""

    def __init__(self, host, name, uuid):
        self.host, self.name, self.uuid = host, name, uuid

    def __repr__(self):
        return "%s(%s)" % (self.name, self.uuid)


def start(net, *specs):
    """Starts one service per (host, password, name), one after the other so
    that each later start's broadcast finds the earlier ones listening;
    returns Peers."""
    peers = []
    for host, password, name in specs:
        net.start_service(host, password, name)
        ident = wait_until(lambda: net.ctl_json(host, "id", "--json"), 5, what="%s answers id" % name)
        if ident.get("name") != name:
            raise AssertionError("%s: id says %r" % (name, ident))
        peers.append(Peer(host, name, ident["uuid"]))
    return peers


def devices(net, peer):
    """peer's device list, by uuid."""
    listed = net.ctl_json(peer.host, "devices", "--json")
    by_uuid = {d["uuid"]: d for d in listed}
    if len(by_uuid) != len(listed):
        raise AssertionError("%s lists a device twice: %r" % (peer.name, listed))
    return by_uuid


def entry(net, peer, other):
    """What peer lists for other (None when not listed)."""
    return devices(net, peer).get(other.uuid)


def matches(found, expected):
    return found is not None and all(found.get(k) == v for k, v in expected.items())


def wait_entry(net, peer, other, timeout=SETTLE, **expected):
    """Waits until peer lists other with the expected fields; returns the entry."""
    return wait_until(lambda: (lambda e: e if matches(e, expected) else None)(entry(net, peer, other)),
                      timeout, what="%s lists %s with %s" % (peer.name, other.name, expected))


def ctl_ok(test, net, peer, *args):
    status, out, err = net.ctl(peer.host, *args)
    test.assertEqual(status, 0, "morvexctl %s on %s: %s" % (" ".join(args), peer.name, err.strip()))
    return out


def start_pair(net):
    """alpha and bravo, password p1, once each lists the other."""
    a, b = start(net, (net.hosts[0], "p1", "alpha"), (net.hosts[1], "p1", "bravo"))
    wait_entry(net, a, b, timeout=DISCOVERY_TIMEOUT, online=True)
    wait_entry(net, b, a, timeout=DISCOVERY_TIMEOUT, online=True)
    return a, b


def assert_untrusted(test, net, a, b):
    for peer, other in ((a, b), (b, a)):
        found = entry(net, peer, other)
        test.assertIsNotNone(found, "%s no longer lists %s" % (peer.name, other.name))
        test.assertFalse(found["trusted"], "%s trusts %s: %r" % (peer.name, other.name, found))
        test.assertNotEqual(found["pair"], "PAIR", "%s: %r" % (peer.name, found))


def handshake(test, net, a, b):
    """a asks b by name, b accepts; both end up trusting each other."""
    ctl_ok(test, net, a, "trust", "request", b.name)
    wait_entry(net, a, b, pair="WAIT", trusted=False)
    wait_entry(net, b, a, pair="ACK", trusted=False)
    ctl_ok(test, net, b, "trust", "accept", a.name)
    wait_entry(net, a, b, pair="PAIR", trusted=True)
    wait_entry(net, b, a, pair="PAIR", trusted=True)


@unittest.skipIf(SKIP, SKIP)
class DiscoveryTest(unittest.TestCase):

    def test_same_password_devices_find_each_other_and_no_one_else(self):
        with NET.scenario(self.id()) as net:
            a, b, c = start(net, (net.hosts[0], "p1", "alpha"), (net.hosts[1], "p1", "bravo"),
                            (net.hosts[2], "p2", "charlie"))
            seen = []  # every (peer, listing) polled, to check C never shows up

            def poll():
                lists = {p.name: devices(net, p) for p in (a, b, c)}
                seen.append(lists)
                return lists

            wait_until(lambda: (lambda l: b.uuid in l["alpha"] and a.uuid in l["bravo"])(poll()),
                       DISCOVERY_TIMEOUT, what="alpha and bravo list each other")
            quiet_until = time.monotonic() + 3
            while time.monotonic() < quiet_until:
                poll()
                time.sleep(0.3)
            last = seen[-1]

            for peer, other in ((a, b), (b, a)):
                mine = last[peer.name]
                self.assertTrue(matches(mine.get(other.uuid), {"online": True, "trusted": False, "pair": "NONE",
                                                               "self": False}),
                                "%s's entry for %s: %r" % (peer.name, other.name, mine.get(other.uuid)))
                self.assertTrue(matches(mine.get(peer.uuid), {"self": True, "pair": "PAIR"}),
                                "%s's own entry: %r" % (peer.name, mine.get(peer.uuid)))
            for lists in seen:
                for name in ("alpha", "bravo"):
                    self.assertNotIn(c.uuid, lists[name], "%s lists charlie (other password)" % name)
                    self.assertNotIn("charlie", [d["name"] for d in lists[name].values()])
                self.assertEqual(list(lists["charlie"]), [c.uuid], "charlie lists others: %r" % lists["charlie"])
                self.assertTrue(lists["charlie"][c.uuid]["self"])

            # Both are told, once, that the device at charlie's address uses another password.
            for peer, others in ((a, (c,)), (b, (c,))):
                def told():
                    events = net.ctl_json(peer.host, "--json", "events") or []
                    return sorted(e["detail"] for e in events if e["kind"] == "other-password")
                want = sorted(o.host.address for o in others)
                wait_until(lambda: told() == want, DISCOVERY_TIMEOUT,
                           what="%s's events name %s as using another password" % (peer.name, want))


@unittest.skipIf(SKIP, SKIP)
class TrustTest(unittest.TestCase):

    def test_request_and_accept_makes_both_sides_trusted(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            handshake(self, net, a, b)

    def test_deny_refuses_and_deny_on_the_asking_side_cancels(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            # b refuses a's request
            ctl_ok(self, net, a, "trust", "request", b.uuid)
            wait_entry(net, b, a, pair="ACK")
            ctl_ok(self, net, b, "trust", "deny", a.uuid)
            wait_entry(net, a, b, pair="NONE", trusted=False)
            wait_entry(net, b, a, pair="NONE", trusted=False)
            # a asks again, then withdraws
            ctl_ok(self, net, a, "trust", "request", b.uuid)
            wait_entry(net, b, a, pair="ACK")
            ctl_ok(self, net, a, "trust", "deny", b.uuid)
            wait_until(lambda: entry(net, b, a)["pair"] != "ACK", SETTLE, what="bravo drops alpha's request")
            wait_entry(net, a, b, pair="NONE", trusted=False)
            status, _, err = net.ctl(b.host, "trust", "accept", a.uuid)
            self.assertEqual(status, 1, "accepting a withdrawn request: %s" % err.strip())
            assert_untrusted(self, net, a, b)

    def test_a_request_expires(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            sent = time.monotonic()
            ctl_ok(self, net, a, "trust", "request", b.name, "--timeout", "2")
            wait_entry(net, b, a, timeout=2, pair="ACK")  # it did arrive
            time.sleep(max(0.0, sent + 4 - time.monotonic()))
            status, _, err = net.ctl(b.host, "trust", "accept", a.name)
            self.assertEqual(status, 1, "accepting an expired request: %s" % err.strip())
            self.assertIn("no trust request of %s is waiting here" % a.name, err)
            assert_untrusted(self, net, a, b)

    def test_revoke_ends_trust_on_both_sides(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            handshake(self, net, a, b)
            ctl_ok(self, net, a, "trust", "revoke", b.uuid[:8])
            wait_entry(net, a, b, pair="NONE", trusted=False)
            wait_entry(net, b, a, pair="NONE", trusted=False)


if __name__ == "__main__":
    unittest.main()
