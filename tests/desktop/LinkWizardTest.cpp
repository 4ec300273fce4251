// The link wizard's steps and the new-sync-folder dialog, against a fake
// of the requests: what is asked of whom, and what the user is told.
#include <gtest/gtest.h>

#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "DesktopFixture.h"
#include "Morvex.pb.h"
#include "desktop/CreateSyncDirDialog.h"
#include "desktop/LinkSteps.h"
#include "desktop/LinkWizardPages.h"
#include "desktop/Strings.h"
#include "index/Tree.h"
#include "protocol/Identity.h"
#include "support/TempDir.h"

namespace morvex::desktop {
namespace {

protocol::PeerReply Answer(int code, const google::protobuf::MessageLite* body = nullptr) {
  protocol::PeerReply reply;
  reply.status = core::Status::Ok();
  reply.code = code;
  if (body) reply.body = body->SerializeAsString();
  return reply;
}

protocol::PeerReply Refusal(int error) {
  protocol::PeerReply reply = Answer(qo::MC_ERROR);
  reply.peerError = error;
  return reply;
}

protocol::PeerReply Silence() {
  protocol::PeerReply reply;
  reply.status = core::Status::Timeout("no answer");
  return reply;
}

// Records every request; the own service makes trees as the real one does,
// everything else is answered by `answer` (an empty answer by default).
class FakeRequests final : public ILinkRequests {
 public:
  struct Sent {
    std::string to;
    int code;
    std::string body;
  };
  protocol::PeerReply Ask(const LinkTarget& target, int code, const google::protobuf::MessageLite* body,
                          int) override {
    sent.push_back({target.uuid, code, body ? body->SerializeAsString() : std::string()});
    if (answer) return answer(target, code);
    if (target.uuid == kOwn && code == qo::MC_TREE_ADD_REQUEST) {
      qo::MsgTreeAddRequest add;
      add.ParseFromString(sent.back().body);
      const int made = index::CreateTree(add.sync_uuid(), add.tree_root(), add.tree_uuid(), kOwn);
      return made == qo::ZE_SUCCESS ? Answer(qo::MC_TREE_ADD_RESPONSE) : Refusal(made);
    }
    return Answer(qo::MC_SYNC_ADD_RESPONSE);
  }
  LinkTarget Own() const override { return {kOwn, "tcp://localhost:9527"}; }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const Sent& one : sent) codes.push_back(one.code);
    return codes;
  }

  static constexpr const char* kOwn = "aa-own";
  std::vector<Sent> sent;
  std::function<protocol::PeerReply(const LinkTarget&, int)> answer;
};

class LinkWizardTest : public DesktopFixture {
 protected:
  void SetOnline(const std::string& uuid, bool online) {
    ASSERT_TRUE(Db().Exec("UPDATE Device SET online = " + std::to_string(online ? 1 : 0) + " WHERE uuid = '" +
                          uuid + "'"));
  }
  std::string Folder(const std::string& name) {
    std::filesystem::create_directories(folders_ / name);
    return folders_ / name;
  }
  RemoteFolder remote_{"Photos", "/home/friend/Photos", protocol::NewUuid(), protocol::NewUuid()};
  test::TempDir folders_;
  FakeRequests requests_;
};

