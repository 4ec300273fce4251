"""End-to-end: the multi-host suite, driven with `morvexctl` alone.

Three test hosts on one bridge (10.213.11.0/24) serve the whole module.  Every
scenario starts fresh services (new metadirs, new identities), makes them
trust each other with `trust request`/`trust accept`, makes a sync folder with
`folder add` on one device and links it with `link` on another, lets the
services settle (`wait`, `sync-now` only where a user would have to), and
compares the trees by SHA-1 of every file, type and permission bits.  See
README.md in this folder.
"""

import contextlib
import hashlib
import json
import os
import subprocess
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testhosts  # noqa: E402
from testhosts import digest, snapshot, wait_until, write  # noqa: E402
from test_peer import ctl_ok, devices, handshake, start, wait_entry  # noqa: E402

SKIP = testhosts.skip_reason()
NET = None
DISCOVERY = 15.0   # devices with one password list each other within this
CONVERGE = 60.0    # linked trees are equal within this after a change
MIB = 1024 * 1024
TEMP_SUFFIX = ".~morvex"


def setUpModule():
    global NET
    NET = testhosts.open_network(3, "10.213.11")


def tearDownModule():
    if NET is not None:
        NET.close()


# ----- trees -----

def replace(path, data):
    """Writes a new version beside `path` and renames it over, as editors do."""
    temp = os.path.join(os.path.dirname(path), ".new-" + os.path.basename(path))
    with open(temp, "wb") as f:
        f.write(data)
    os.rename(temp, path)


