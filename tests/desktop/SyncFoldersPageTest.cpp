// The sync folders page: its rows, the status of each relation from the
// workers' progress, and removing folders and relations.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/BroadcastService.h"
#include "core/StatusBoard.h"
#include "ctl/ErrorSentences.h"
#include "desktop/DesktopFixture.h"
#include "desktop/StatusText.h"
#include "desktop/Strings.h"
#include "desktop/SyncFoldersPage.h"
#include "Morvex.pb.h"
#include "peer/Relations.h"
#include "protocol/InprocEndpoints.h"
#include "protocol/QoMsg.h"

namespace morvex::desktop {
namespace {

class RecordedFolderActions final : public IFolderActions {
 public:
  void RemoveRelation(int32_t syncId, Done done) override {
    done_.push_back("relation " + std::to_string(syncId));
    done(succeed);
  }
  void RemoveFolder(const std::string& treeUuid, Done done) override {
    done_.push_back("folder " + treeUuid);
    done(succeed);
  }
  std::vector<std::string> done_;
  bool succeed = true;
};

// The plural of text `id` for `n`, checked by printf against the English.
#define PLURAL(id, n) core::TrN(StrPair(id).one, StrPair(id).many, static_cast<unsigned long>(n))

class SyncFoldersPageTest : public DesktopFixture {
 protected:
  void SetUp() override {
    DesktopFixture::SetUp();
    // Tree 1 has a relation with a known device and one whose device row
    // is gone; tree 2 has none.
    ASSERT_TRUE(Db().Exec(
        "INSERT INTO Tree (id, tree_uuid, tree_root, sync_uuid) VALUES "
        "(1, 't-docs', '/home/u/docs', 's-docs'), (2, 't-music', '/home/u/music', 's-music')"));
    ASSERT_TRUE(Db().Exec(
        "INSERT INTO Sync (id, tree_id, peer_device_uuid, peer_tree_uuid, peer_tree_root) VALUES "
        "(11, 1, 'bb-friend', 'p-1', '/srv/docs'), (12, 1, 'zz-gone', 'p-2', '/mnt/docs')"));
    page_ = std::make_unique<SyncFoldersPage>(context_, nullptr, actions_);
    page_->SetConfirm([this](const QString& question) {
      questions_.push_back(question.toStdString());
      return answer_;
    });
    page_->SetTell([this](const QString& message) { told_.push_back(message.toStdString()); });
  }
  void TearDown() override {
    page_.reset();
    core::CStatusBoard::Instance().Clear();
    DesktopFixture::TearDown();
  }

  // "path|device|status" per row, children indented by two spaces.
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    const auto text = [](const QTreeWidgetItem* item) {
      return item->text(0).toStdString() + "|" + item->text(1).toStdString() + "|" + item->text(2).toStdString();
    };
    for (int i = 0; i < page_->List()->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* tree = page_->List()->topLevelItem(i);
      rows.push_back(text(tree));
      for (int j = 0; j < tree->childCount(); ++j) rows.push_back("  " + text(tree->child(j)));
    }
    return rows;
  }
  std::string StatusOf(int32_t relationId) const {
    for (int i = 0; i < page_->List()->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* tree = page_->List()->topLevelItem(i);
      for (int j = 0; j < tree->childCount(); ++j) {
        if (tree->child(j)->data(0, Qt::UserRole).toInt() == relationId) return tree->child(j)->text(2).toStdString();
      }
    }
    return "(no row)";
  }
  void Select(int top, int child = -1) {
    QTreeWidgetItem* tree = page_->List()->topLevelItem(top);
    page_->List()->setCurrentItem(child < 0 ? tree : tree->child(child));
  }

  RecordedFolderActions actions_;
  std::unique_ptr<SyncFoldersPage> page_;
  std::vector<std::string> questions_;
  std::vector<std::string> told_;
  bool answer_ = true;
};

TEST_F(SyncFoldersPageTest, RowsPerTreeAndRelationFollowTheTables) {
  const std::string idle = Text(208);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"/home/u/docs||", "  /srv/docs|friend|" + idle,
                                              std::string("  /mnt/docs|") + core::Tr(text::kUnknownDevice) + "|" + idle,
                                              "/home/u/music||"}));
  // A relation added and the device row of another removed: the rows
  // follow through the change notices.
  ASSERT_EQ(peer::InsertRelation(
                {.treeId = 2, .peerDeviceUuid = "cc-stranger", .peerTreeUuid = "p-3", .peerTreeRoot = "/x/music",
                 .creator = "aa-own"}),
            0);
  Deliver();
  EXPECT_EQ(Rows().back(), "  /x/music|stranger|" + idle);
}

