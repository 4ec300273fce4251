"""End-to-end: linked folders on two test hosts converge.

Each scenario starts two fresh services that trust each other, makes a sync
folder on both (raw administration requests through e2e_admin, as the link
wizard sends them), links them, and compares the two trees by content,
type and permission bits.  See README.md in this folder.
"""

import contextlib
import json
import os
import sys
import tempfile
import time
import shutil
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testhosts  # noqa: E402
from testhosts import snapshot, wait_until, write  # noqa: E402
from test_peer import ctl_ok, handshake, start_pair  # noqa: E402

SKIP = testhosts.skip_reason()
NET = None
CONVERGE = 60.0  # linked trees are equal within this after a change


def setUpModule():
    global NET
    NET = testhosts.open_network(2, "10.213.8", programs=("morvex", "e2e_admin"))


def tearDownModule():
    if NET is not None:
        NET.close()


class Linked:
    """Two trusting services with one sync folder linked between them."""

    def __init__(self, test, net):
        self.net = net
        self.a, self.b = start_pair(net)
        handshake(test, net, self.a, self.b)
        self.work = tempfile.mkdtemp(prefix="mvx-sync-")
        self.roots = {self.a.name: os.path.join(self.work, "alpha folder"),
                      self.b.name: os.path.join(self.work, "bravo folder")}
        self.trees = {self.a.name: str(uuid.uuid4()), self.b.name: str(uuid.uuid4())}
        self.sync_uuid = str(uuid.uuid4())
        for root in self.roots.values():
            os.makedirs(root)

    def admin(self, peer, *args):
        status, out, err = self.net.run(peer.host, self.net.binary("e2e_admin"), peer.host.service.metadir, *args)
        if status != 0:
            raise AssertionError("e2e_admin %s on %s: %s %s" % (" ".join(args), peer.name, status, err.strip()))

    def link(self):
        for peer in (self.a, self.b):
            self.admin(peer, "tree-add", self.sync_uuid, self.trees[peer.name], self.roots[peer.name])
        for peer, other in ((self.a, self.b), (self.b, self.a)):
            self.admin(peer, "sync-add", self.trees[peer.name], self.sync_uuid, self.trees[other.name],
                       self.roots[other.name], other.uuid)

    def sync_once(self, peer):
        other = self.b if peer is self.a else self.a
        self.admin(peer, "sync-once", self.trees[peer.name], self.trees[other.name])

    def root(self, peer):
        return self.roots[peer.name]

    def wait_equal(self, expect=None, timeout=CONVERGE, nudge=None):
        """Waits until both trees are equal (and, with `expect`, equal to
        it); `nudge` peers get a pass requested every few seconds."""
        state = {"last": 0.0}

        def equal():
            if nudge and time_since(state) > 5:
                for peer in nudge:
                    self.sync_once(peer)
            a, b = snapshot(self.root(self.a)), snapshot(self.root(self.b))
            if a != b:
                return None
            if expect is not None and set(a) != set(expect):
                return None
            return a

        try:
            return wait_until(equal, timeout, interval=0.5, what="both trees equal")
        except AssertionError as exc:
            a, b = snapshot(self.root(self.a)), snapshot(self.root(self.b))
            only = {k: (a.get(k), b.get(k)) for k in set(a) | set(b) if a.get(k) != b.get(k)}
            raise AssertionError("%s; differences (alpha, bravo): %r" % (exc, only))

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)


def time_since(state):
    import time
    now = time.monotonic()
    if now - state["last"] > 5:
        state["last"] = now
        return 10
    return 0