def write_random(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for _ in range(size // MIB):
            f.write(os.urandom(MIB))
        f.write(os.urandom(size % MIB))


def sha1(data):
    return hashlib.sha1(data).hexdigest()


def leftovers(root):
    return [rel for rel in snapshot(root) if rel.endswith(TEMP_SUFFIX)]


def differences(snapshots):
    keys = set().union(*snapshots)
    return {k: tuple(s.get(k) for s in snapshots) for k in sorted(keys)
            if len({s.get(k) for s in snapshots}) > 1}


def converge(roots, expect=None, timeout=CONVERGE, check=None, nudge=None):
    """Waits until the trees under `roots` are equal (and, given `expect`,
    equal to it); returns the common snapshot.  `check(snapshots)` runs on
    every poll; `nudge()` runs every 10 s while they differ."""
    state = {"nudged": time.monotonic()}

    def equal():
        snaps = [snapshot(r) for r in roots]
        if check:
            check(snaps)
        if all(s == snaps[0] for s in snaps) and (expect is None or snaps[0] == expect):
            return snaps[0]
        if nudge and time.monotonic() - state["nudged"] > 10:
            state["nudged"] = time.monotonic()
            nudge()
        return None

    try:
        return wait_until(equal, timeout, interval=0.3, what="the trees equal")
    except AssertionError as exc:
        snaps = [snapshot(r) for r in roots] + ([expect] if expect is not None else [])
        raise AssertionError("%s; differences (%s%s): %r" % (exc, ", ".join(roots), ", expected" if expect else "",
                                                             differences(snaps))) from None


# ----- devices -----

def online_pair(net, x, y):
    wait_entry(net, x, y, timeout=DISCOVERY, online=True)
    wait_entry(net, y, x, timeout=DISCOVERY, online=True)


def share(test, net, peer, root):
    """`folder add` on peer: root becomes a sync folder; returns its entry."""
    tree = net.ctl_json(peer.host, "folder", "add", root, "--json")
    test.assertEqual(tree["root"], root)
    return tree


def link(test, net, peer, owner, remote, root):
    """`link` on peer: owner's sync folder `remote` with root (made empty)."""
    os.makedirs(root, exist_ok=True)
    return net.ctl_json(peer.host, "link", owner.name, remote, root, "--json")


def settled(test, net, peers, roots, got):
    """Once every peer is idle the trees still equal `got`."""
    for peer in peers:
        idle(test, net, peer)
    for root in roots:
        test.assertEqual(snapshot(root), got, root)


def idle(test, net, peer, root=None, timeout=60, peer_away=False):
    """`wait` until nothing is left to do. With `peer_away` the link is cut:
    a pass that found the peer unreachable ends the wait with 5, which is
    as done as it gets while apart."""
    args = ["wait"] + ([root] if root else []) + ["--timeout", str(timeout)]
    status, _, err = net.ctl(peer.host, *args, timeout=timeout + 10)
    test.assertIn(status, (0, 5) if peer_away else (0,), "morvexctl wait on %s: %s" % (peer.name, err.strip()))


def ask_pass(test, net, peer):
    """`sync-now` once the link is back: a peer still shown offline, or
    whose connection is still being rebuilt, is 5 and asks for the next
    nudge, not a failure of the test."""
    status, _, err = net.ctl(peer.host, "sync-now")
    test.assertIn(status, (0, 5), "morvexctl sync-now on %s: %s" % (peer.name, err.strip()))


class SuiteTest(unittest.TestCase):
    """A scratch folder for the sync folders of one scenario."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mvx-suite-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def path(self, *parts):
        return os.path.join(self.work, *parts)

    def pair(self, net):
        """alpha on a and bravo on b, trusting each other."""
        a, b = start(net, (net.hosts[0], "p1", "alpha"), (net.hosts[1], "p1", "bravo"))
        online_pair(net, a, b)
        handshake(self, net, a, b)
        return a, b

    def linked(self, net, files):
        """A trusting pair; alpha's folder holding `files` ({rel: bytes})
        shared and linked on bravo, both trees equal.  Returns a, b, ra, rb."""
        a, b = self.pair(net)
        ra, rb = self.path("alpha"), self.path("bravo")
        os.makedirs(ra)
        for rel, data in files.items():
            write(os.path.join(ra, rel), data)
        expected = snapshot(ra)
        tree = share(self, net, a, ra)
        link(self, net, b, a, tree["tree_uuid"], rb)
        converge([ra, rb], expected)
        return a, b, ra, rb


@unittest.skipIf(SKIP, SKIP)
class Test1Share(SuiteTest):

    def test_1_a_new_folder_reaches_a_linked_device_whole(self):
        with NET.scenario(self.id()) as net:
            a, b = self.pair(net)
            ra = self.path("alpha docs")
            write(os.path.join(ra, "top.txt"), b"top level\n")
            write(os.path.join(ra, "empty"), b"")
            write(os.path.join(ra, "nested", "deeper", "deepest", "leaf.bin"), os.urandom(300 * 1024 + 7))
            write(os.path.join(ra, "nested", "deeper", "zero.dat"), b"")
            os.makedirs(os.path.join(ra, "nested", "empty dir"))
            write_random(os.path.join(ra, "big", "fifty.bin"), 50 * MIB)
            write(os.path.join(ra, "with space", "größe ü 文件.txt"), "nicht ASCII, 非ASCII\n".encode())
            write(os.path.join(ra, "Ärger", "naïve café.md"), b"# caf\xc3\xa9\n")
            write(os.path.join(ra, "private.key"), b"secret\n", mode=0o600)
            write(os.path.join(ra, "run.sh"), b"#!/bin/sh\necho hi\n", mode=0o755)
            write(os.path.join(ra, "locked", "inner.txt"), b"inside a 0700 folder\n", mode=0o640)
            os.chmod(os.path.join(ra, "locked"), 0o700)
            expected = snapshot(ra)

            tree = share(self, net, a, ra)
            rb = self.path("bravo copy")
            relation = link(self, net, b, a, tree["tree_uuid"], rb)
            self.assertEqual((relation["remote_tree_uuid"], relation["local_root"]), (tree["tree_uuid"], rb))
            converge([ra, rb], expected)
            idle(self, net, b, rb)
            got = snapshot(rb)
            self.assertEqual(got, expected)
            self.assertEqual([got[k][2] for k in ("private.key", "run.sh", "locked")], [0o600, 0o755, 0o700])


@unittest.skipIf(SKIP, SKIP)
class Test2Changes(SuiteTest):

    def test_2_changes_flow_both_ways(self):
        with NET.scenario(self.id()) as net:
            a, b, ra, rb = self.linked(net, {"edit me.txt": b"first\n", "delete me.txt": b"soon gone\n",
                                             "photos/one.jpg": os.urandom(70000), "photos/two.jpg": b"two",
                                             "tool.sh": b"#!/bin/sh\n", "docs/readme.txt": b"docs\n"})
            base = snapshot(ra)
            # On bravo: an edit, a new tree, a permission change.
            write(os.path.join(rb, "edit me.txt"), b"edited on bravo\n")
            write(os.path.join(rb, "new tree", "a", "b", "c.txt"), b"deep\n")
            write(os.path.join(rb, "new tree", "a", "side.bin"), os.urandom(5000))
            os.makedirs(os.path.join(rb, "new tree", "empty"))
            os.chmod(os.path.join(rb, "tool.sh"), 0o750)
            os.chmod(os.path.join(rb, "docs"), 0o700)
            # On alpha: a deletion and a rename of a folder.
            os.remove(os.path.join(ra, "delete me.txt"))
            os.rename(os.path.join(ra, "photos"), os.path.join(ra, "pictures"))

            expected = snapshot(ra)
            for rel, entry in snapshot(rb).items():
                if base.get(rel) != entry:
                    expected[rel] = entry
            self.assertNotIn("delete me.txt", expected)
            got = converge([ra, rb], expected)
            self.assertEqual((got["tool.sh"][2], got["docs"][2]), (0o750, 0o700))
            self.assertEqual(got["edit me.txt"][1], sha1(b"edited on bravo\n"))
            self.assertEqual(got["pictures/one.jpg"], base["photos/one.jpg"])


@unittest.skipIf(SKIP, SKIP)
class Test3Conflict(SuiteTest):

    def test_3_concurrent_edits_while_apart_keep_both_versions(self):
        with NET.scenario(self.id()) as net:
            a, b, ra, rb = self.linked(net, {"notes.txt": b"original\n", "gone.txt": b"to be deleted on alpha\n"})
            net.set_link(b.host, False)
            try:
                write(os.path.join(ra, "notes.txt"), b"alpha's version\n")
                write(os.path.join(rb, "notes.txt"), b"bravo's version, longer\n")
                os.remove(os.path.join(ra, "gone.txt"))
                write(os.path.join(rb, "gone.txt"), b"kept: edited on bravo\n")
                for peer in (a, b):  # both have indexed their side
                    ctl_ok(self, net, peer, "rescan")
                    idle(self, net, peer, peer_away=True)
            finally:
                net.set_link(b.host, True)
            # Change notices sent while apart are lost: the users ask for
            # passes, and again while the trees differ.
            def both():
                ask_pass(self, net, a)
                ask_pass(self, net, b)
            both()
            got = converge([ra, rb], nudge=both)
            settled(self, net, (a, b), (ra, rb), got)
            # A side that showed the other offline shows it online again
            # once it answered, not only at its next announcement.
            online_pair(net, a, b)
            self.assertEqual(set(got), {"notes.txt", "notes(Conflict).txt", "gone.txt"})
            self.assertEqual(got["gone.txt"][1], sha1(b"kept: edited on bravo\n"))
            self.assertEqual({got["notes.txt"][1], got["notes(Conflict).txt"][1]},
                             {sha1(b"alpha's version\n"), sha1(b"bravo's version, longer\n")})


@unittest.skipIf(SKIP, SKIP)
class Test4Chain(SuiteTest):

    def test_4_a_change_on_alpha_reaches_charlie_through_bravo(self):
        with NET.scenario(self.id()) as net:
            a, b, c = start(net, (net.hosts[0], "p1", "alpha"), (net.hosts[1], "p1", "bravo"),
                            (net.hosts[2], "p1", "charlie"))
            online_pair(net, a, b)
            online_pair(net, b, c)
            handshake(self, net, a, b)
            handshake(self, net, b, c)
            ra, rb, rc = self.path("alpha"), self.path("bravo"), self.path("charlie")
            write(os.path.join(ra, "kept.txt"), b"kept\n")
            write(os.path.join(ra, "edited.txt"), b"first\n")
            write(os.path.join(ra, "deleted.txt"), b"soon gone\n")
            expected = snapshot(ra)
            tree = share(self, net, a, ra)
            on_b = link(self, net, b, a, tree["tree_uuid"], rb)
            converge([ra, rb], expected)
            link(self, net, c, b, on_b["local_tree_uuid"], rc)
            converge([ra, rb, rc], expected)
            peers = {p.name: sorted(s["device_name"] for s in net.ctl_json(p.host, "syncs", "--json"))
                     for p in (a, b, c)}
            self.assertEqual(peers, {"alpha": ["bravo"], "bravo": ["alpha", "charlie"], "charlie": ["bravo"]})

            write(os.path.join(ra, "edited.txt"), b"second, from alpha\n")
            os.remove(os.path.join(ra, "deleted.txt"))
            write(os.path.join(ra, "new", "deep.bin"), os.urandom(2 * MIB + 3))
            expected = snapshot(ra)
            converge([ra, rb, rc], expected)


@unittest.skipIf(SKIP, SKIP)
class Test5Faults(SuiteTest):

    def wait_download(self, root, name, since, least=8 * MIB, check=None):
        """Waits until a download of `name` into root, begun after `since`,
        holds at least `least` bytes in its temporary file."""
        temp = os.path.join(root, name + TEMP_SUFFIX)

        def growing():
            if check:
                check(None)
            with contextlib.suppress(OSError):
                info = os.stat(temp)
                return info.st_mtime >= since and info.st_size >= least
            return False
        wait_until(growing, 30, interval=0.01, what="a download of %s has begun" % name)

    def final_is_whole(self, root, name, expected):
        """A check for converge(): whatever stands at root/name is the whole file."""
        def check(_):
            path = os.path.join(root, name)
            with contextlib.suppress(FileNotFoundError):
                self.assertEqual(digest(path), expected, "a partial %s at its final name" % name)
        return check

    def test_5a_a_receiver_killed_mid_transfer_restarts_and_completes(self):
        with NET.scenario(self.id()) as net:
            a, b = self.pair(net)
            ra, rb = self.path("alpha"), self.path("bravo")
            write_random(os.path.join(ra, "big.bin"), 320 * MIB)
            write(os.path.join(ra, "small.txt"), b"small\n")
            write(os.path.join(ra, "dir", "inner.txt"), b"inner\n")
            expected = snapshot(ra)
            whole = self.final_is_whole(rb, "big.bin", expected["big.bin"][1])
            tree = share(self, net, a, ra)
            since = time.time() - 1
            link(self, net, b, a, tree["tree_uuid"], rb)
            self.wait_download(rb, "big.bin", since, check=whole)
            metadir = net.kill_service(b.host)
            whole(None)
            self.assertFalse(os.path.exists(os.path.join(rb, "big.bin")), "a partial file at its final name")
            net.start_service(b.host, "p1", b.name, metadir=metadir)
            # The restarted service takes up its relations by itself.
            converge([ra, rb], expected, timeout=60, check=whole)
            idle(self, net, b, rb)
            self.assertEqual(leftovers(rb), [])

    def test_5b_a_server_gone_mid_pass_comes_back_and_the_trees_converge(self):
        with NET.scenario(self.id()) as net:
            a, b = self.pair(net)
            ra, rb = self.path("alpha"), self.path("bravo")
            write_random(os.path.join(ra, "big.bin"), 200 * MIB)
            write(os.path.join(ra, "small.txt"), b"small\n")
            expected = snapshot(ra)
            whole = self.final_is_whole(rb, "big.bin", expected["big.bin"][1])
            tree = share(self, net, a, ra)
            since = time.time() - 1
            link(self, net, b, a, tree["tree_uuid"], rb)
            self.wait_download(rb, "big.bin", since, check=whole)
            net.set_link(a.host, False)
            try:
                # bravo's pass gives up on the silent peer, and says so.
                state = wait_until(lambda: (lambda s: s if not s["relations"][0]["running"] else None)(
                    net.ctl_json(b.host, "status", "--json")), 60, what="bravo's pass ends")
                self.assertFalse(state["relations"][0]["last_pass_ok"], state)
                whole(None)
            finally:
                net.set_link(a.host, True)
            # The incomplete pass is retried by itself once alpha answers again.
            converge([ra, rb], expected, timeout=90, check=whole)
            self.assertEqual(leftovers(rb), [])

    def test_5c_a_local_edit_during_a_pass_is_not_lost(self):
        with NET.scenario(self.id()) as net:
            a, b, ra, rb = self.linked(net, {"doc.bin": b"first version\n"})
            theirs = os.urandom(160 * MIB)
            mine = b"bravo's local edit\n"
            since = time.time() - 1
            replace(os.path.join(ra, "doc.bin"), theirs)
            self.wait_download(rb, "doc.bin", since, least=2 * MIB)
            write(os.path.join(rb, "doc.bin"), mine)
            got = converge([ra, rb], timeout=60)
            settled(self, net, (a, b), (ra, rb), got)
            versions = {rel: entry[1] for rel, entry in got.items()}
            self.assertIn(set(versions), ({"doc.bin", "doc(Conflict).bin"},), versions)
            self.assertEqual(set(versions.values()), {sha1(theirs), sha1(mine)})


@unittest.skipIf(SKIP, SKIP)
class Test6Hostile(SuiteTest):

    def refused(self, net, host, metadir, text, *args):
        status, out, err = net.run(host, net.ctl_path, "-m", metadir, *args)
        # With --json the failure is also an object on standard output.
        shown = json.loads(out)["error"] if "--json" in args else out
        self.assertEqual((status, shown), (1, "refused" if "--json" in args else ""),
                         "morvexctl %s: %r %r" % (" ".join(args), out, err))
        if text:
            self.assertIn(text, err, "morvexctl %s" % " ".join(args))
        return err

    def test_6a_a_replayed_trust_token_is_refused(self):
        with NET.scenario(self.id()) as net:
            a, b = start(net, (net.hosts[0], "p1", "alpha"), (net.hosts[1], "p1", "bravo"))
            online_pair(net, a, b)
            # bravo's service gives way to e2e_admin on its route port, which
            # keeps the token of alpha's trust offer as a snooping peer would.
            metadir = b.host.service.metadir
            net.stop_service(b.host)
            token = os.path.join(metadir, "token")
            admin = net.binary("e2e_admin")
            catcher = subprocess.Popen(["ip", "netns", "exec", b.host.netns, admin, metadir, "catch-trust-offer", "20",
                                        token], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            try:
                self.assertEqual(catcher.stdout.readline().strip(), "listening")
                ctl_ok(self, net, a, "trust", "request", b.uuid)
                self.assertEqual(catcher.wait(20), 0, catcher.stderr.read())
            finally:
                if catcher.poll() is None:
                    catcher.kill()
                    catcher.wait()

            def redeem():
                status, out, err = net.run(b.host, admin, metadir, "send-trust", a.uuid, token)
                self.assertEqual(status, 0, err)
                return out.strip()

            self.assertEqual(redeem(), "TRUST_ALLOW")  # once, as bravo's accept would
            ctl_ok(self, net, a, "trust", "revoke", b.uuid)
            wait_until(lambda: not devices(net, a)[b.uuid]["trusted"], 10, what="alpha no longer trusts bravo")
            self.assertEqual(redeem(), "TRUST_DENY")  # never twice
            self.assertFalse(devices(net, a)[b.uuid]["trusted"])

    def test_6b_an_untrusted_device_is_refused(self):
        with NET.scenario(self.id()) as net:
            a, b = self.pair(net)
            c, = start(net, (net.hosts[2], "p1", "charlie"))
            online_pair(net, a, c)
            ra, rc = self.path("alpha"), self.path("charlie")
            write(os.path.join(ra, "secret.txt"), b"for bravo only\n")
            tree = share(self, net, a, ra)
            os.makedirs(rc)
            untrusted = "the other device does not trust this device"
            self.refused(net, c.host, c.host.metadir, untrusted, "remote-folders", a.name)
            self.refused(net, c.host, c.host.metadir, "", "remote-ls", a.name, ra)
            self.refused(net, c.host, c.host.metadir, untrusted, "link", a.name, tree["tree_uuid"], rc)
            self.assertEqual(net.ctl_json(a.host, "syncs", "--json"), [])
            self.assertEqual((net.ctl_json(c.host, "folders", "--json"), net.ctl_json(c.host, "syncs", "--json")),
                             ([], []))
            self.assertEqual(os.listdir(rc), [])

    def test_6c_a_client_signing_with_another_devices_key_is_refused(self):
        with NET.scenario(self.id()) as net:
            a, b = self.pair(net)
            ctl_ok(self, net, a, "status")  # alpha's own key is accepted
            # In alpha's host, localhost is alpha's service; bravo's key signs.
            for args in (["status"], ["status", "--json"]):
                self.refused(net, a.host, b.host.metadir, "", *args)
            sneaky = self.path("sneaky")
            os.makedirs(sneaky)
            self.refused(net, a.host, b.host.metadir, "", "folder", "add", sneaky)
            self.assertEqual(net.ctl_json(a.host, "folders", "--json"), [])
            self.assertEqual(net.ctl_json(b.host, "folders", "--json"), [])


if __name__ == "__main__":
    unittest.main()
