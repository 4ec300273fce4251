"""End-to-end: the folder and link commands of `morvexctl`.

Two trusting services on two test hosts: one makes a sync folder, the other
finds it with `remote-folders`, links a folder of its own to it, and the two
trees converge; then the relation and the folder are removed again, all with
`morvexctl` alone.  A second scenario checks usage errors (exit 2), the
messages of refused input (exit 1) and of a peer that does not answer
(exit 5).  A third changes a device's port and name with `config set` and
sees the other device use them.  See README.md in this folder.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testhosts  # noqa: E402
from testhosts import snapshot, wait_until, write  # noqa: E402
from test_peer import ctl_ok, handshake, start_pair  # noqa: E402

SKIP = testhosts.skip_reason()
NET = None
CONVERGE = 30.0  # a few small files
SETTLE = 5.0     # a relation removed on one side is gone on the other within this


def setUpModule():
    global NET
    NET = testhosts.open_network(2, "10.213.9")


def tearDownModule():
    if NET is not None:
        NET.close()


def by_root(entries):
    return {e["root"]: e for e in entries}


def is_uuid(text):
    try:
        return str(uuid.UUID(text)) == text
    except (TypeError, ValueError):
        return False


@unittest.skipIf(SKIP, SKIP)
class FolderLinkTest(unittest.TestCase):

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mvx-cli-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def test_a_folder_found_from_a_peer_links_converges_and_comes_apart_keeping_its_files(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            handshake(self, net, a, b)
            ra = os.path.join(self.work, "alpha folder")
            write(os.path.join(ra, "top.txt"), b"top level\n")
            write(os.path.join(ra, "empty"), b"")
            write(os.path.join(ra, "nested", "deeper", "leaf.bin"), os.urandom(200 * 1024 + 7))
            write(os.path.join(ra, "with space", "größe ü.txt"), "nicht ASCII\n".encode())
            os.makedirs(os.path.join(ra, "empty dir"))
            expected = snapshot(ra)

            # A relative path is taken against the current folder.
            status, out, err = net.run(a.host, "sh", "-c", 'cd "$1" && exec "$2" -m "$3" --json folder add "alpha folder/"',
                                       "sh", self.work, net.ctl_path, a.host.metadir)
            self.assertEqual(status, 0, "folder add: %s" % err)
            tree = json.loads(out)
            self.assertEqual(tree["root"], ra)
            # A headless service leaves the file manager's bookmarks alone.
            self.assertFalse(os.path.exists(os.path.join(a.host.metadir, "config", "gtk-3.0", "bookmarks")))
            self.assertTrue(is_uuid(tree["tree_uuid"]) and is_uuid(tree["sync_uuid"]), tree)
            self.assertEqual(by_root(net.ctl_json(a.host, "folders", "--json")), {ra: tree})
            self.assertIn(tree["tree_uuid"] + "\t" + tree["sync_uuid"] + "\t" + ra,
                          ctl_ok(self, net, a, "folders"))

            # bravo browses alpha: its folders, its roots, a listing.
            self.assertEqual(by_root(net.ctl_json(b.host, "remote-folders", a.name, "--json")), {ra: tree})
            roots = net.ctl_json(b.host, "remote-roots", a.uuid[:8], "--json")
            self.assertTrue(roots, "alpha lists no roots")
            for root in roots:
                self.assertEqual(set(root), {"type", "path", "label"})
                self.assertTrue(root["type"].startswith("RT_") and root["path"].startswith("/"), root)
            listing = {e["name"]: e for e in net.ctl_json(b.host, "remote-ls", a.name, ra, "--json")}
            self.assertEqual(set(listing), {"top.txt", "empty", "nested", "with space", "empty dir"})
            self.assertEqual((listing["top.txt"]["type"], listing["top.txt"]["length"]), ("REG", 10))
            self.assertEqual((listing["nested"]["type"], listing["empty"]["length"]), ("DIR", 0))

            rb = os.path.join(self.work, "bravo copy")
            os.makedirs(rb)
            relation = net.ctl_json(b.host, "link", a.name, tree["tree_uuid"][:8], rb, "--json")
            self.assertEqual({k: relation[k] for k in ("local_root", "device_uuid", "device_name", "remote_tree_uuid",
                                                       "remote_root")},
                             {"local_root": rb, "device_uuid": a.uuid, "device_name": a.name,
                              "remote_tree_uuid": tree["tree_uuid"], "remote_root": ra})
            b_tree = by_root(net.ctl_json(b.host, "folders", "--json"))[rb]
            self.assertEqual((b_tree["sync_uuid"], b_tree["tree_uuid"]), (tree["sync_uuid"], relation["local_tree_uuid"]))
            # Linking again changes nothing.
            self.assertEqual(net.ctl_json(b.host, "link", a.name, ra, rb, "--json"), relation)

            last = [time.monotonic()]

            def converged():
                if time.monotonic() - last[0] > 4:
                    last[0] = time.monotonic()
                    ctl_ok(self, net, b, "sync-now")
                return snapshot(rb) == expected

            wait_until(converged, CONVERGE, interval=0.5, what="bravo's copy equals alpha's folder")
            status, _, err = net.ctl(b.host, "wait", rb, "--timeout", "30")
            self.assertEqual(status, 0, err)
            state = net.ctl_json(b.host, "status", "--json")
            mine = [r for r in state["relations"] if r["id"] == relation["id"]]
            self.assertEqual(len(mine), 1, state)
            self.assertEqual({k: mine[0][k] for k in ("running", "queued", "pending_files", "pending_bytes")},
                             {"running": False, "queued": False, "pending_files": 0, "pending_bytes": 0}, state)
            self.assertGreater(mine[0]["last_pass_end"], 0)
            self.assertTrue(mine[0]["last_pass_ok"], state)
            self.assertEqual(state["trees"], [])

            self.assertEqual(net.ctl_json(b.host, "syncs", "--json"), [relation])
            on_a = net.ctl_json(a.host, "syncs", "--json")
            self.assertEqual([{k: s[k] for k in ("local_tree_uuid", "local_root", "device_uuid", "device_name",
                                                 "remote_tree_uuid", "remote_root")} for s in on_a],
                             [{"local_tree_uuid": tree["tree_uuid"], "local_root": ra, "device_uuid": b.uuid,
                               "device_name": b.name, "remote_tree_uuid": b_tree["tree_uuid"], "remote_root": rb}])
            self.assertEqual(net.ctl_json(b.host, "sync-now", rb, "--json"), [relation])
            ctl_ok(self, net, a, "rescan")

            ctl_ok(self, net, b, "unlink", rb, a.name)
            self.assertEqual(net.ctl_json(b.host, "syncs", "--json"), [])
            wait_until(lambda: net.ctl_json(a.host, "syncs", "--json") == [], SETTLE,
                       what="alpha drops the relation")
            ctl_ok(self, net, a, "folder", "remove", ra)
            self.assertEqual(net.ctl_json(a.host, "folders", "--json"), [])
            self.assertEqual(snapshot(ra), expected)  # removing a folder keeps its files
            ctl_ok(self, net, b, "folder", "remove", rb)
            self.assertEqual(net.ctl_json(b.host, "folders", "--json"), [])


@unittest.skipIf(SKIP, SKIP)
class RefusalTest(unittest.TestCase):

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mvx-cli-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def refused(self, net, peer, text, *args, expected=1):
        status, out, err = net.ctl(peer.host, *args)
        self.assertEqual(status, expected, "morvexctl %s: exit %s, %r %r" % (" ".join(args), status, out, err))
        self.assertIn(text, err, "morvexctl %s" % " ".join(args))
        self.assertEqual(out, "", "morvexctl %s printed on failure" % " ".join(args))

    def test_bad_usage_exits_2_and_a_refused_request_exits_1_with_its_reason(self):
        with NET.scenario(self.id()) as net:
            for args in ([], ["folders", "x"], ["folder"], ["folder", "add"], ["folder", "frob", "x"],
                         ["folder", "add", "x", "y"], ["remote-folders"], ["remote-ls", "dev"],
                         ["remote-folder", "list", "dev", "/x"], ["link", "dev", "remote"], ["unlink", "x"],
                         ["sync-now", "x", "y"], ["rescan", "x"], ["syncs", "--bogus"], ["no-such-command"],
                         ["config"], ["config", "set", "port", "0"], ["config", "set", "name", ""],
                         ["config", "get", "colour"]):
                status, _, err = net.run(net.hosts[0], net.ctl_path, "-m", "/nonexistent", *args)
                self.assertEqual(status, 2, "morvexctl %s: %s" % (" ".join(args), err))
                # One line naming the mistake, not the whole usage.
                self.assertTrue(err.startswith("morvexctl: ") and err.endswith("; see 'morvexctl --help'\n")
                                and err.count("\n") == 1, "morvexctl %s: %r" % (" ".join(args), err))
            status, out, err = net.run(net.hosts[0], net.ctl_path, "--help")
            self.assertEqual((status, err), (0, ""))
            self.assertTrue(out.startswith("usage: morvexctl") and "exit statuses:" in out, out)

            a, b = start_pair(net)
            # Not trusted yet: alpha refuses bravo's requests.
            self.refused(net, b, "the other device does not trust this device", "remote-folders", a.name)
            handshake(self, net, a, b)

            a_file = os.path.join(self.work, "a file")
            write(a_file, b"not a folder\n")
            self.refused(net, a, "choose a folder", "folder", "add", "")
            self.refused(net, a, "the path is not a folder: a sync folder must be a folder on this computer", "folder", "add", a_file)
            self.refused(net, a, "the path is not a folder", "folder", "add", os.path.join(self.work, "missing"))
            self.refused(net, a, "'%s' is not a sync folder" % self.work, "folder", "remove", self.work)
            self.refused(net, b, "that path cannot be used there", "remote-ls", a.name, "relative/path")
            self.refused(net, b, "no such device", "remote-folders", "no-such-device")

            # A sync folder made on alpha from bravo.
            ra = os.path.join(self.work, "alpha")
            os.makedirs(ra)
            self.refused(net, b, "invalid folder name", "remote-folder", "add", a.name, "alpha")
            made = net.ctl_json(b.host, "remote-folder", "add", a.name, ra, "--json")
            self.assertEqual(by_root(net.ctl_json(a.host, "folders", "--json")), {ra: made})

            # bravo's own sync folder cannot become a copy of alpha's.
            rb = os.path.join(self.work, "bravo")
            os.makedirs(rb)
            own = net.ctl_json(b.host, "folder", "add", rb, "--json")
            # No sync folder in or around another, nor in the service's own data.
            os.makedirs(os.path.join(rb, "inner"))
            for folder in (os.path.join(rb, "inner"), self.work):
                self.refused(net, b, "inside another sync folder or contains one", "folder", "add", folder)
            beside = os.path.join(a.host.metadir, "beside")
            os.makedirs(beside)
            self.refused(net, b, "holds keys or Morvex's own data", "remote-folder", "add", a.name, beside)
            self.refused(net, b, "the chosen folder already syncs with another sync folder", "link", a.name, made["tree_uuid"], rb)
            self.refused(net, b, "choose a sync folder", "link", a.name, str(uuid.uuid4()), rb)
            self.refused(net, b, "could not set up the local copy of the sync folder", "link", a.name, ra, os.path.join(self.work, "missing"))
            self.assertEqual(net.ctl_json(b.host, "folders", "--json"), [own])
            self.assertEqual(net.ctl_json(b.host, "syncs", "--json"), [])
            self.refused(net, b, "is not linked with %s" % a.name, "unlink", rb, a.name)
            self.refused(net, b, "is not linked with any device", "sync-now", rb)
            self.refused(net, b, "is not a sync folder", "wait", os.path.join(self.work, "not a folder"))

            # alpha's cable out: no answer within a second, exit 5.
            net.set_link(a.host, False)
            try:
                started = time.monotonic()
                self.refused(net, b, "the other device is offline or has gone offline", "remote-roots", a.name, expected=5)
                self.refused(net, b, "could not get the sync folder information", "remote-folders", a.name, expected=5)
                self.assertLess(time.monotonic() - started, 4)
                # Through bravo's own service, which is fine: never read as
                # bravo's service being down.
                status, out, err = net.ctl(b.host, "--json", "trust", "request", a.name)
                self.assertEqual(status, 5, "trust request to a peer cut off: %r %r" % (out, err))
                self.assertIn("%s did not answer" % a.name, err)
                self.assertNotIn("no answer from the Morvex service", err)
                self.assertEqual(json.loads(out)["error"], "peer_unreachable", out)
            finally:
                net.set_link(a.host, True)


@unittest.skipIf(SKIP, SKIP)
class FailureVisibleTest(unittest.TestCase):
    """An unwritable file and a cut-off peer: `wait` says so by its status."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mvx-fail-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def linked(self, net, a, b):
        """alpha shares a folder with one file, bravo links to it; both in step."""
        ra, rb = os.path.join(self.work, "alpha"), os.path.join(self.work, "bravo")
        write(os.path.join(ra, "locked.txt"), b"first\n")
        os.makedirs(rb)
        tree = net.ctl_json(a.host, "--json", "folder", "add", ra)
        net.ctl_json(b.host, "link", a.name, tree["tree_uuid"], rb, "--json")
        wait_until(lambda: snapshot(rb) == snapshot(ra), CONVERGE, what="bravo's copy equals alpha's folder")
        status, _, err = net.ctl(b.host, "wait", rb, "--timeout", "30")
        self.assertEqual(status, 0, err)
        return ra, rb

    def test_a_file_that_cannot_be_written_makes_wait_exit_6_and_status_names_it(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            handshake(self, net, a, b)
            ra, rb = self.linked(net, a, b)
            locked = os.path.join(rb, "locked.txt")
            net.run(b.host, "chattr", "+i", locked)
            self.addCleanup(lambda: subprocess.run(["chattr", "-i", locked], check=False))
            write(os.path.join(ra, "locked.txt"), b"second, longer\n")
            ctl_ok(self, net, a, "rescan")
            ctl_ok(self, net, b, "sync-now", rb)
            status, _, err = net.ctl(b.host, "wait", rb, "--timeout", "60")
            self.assertEqual(status, 6, err)
            self.assertIn(locked, err)
            state = net.ctl_json(b.host, "status", "--json")
            relation = state["relations"][0]
            self.assertFalse(relation["last_pass_ok"], state)
            self.assertEqual(relation["reason"], "items-failed", state)
            self.assertIn(locked, [item["path"] for item in relation["failed_items"]], state)
            self.assertIn(locked, ctl_ok(self, net, b, "status"))

    def test_a_peer_cut_off_makes_wait_exit_5_and_shows_offline_within_15_s(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            handshake(self, net, a, b)
            ra, rb = self.linked(net, a, b)
            net.set_link(a.host, False)
            try:
                cut = time.monotonic()
                wait_until(lambda: [d for d in net.ctl_json(b.host, "devices", "--json")
                                    if d["uuid"] == a.uuid and not d["online"]], 15,
                           what="bravo shows alpha offline")
                self.assertLess(time.monotonic() - cut, 15)
                status, _, err = net.ctl(b.host, "sync-now", rb)
                self.assertEqual(status, 5, err)
                # The pass it asked for finds no one to answer.
                status, _, err = net.ctl(b.host, "wait", rb, "--timeout", "60")
                self.assertEqual(status, 5, err)
                state = net.ctl_json(b.host, "status", "--json")
                self.assertFalse(state["relations"][0]["last_pass_ok"], state)
                self.assertEqual(state["relations"][0]["reason"], "peer-unreachable", state)
            finally:
                net.set_link(a.host, True)


@unittest.skipIf(SKIP, SKIP)
class SettingsTest(unittest.TestCase):

    def test_a_new_port_and_name_set_on_one_device_are_used_by_the_other(self):
        with NET.scenario(self.id()) as net:
            a, b = start_pair(net)
            handshake(self, net, a, b)
            ctl_ok(self, net, a, "config", "set", "port", "9600")
            ctl_ok(self, net, a, "config", "set", "name", "alpha-renamed")
            got = net.ctl_json(a.host, "config", "get", "--json")
            self.assertEqual((got["port"], got["name"], got["password"]), (9600, "alpha-renamed", "set"), got)
            # The client finds its own service on the new port too.
            self.assertEqual(ctl_ok(self, net, a, "config", "get", "port"), "9600\n")

            def seen_by_bravo():
                for device in net.ctl_json(b.host, "devices", "--json"):
                    if device["uuid"] == a.uuid:
                        return device["name"] == "alpha-renamed" and device["address"].endswith(":9600")
                return False
            wait_until(seen_by_bravo, 30, what="bravo sees alpha's new name and port")
            # bravo's requests reach alpha on the new port.
            self.assertEqual(net.ctl_json(b.host, "remote-folders", a.uuid, "--json"), [])
            status, _, err = net.ctl(a.host, "config", "set", "publish-port", "9600")
            self.assertEqual(status, 2, err)


if __name__ == "__main__":
    unittest.main()