TEST_F(LinkWizardTest, ThePeersFoldersOrWhyNot) {
  qo::MsgTreeShowResponse trees;
  qo::TreeInfo& tree = *trees.add_trees();
  tree.set_id(1);
  tree.set_tree_root("/home/friend/Photos");
  tree.set_tree_uuid(remote_.treeUuid);
  tree.set_sync_uuid(remote_.syncUuid);
  const struct {
    protocol::PeerReply reply;
    std::string failure;
  } cases[] = {
      {Refusal(qo::ZE_UNTRUSTED), Text(144)},
      {Refusal(qo::ZE_PERMISSION_DENY), Text(147)},
      {Refusal(qo::ZE_BAD_FORMAT), Text(116)},
      {Silence(), Text(116)},
      {[] {
         protocol::PeerReply garbled = Answer(qo::MC_TREE_SHOW_RESPONSE);
         garbled.body = "\xff\xff";
         return garbled;
       }(),
       Text(116)},
      {Answer(qo::MC_TREE_SHOW_RESPONSE, &trees), ""},
  };
  for (const auto& c : cases) {
    requests_.answer = [&](const LinkTarget&, int) { return c.reply; };
    const RemoteFolders folders = FetchRemoteFolders(requests_, {"bb-friend", "tcp://10.0.0.2:9527"});
    EXPECT_EQ(folders.failure, c.failure);
    EXPECT_EQ(folders.folders.size(), c.failure.empty() ? 1u : 0u);
  }
  EXPECT_EQ(Text(144), std::string("The other device does not trust this device"));
  const RemoteFolders listed = FetchRemoteFolders(requests_, {"bb-friend", "tcp://10.0.0.2:9527"});
  ASSERT_EQ(listed.folders.size(), 1u);
  EXPECT_EQ(listed.folders[0].name, "Photos");
  EXPECT_EQ(listed.folders[0].syncUuid, remote_.syncUuid);
  EXPECT_EQ(requests_.sent.back().code, qo::MC_TREE_SHOW_REQUEST);
}

TEST_F(LinkWizardTest, ALocalFolderOfAnotherSyncFolderCannotBeChosen) {
  const std::string same = Folder("same");
  const std::string other = Folder("other");
  ASSERT_EQ(index::CreateTree(remote_.syncUuid, same, protocol::NewUuid(), "aa-own"), qo::ZE_SUCCESS);
  ASSERT_EQ(index::CreateTree(protocol::NewUuid(), other, protocol::NewUuid(), "aa-own"), qo::ZE_SUCCESS);
  EXPECT_EQ(CheckLocalFolder(same, remote_.syncUuid), LocalFolderVerdict::kUsable);
  EXPECT_EQ(CheckLocalFolder(Folder("plain"), remote_.syncUuid), LocalFolderVerdict::kUsable);
  EXPECT_EQ(CheckLocalFolder(other, remote_.syncUuid), LocalFolderVerdict::kOtherSyncFolder);
  EXPECT_EQ(CheckLocalFolder(folders_ / "missing", remote_.syncUuid), LocalFolderVerdict::kNotAFolder);
  EXPECT_EQ(CheckLocalFolder("", remote_.syncUuid), LocalFolderVerdict::kNotAFolder);
  EXPECT_EQ(LocalFolderNote(LocalFolderVerdict::kOtherSyncFolder, other), Text(118));
  EXPECT_EQ(LocalFolderNote(LocalFolderVerdict::kUsable, same), same);
}

TEST_F(LinkWizardTest, FinishReusesTheLocalTreeOfTheSameSyncFolderAndLinksThePeerFirst) {
  SetOnline("bb-friend", true);
  const std::string root = Folder("photos");
  const std::string tree = protocol::NewUuid();
  ASSERT_EQ(index::CreateTree(remote_.syncUuid, root, tree, "aa-own"), qo::ZE_SUCCESS);

  EXPECT_EQ(FinishLink(requests_, IdOf("bb-friend"), remote_, root), "");
  ASSERT_EQ(requests_.Codes(), (std::vector<int>{qo::MC_SYNC_ADD_REQUEST, qo::MC_SYNC_ADD_REQUEST}));
  qo::MsgSyncAddRequest onPeer;
  qo::MsgSyncAddRequest here;
  ASSERT_TRUE(onPeer.ParseFromString(requests_.sent[0].body));
  ASSERT_TRUE(here.ParseFromString(requests_.sent[1].body));
  EXPECT_EQ(requests_.sent[0].to, "bb-friend");
  EXPECT_EQ(onPeer.local_tree_uuid(), remote_.treeUuid);
  EXPECT_EQ(onPeer.remote_tree_uuid(), tree);
  EXPECT_EQ(onPeer.remote_tree_root(), root);
  EXPECT_EQ(onPeer.remote_device_uuid(), "aa-own");
  EXPECT_EQ(requests_.sent[1].to, "aa-own");
  EXPECT_EQ(here.local_tree_uuid(), tree);
  EXPECT_EQ(here.remote_tree_uuid(), remote_.treeUuid);
  EXPECT_EQ(here.remote_tree_root(), remote_.root);
  EXPECT_EQ(here.remote_device_uuid(), "bb-friend");
}