TEST_F(SyncFoldersPageTest, StatusOfEachRelationFromItsEvents) {
  const std::string idle = Text(208);
  struct Step {
    int code;
    std::any parameter;
  };
  struct Case {
    std::vector<Step> steps;
    std::string relation11;  // after the refresh
  };
  const std::vector<Case> cases = {
      {{{core::BM_FILES_TOTAL, core::FileEvent{1, 11, 3}}}, Printf(PLURAL(215, 3), 3)},
      {{{core::BM_BYTES_TOTAL, core::ByteEvent{1, 11, 4096}}, {core::BM_BYTES_DONE, core::ByteEvent{1, 11, 1024}}},
       Printf(PLURAL(217, 3), 3, SpeedText(1024).c_str(), TimeText(3).c_str())},
      {{{core::BM_BYTES_DONE, core::ByteEvent{1, 11, 3072}}},
       Printf(PLURAL(216, 3), 3, SpeedText(3072).c_str())},
      // Nothing changed since: the row keeps its text.
      {{}, Printf(PLURAL(216, 3), 3, SpeedText(3072).c_str())},
      // Events of a relation and a tree that are not listed change nothing.
      {{{core::BM_FILES_TOTAL, core::FileEvent{9, 99, 5}}, {core::BM_INDEX_BEGIN, core::IndexEvent{99, 5}}},
       Printf(PLURAL(216, 3), 3, SpeedText(3072).c_str())},
      {{{core::BM_FILES_DONE, core::FileEvent{1, 11, 2}}, {core::BM_FILES_LEFT, core::FileEvent{1, 11, 1}}}, idle},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    for (const Step& step : cases[i].steps) EXPECT_TRUE(page_->OnBroadcast(step.code, step.parameter));
    page_->Refresh();
    EXPECT_EQ(StatusOf(11), cases[i].relation11);
    EXPECT_EQ(StatusOf(12), idle);
  }
  EXPECT_FALSE(page_->OnBroadcast(core::BM_SYNC_BEGIN, {}));

  // Indexing shows on the tree's row; the counters survive a reload.
  page_->OnBroadcast(core::BM_INDEX_BEGIN, core::IndexEvent{1, 5});
  page_->OnBroadcast(core::BM_FILES_TOTAL, core::FileEvent{1, 12, 2});
  page_->Reload();
  page_->Refresh();
  EXPECT_EQ(page_->List()->topLevelItem(0)->text(2).toStdString(), Printf(PLURAL(206, 5), 5));
  EXPECT_EQ(StatusOf(12), Printf(PLURAL(215, 2), 2));
  page_->OnBroadcast(core::BM_INDEX_PROGRESS, core::IndexEvent{1, 5});
  page_->Refresh();
  EXPECT_EQ(page_->List()->topLevelItem(0)->text(2).toStdString(), "");
}

TEST_F(SyncFoldersPageTest, ARelationWhoseLastPassFailedSaysWhy) {
  core::PassReport report;
  report.problem = core::PassProblem::kPeerUnreachable;
  core::CStatusBoard::Instance().SetPassReport(11, report);
  core::CStatusBoard::Instance().PassEnded(11, false, 1000);
  page_->Reload();
  EXPECT_EQ(StatusOf(11), ctl::PeerUnreachable("friend"));
  EXPECT_EQ(StatusOf(12), std::string(Text(208)));
  // Work that begins shows instead of the old failure.
  page_->OnBroadcast(core::BM_FILES_TOTAL, core::FileEvent{1, 11, 1});
  page_->Refresh();
  EXPECT_EQ(StatusOf(11), Printf(PLURAL(215, 1), 1));
}

TEST_F(SyncFoldersPageTest, DeletingAsksFirstAndCancelChangesNothing) {
  page_->DeleteSelection();  // nothing selected
  EXPECT_EQ(told_, (std::vector<std::string>{Text(110)}));
  EXPECT_TRUE(questions_.empty());

  answer_ = false;
  Select(0, 0);
  page_->DeleteSelection();
  Select(0);
  page_->DeleteSelection();
  EXPECT_EQ(questions_, (std::vector<std::string>{Text(214), Printf(core::Tr(Str(213)), "/home/u/docs")}));
  EXPECT_TRUE(actions_.done_.empty());
  EXPECT_EQ(Rows().size(), 4u);

  answer_ = true;
  Select(0, 1);
  page_->DeleteSelection();
  actions_.succeed = false;
  Select(1);
  page_->DeleteSelection();
  EXPECT_EQ(actions_.done_, (std::vector<std::string>{"relation 12", "folder t-music"}));
  EXPECT_EQ(told_, (std::vector<std::string>{Text(110), Text(109)}));
}

// After the wizard linked a folder to an existing sync folder, its first
// relation gets a pass; a new sync folder has none to ask for.
TEST_F(SyncFoldersPageTest, ALinkedFolderGetsAFirstPass) {
  protocol::ZmqSocket router(zmq_, ZMQ_PULL);
  ASSERT_TRUE(router.Bind(protocol::endpoints::kSyncer));
  EXPECT_EQ(page_->RequestPassAfterLink({}), 0);
  EXPECT_EQ(page_->RequestPassAfterLink({.linkedSyncUuid = "s-music"}), 0);
  EXPECT_EQ(page_->RequestPassAfterLink({.linkedSyncUuid = "s-docs"}), 11);
  protocol::CQoMsg message;
  ASSERT_TRUE(message.Recv(router, false, 500));
  qo::MsgWinSync sync;
  ASSERT_TRUE(sync.ParseFromArray(message.BodyData(), static_cast<int>(message.BodySize())));
  EXPECT_EQ(sync.sync_id(), 11);
  EXPECT_FALSE(message.Recv(router, false, 100));
}

}  // namespace
}  // namespace morvex::desktop
