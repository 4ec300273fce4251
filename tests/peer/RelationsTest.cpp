#include "peer/Relations.h"

#include <gtest/gtest.h>

#include <vector>

#include "store/StoreFixture.h"

namespace morvex::peer {
namespace {

class RelationsTest : public store::StoreFixture {};

TEST_F(RelationsTest, CountSyncDirRowsCountsRelationsOfTreesThatExist) {
  EXPECT_EQ(CountSyncDirRows(), 0);
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root) VALUES (1, 't1', '/docs')"));
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid, peer_tree_root) VALUES "
                        "(1, 1, 'dA', 'pA', '/a'), (2, 1, 'dB', 'pB', '/b'), (3, 9, 'dC', 'pC', '/c')"));
  EXPECT_EQ(CountSyncDirRows(), 2);
}

// The client lists relations by any combination of these fields; each
// given one must match and the rest are free.
TEST_F(RelationsTest, FindRelationsMatchesEveryGivenFieldInIdOrder) {
  ASSERT_TRUE(Db().Exec("INSERT INTO Tree (id, tree_uuid, tree_root) VALUES (1, 't1', '/docs'), (2, 't2', '/music')"));
  ASSERT_TRUE(Db().Exec(
      "INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid, peer_tree_root) VALUES "
      "(5, 1, 'dA', 'pA', '/a/docs'), (3, 1, 'dB', 'pB', '/b/docs'), (4, 2, 'dA', 'pC', '/a/music')"));
  struct Case {
    RelationFilter filter;
    std::vector<int32_t> ids;
  };
  const std::vector<Case> cases = {
      {{}, {3, 4, 5}},
      {{.treeUuid = "t1"}, {3, 5}},
      {{.treeRoot = "/DOCS"}, {3, 5}},  // roots compare as the Tree table does, without case
      {{.treeRoot = "/docs", .peerDeviceUuid = "dA"}, {5}},
      {{.treeUuid = "t1", .peerTreeUuid = "pB", .peerDeviceUuid = "dB"}, {3}},
      {{.peerDeviceUuid = "dA"}, {4, 5}},
      {{.treeUuid = "t2", .peerDeviceUuid = "dB"}, {}},
  };
  for (const Case& c : cases) {
    const auto found = FindRelations(c.filter);
    ASSERT_TRUE(found);
    std::vector<int32_t> ids;
    for (const Relation& relation : *found) ids.push_back(relation.id);
    EXPECT_EQ(ids, c.ids) << c.filter.treeUuid << "|" << c.filter.treeRoot << "|" << c.filter.peerDeviceUuid;
  }
  const auto one = FindRelations({.peerTreeUuid = "pC"});
  ASSERT_TRUE(one && one->size() == 1);
  EXPECT_EQ(one->front().treeRoot, "/music");
  EXPECT_EQ(one->front().peerTreeRoot, "/a/music");
  EXPECT_EQ(one->front().treeId, 2);
}

// Counts the change notices it is told of (no handler: told at once).
class CountingObserver final : public store::CContentObserver {
 public:
  std::unique_ptr<store::CSQLiteCursor> Query() override { return nullptr; }
  void OnChange(std::unique_ptr<store::CSQLiteCursor>) override { ++changes; }
  int changes = 0;
};

// The page of sync folders follows the relations and asks for a pass over
// the first relation of the sync folder it just linked.
TEST_F(RelationsTest, FirstRelationOfSyncAndChangeNotices) {
  ASSERT_TRUE(Db().Exec(
      "INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES (1, 't1', '/docs', 's1'), (2, 't2', '/x', 's2')"));
  CountingObserver observer;
  ObserveRelations(&observer);
  ASSERT_TRUE(Db().Exec(
      "INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid, peer_tree_root) VALUES "
      "(7, 1, 'dA', 'pA', '/a/docs'), (9, 1, 'dB', 'pB', '/b/docs')"));
  DeleteRelations({9});
  EXPECT_GE(observer.changes, 1);
  StopObservingRelations(&observer);
  const int seen = observer.changes;
  DeleteRelations({7});
  EXPECT_EQ(observer.changes, seen);
  ASSERT_TRUE(Db().Exec("INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid) VALUES (4, 1, 'dA', 'pA')"));
  EXPECT_EQ(FirstRelationOfSync("s1"), 4);
  EXPECT_EQ(FirstRelationOfSync("s2"), 0);
  EXPECT_EQ(FirstRelationOfSync("nothing"), 0);
}

}  // namespace
}  // namespace morvex::peer