@unittest.skipIf(SKIP, SKIP)
class ConvergeTest(unittest.TestCase):

    def test_linked_folders_converge_both_ways(self):
        with NET.scenario(self.id()) as net:
            pair = Linked(self, net)
            try:
                ra = pair.root(pair.a)
                write(os.path.join(ra, "top.txt"), b"top level\n")
                write(os.path.join(ra, "empty"), b"")
                write(os.path.join(ra, "nested", "deeper", "leaf.bin"), os.urandom(3 * 1024 * 1024 + 123))
                write(os.path.join(ra, "with space", "größe ü.txt"), "nicht ASCII\n".encode())
                write(os.path.join(ra, "private.key"), b"secret\n", mode=0o600)
                write(os.path.join(ra, "script.sh"), b"#!/bin/sh\necho hi\n", mode=0o755)
                os.makedirs(os.path.join(ra, "empty dir"))
                expected = snapshot(ra)
                pair.link()
                pair.sync_once(pair.b)
                got = pair.wait_equal(expected, nudge=[pair.b])
                self.assertEqual(got[os.path.join("nested", "deeper", "leaf.bin")], expected[os.path.join("nested", "deeper", "leaf.bin")])
                self.assertEqual(got["private.key"][2], 0o600)
                self.assertEqual(got["script.sh"][2], 0o755)

                # Changes on bravo flow back: an edit, a deletion, a rename,
                # a permission change.
                rb = pair.root(pair.b)
                write(os.path.join(rb, "top.txt"), b"edited on bravo\n")
                os.remove(os.path.join(rb, "empty"))
                os.rename(os.path.join(rb, "with space"), os.path.join(rb, "renamed"))
                os.chmod(os.path.join(rb, "script.sh"), 0o700)
                want = snapshot(rb)
                got = pair.wait_equal(want, nudge=[pair.a])
                self.assertEqual(got["script.sh"][2], 0o700)
                with open(os.path.join(ra, "top.txt"), "rb") as f:
                    self.assertEqual(f.read(), b"edited on bravo\n")
                for rel in got:
                    self.assertFalse(rel.endswith(".~morvex"), rel)
            finally:
                pair.close()

    def test_concurrent_edit_ends_with_the_same_two_files_on_both(self):
        with NET.scenario(self.id()) as net:
            pair = Linked(self, net)
            try:
                ra, rb = pair.root(pair.a), pair.root(pair.b)
                write(os.path.join(ra, "notes.txt"), b"original\n")
                write(os.path.join(ra, "gone.txt"), b"to be deleted on alpha, edited on bravo\n")
                pair.link()
                pair.sync_once(pair.b)
                pair.wait_equal(nudge=[pair.b])

                net.set_link(pair.b.host, False)
                try:
                    write(os.path.join(ra, "notes.txt"), b"alpha's version\n")
                    write(os.path.join(rb, "notes.txt"), b"bravo's version, longer\n")
                    os.remove(os.path.join(ra, "gone.txt"))
                    write(os.path.join(rb, "gone.txt"), b"kept: edited on bravo\n")
                    import time
                    time.sleep(4)  # both indexers record their side
                finally:
                    net.set_link(pair.b.host, True)
                got = pair.wait_equal(nudge=[pair.a, pair.b])
                contents = {}
                for rel in got:
                    with open(os.path.join(ra, rel), "rb") as f:
                        contents[rel] = f.read()
                self.assertEqual(contents.get("gone.txt"), b"kept: edited on bravo\n")
                versions = sorted(v for k, v in contents.items() if k.startswith("notes"))
                self.assertEqual(versions, [b"alpha's version\n", b"bravo's version, longer\n"], contents)
                self.assertIn("notes(Conflict).txt", contents)
                # The side that made the copy keeps it in its event history, naming the copy and the peer.
                copies = []
                for peer, other in ((pair.a, pair.b), (pair.b, pair.a)):
                    for event in json.loads(ctl_ok(self, net, peer, "--json", "events")):
                        if event["kind"] == "conflict-copy":
                            copies.append((event["detail"], event["device_uuid"], other.uuid))
                self.assertTrue(copies, "no conflict-copy event on either side")
                for detail, device, other in copies:
                    self.assertTrue(detail.endswith("notes(Conflict).txt"), detail)
                    self.assertEqual(device, other)
            finally:
                pair.close()


@unittest.skipIf(SKIP, SKIP)
class FaultTest(unittest.TestCase):

    def wait_partial(self, root, name, since):
        """Waits until a download of `name` started after `since` (its
        temporary file was written since then and holds a few MiB)."""
        temp = os.path.join(root, name + ".~morvex")

        def started():
            with contextlib.suppress(OSError):
                info = os.stat(temp)
                return info.st_mtime > since and info.st_size > 4 * 1024 * 1024
            return False
        wait_until(started, 30, interval=0.02, what="a download of %s has started" % name)

    def test_a_service_killed_during_a_transfer_loses_nothing_and_completes(self):
        with NET.scenario(self.id()) as net:
            pair = Linked(self, net)
            try:
                ra, rb = pair.root(pair.a), pair.root(pair.b)
                big = os.urandom(1024 * 1024) * 400  # 400 MiB: a transfer that takes a while
                write(os.path.join(ra, "big.bin"), big)
                write(os.path.join(ra, "small.txt"), b"small\n")
                expected = snapshot(ra)
                pair.link()

                # The puller dies mid-transfer: nothing unverified at the final name.
                pair.sync_once(pair.b)
                self.wait_partial(rb, "big.bin", time.time() - 1)
                metadir = net.kill_service(pair.b.host)
                self.assertFalse(os.path.exists(os.path.join(rb, "big.bin")), "a partial file at its final name")
                restarted = time.time()
                net.start_service(pair.b.host, "p1", pair.b.name, metadir=metadir)

                # The server dies mid-transfer; the puller gives up and retries.
                pair.sync_once(pair.b)
                self.wait_partial(rb, "big.bin", restarted)
                metadir = net.kill_service(pair.a.host)
                self.assertFalse(os.path.exists(os.path.join(rb, "big.bin")), "a partial file at its final name")
                net.start_service(pair.a.host, "p1", pair.a.name, metadir=metadir)

                got = pair.wait_equal(expected, timeout=120, nudge=[pair.b])
                self.assertEqual(got["big.bin"], expected["big.bin"])
                self.assertFalse([n for n in os.listdir(rb) if n.endswith(".~morvex")])
            finally:
                pair.close()


if __name__ == "__main__":
    unittest.main()