TEST_F(LinkWizardTest, APeerGoneOfflineEndsFinishAfterTheLocalTreeIsMade) {
  SetOnline("bb-friend", false);
  const std::string root = Folder("photos");
  EXPECT_EQ(FinishLink(requests_, IdOf("bb-friend"), remote_, root), Text(121));
  EXPECT_EQ(requests_.Codes(), std::vector<int>{qo::MC_TREE_ADD_REQUEST});
  // The tree stays: nothing is rolled back.
  EXPECT_EQ(index::LocalTree::ByRoot(root).SyncUuid(), remote_.syncUuid);
}

TEST_F(LinkWizardTest, APeerThatRefusesOrIsSilentIsNotLinkedHere) {
  const LinkTarget peer{"bb-friend", "tcp://10.0.0.2:9527"};
  for (const auto& [reply, code] : {std::pair{Refusal(qo::ZE_UNTRUSTED), int{qo::ZE_UNTRUSTED}},
                                    std::pair{Silence(), int{qo::ZE_OPERATE_TIMEOUT}}}) {
    requests_.sent.clear();
    requests_.answer = [&](const LinkTarget&, int) { return reply; };
    EXPECT_EQ(LinkBothSides(requests_, peer, remote_, protocol::NewUuid(), "/home/me/Photos"), code);
    EXPECT_EQ(requests_.sent.size(), 1u);
  }
  requests_.answer = [](const LinkTarget& to, int) {
    return to.uuid == "aa-own" ? Refusal(qo::ZE_EXIST) : Answer(qo::MC_SYNC_ADD_RESPONSE);
  };
  EXPECT_EQ(LinkBothSides(requests_, peer, remote_, protocol::NewUuid(), "/home/me/Photos"), qo::ZE_EXIST);
}

TEST_F(LinkWizardTest, ANewSyncFolderNeedsAnExistingFolder) {
  const struct {
    std::string path;
    bool stay;
    std::string message;
  } cases[] = {
      {"", true, Text(125)},
      {folders_ / "missing", true, Text(126)},
      {Folder("new"), false, ""},
  };
  for (const auto& c : cases) {
    bool stay = !c.stay;
    EXPECT_EQ(FinishNewSyncFolder(requests_, c.path, stay), c.message) << c.path;
    EXPECT_EQ(stay, c.stay) << c.path;
  }
  EXPECT_EQ(requests_.Codes(), std::vector<int>{qo::MC_TREE_ADD_REQUEST});
  EXPECT_TRUE(index::LocalTree::ByRoot(folders_ / "new").Valid());
}

