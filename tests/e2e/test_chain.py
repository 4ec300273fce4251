"""End-to-end: the middle device of a chain keeps both sides of a conflict whole.

Three test hosts on their own bridge (10.213.23.0/24): alpha's folder is
linked on bravo, and bravo's copy is linked on charlie, so bravo has two
relations on one folder.  With bravo's cable out, alpha and charlie each
write their own large version of one file; once the cable is back, bravo is
asked for a pass on both links at once.  Both passes write into bravo's one
folder, and both versions must come through byte for byte, as the file and
its "(Conflict)" copy on all three hosts.  See README.md in this folder.
"""

import os
import sys
import shutil
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import testhosts  # noqa: E402
from testhosts import digest, snapshot, write  # noqa: E402
from test_peer import ctl_ok, handshake, start  # noqa: E402
from test_suite import MIB, ask_pass, converge, idle, leftovers, link, online_pair, share, write_random  # noqa: E402

SKIP = testhosts.skip_reason()
NET = None


def setUpModule():
    global NET
    NET = testhosts.open_network(3, "10.213.23")


def tearDownModule():
    if NET is not None:
        NET.close()


@unittest.skipIf(SKIP, SKIP)
class ChainConflictTest(unittest.TestCase):

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mvx-chain-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def test_the_middle_of_a_chain_keeps_both_versions_of_a_conflict_whole(self):
        with NET.scenario(self.id()) as net:
            a, b, c = start(net, (net.hosts[0], "p1", "alpha"), (net.hosts[1], "p1", "bravo"),
                            (net.hosts[2], "p1", "charlie"))
            online_pair(net, a, b)
            online_pair(net, b, c)
            handshake(self, net, a, b)
            handshake(self, net, b, c)
            ra, rb, rc = (os.path.join(self.work, name) for name in ("alpha", "bravo", "charlie"))
            write(os.path.join(ra, "big.bin"), b"the common ancestor\n")
            tree = share(self, net, a, ra)
            on_b = link(self, net, b, a, tree["tree_uuid"], rb)
            link(self, net, c, b, on_b["local_tree_uuid"], rc)
            converge([ra, rb, rc], snapshot(ra))

            # Different lengths, as two editors' versions would have.
            net.set_link(b.host, False)
            try:
                write_random(os.path.join(ra, "big.bin"), 48 * MIB)
                write_random(os.path.join(rc, "big.bin"), 40 * MIB + 4321)
                versions = {digest(os.path.join(ra, "big.bin")), digest(os.path.join(rc, "big.bin"))}
                for peer in (a, c):  # both have indexed their side
                    ctl_ok(self, net, peer, "rescan")
                    idle(self, net, peer, peer_away=True)
            finally:
                net.set_link(b.host, True)

            # One request on bravo: a pass on each of its two links at once.
            def nudge():
                for peer in (b, a, c):
                    ask_pass(self, net, peer)
            ask_pass(self, net, b)
            got = converge([ra, rb, rc], timeout=90, nudge=nudge)
            self.assertEqual(set(got), {"big.bin", "big(Conflict).bin"}, got)
            self.assertEqual({got["big.bin"][1], got["big(Conflict).bin"][1]}, versions)
            for root in (ra, rb, rc):
                self.assertEqual(leftovers(root), [], root)


if __name__ == "__main__":
    unittest.main()