TEST_F(LinkWizardTest, ThePagesFollowTheChoiceListTheDevicesOnlineAndRefuseAnotherSyncFoldersRoot) {
  LinkWizard wizard(context_, requests_, nullptr);
  std::vector<QString> told;
  wizard.tell = [&](const QString& message, bool) { told.push_back(message); };
  auto* choice = static_cast<ChoicePage*>(wizard.page(kChoicePage));
  EXPECT_EQ(choice->nextId(), kNewFolderPage);
  choice->Existing()->setChecked(true);
  EXPECT_EQ(choice->nextId(), kRemoteFolderPage);

  auto* remote = static_cast<RemoteFolderPage*>(wizard.page(kRemoteFolderPage));
  remote->initializePage();
  QTreeWidget* devices = remote->Devices();
  ASSERT_EQ(devices->topLevelItemCount(), 2);
  ASSERT_EQ(devices->topLevelItem(0)->childCount(), 1);
  EXPECT_EQ(devices->topLevelItem(0)->child(0)->text(0), "own");
  ASSERT_EQ(devices->topLevelItem(1)->childCount(), 1);  // the friend is offline
  EXPECT_EQ(devices->topLevelItem(1)->child(0)->text(0), "stranger");
  EXPECT_EQ(requests_.Codes(), std::vector<int>{qo::MC_TREE_SHOW_REQUEST});  // this device's, selected first
  EXPECT_FALSE(remote->validatePage());
  EXPECT_EQ(told, std::vector<QString>{QString::fromUtf8(Text(117))});

  wizard.remote = remote_;
  auto* local = static_cast<LocalFolderPage*>(wizard.page(kLocalFolderPage));
  const std::string other = Folder("other");
  ASSERT_EQ(index::CreateTree(protocol::NewUuid(), other, protocol::NewUuid(), "aa-own"), qo::ZE_SUCCESS);
  local->Choose(other);
  EXPECT_FALSE(local->isComplete());
  EXPECT_EQ(local->Note()->text(), QString::fromUtf8(Text(118)));
  local->Choose(Folder("plain"));
  EXPECT_TRUE(local->isComplete());
}

TEST_F(LinkWizardTest, TheRemoteBrowserListsEachFolderOnceAndMakesTheChosenOne) {
  qo::MsgListRootResponse roots;
  qo::Root& drive = *roots.add_roots();
  drive.set_target("C:\\");
  drive.set_type(qo::RT_DRIVE);
  drive.set_udata("System");
  qo::Root& home = *roots.add_roots();
  home.set_target("/home/friend");
  home.set_type(qo::RT_HOME);
  qo::MsgListResponse listing;
  listing.set_root("C:\\");
  for (const auto& [name, type] : {std::pair{"Work", qo::DIR}, std::pair{"notes.txt", qo::REG}}) {
    qo::FileStat& stat = *listing.add_stats();
    stat.set_name(name);
    stat.set_type(type);
    stat.set_length(0);
    stat.set_mtime(0);
    stat.set_attr(0);
  }
  qo::MsgTreeAddResponse added;
  added.set_tree_uuid(protocol::NewUuid());
  requests_.answer = [&](const LinkTarget&, int code) {
    switch (code) {
      case qo::MC_LIST_ROOT_REQUEST:
        return Answer(qo::MC_LIST_ROOT_RESPONSE, &roots);
      case qo::MC_LIST_REQUEST:
        return Answer(qo::MC_LIST_RESPONSE, &listing);
      default:
        return Answer(qo::MC_TREE_ADD_RESPONSE, &added);
    }
  };
  CreateSyncDirDialog dialog(requests_, {"bb-friend", "tcp://10.0.0.2:9527"}, nullptr);
  std::vector<QString> told;
  dialog.tell = [&](const QString& message) { told.push_back(message); };
  dialog.ask = [](const QString&) { return false; };
  ASSERT_TRUE(dialog.LoadRoots());
  QTreeWidget* tree = dialog.Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "System(C:\\)");
  EXPECT_EQ(tree->topLevelItem(1)->text(0), "friend");

  QTreeWidgetItem* driveItem = tree->topLevelItem(0);
  driveItem->setExpanded(true);
  driveItem->setExpanded(false);
  driveItem->setExpanded(true);
  tree->setCurrentItem(driveItem);
  const std::vector<int> codes = requests_.Codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), int{qo::MC_LIST_REQUEST}), 1);
  ASSERT_EQ(driveItem->childCount(), 1);
  tree->setCurrentItem(driveItem->child(0));
  EXPECT_EQ(dialog.ChosenPath(), "C:/Work");
  EXPECT_EQ(driveItem->child(0)->childCount(), 1);  // its placeholder, until it is expanded

  dialog.Choose();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  qo::MsgTreeAddRequest add;
  ASSERT_TRUE(add.ParseFromString(requests_.sent.back().body));
  EXPECT_EQ(add.tree_root(), "C:/Work");
  EXPECT_TRUE(told.empty());
}

}  // namespace
}  // namespace morvex::desktop
