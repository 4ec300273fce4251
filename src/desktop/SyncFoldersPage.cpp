#include "desktop/SyncFoldersPage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QStyle>
#include <QVBoxLayout>
#include <map>
#include <optional>

#include "core/StatusBoard.h"
#include "desktop/DeviceIcons.h"
#include "desktop/FileManager.h"
#include "desktop/Icons.h"
#include "desktop/ServiceRequests.h"
#include "desktop/Strings.h"
#include "device/Device.h"
#include "index/Tree.h"
#include "peer/Relations.h"

namespace morvex::desktop {
namespace {

constexpr int kIdRole = Qt::UserRole;

QString Utf8(const std::string& text) { return QString::fromStdString(text); }
QString Translated(const char* text) { return QString::fromUtf8(core::Tr(text)); }

}  // namespace

// Follows one table (Tree or Sync): the page reads what it needs itself on
// its own thread, and not at all once it is gone.
SyncFoldersPage::SyncFoldersPage(const DesktopContext& context, QWidget* parent)
    : SyncFoldersPage(context, parent, nullptr) {}

SyncFoldersPage::SyncFoldersPage(const DesktopContext& context, QWidget* parent, IFolderActions& actions)
    : SyncFoldersPage(context, parent, &actions) {}

SyncFoldersPage::SyncFoldersPage(const DesktopContext& context, QWidget* parent, IFolderActions* actions)
    : QWidget(parent),
      context_(context),
      ownActions_(actions ? nullptr : std::make_unique<LocalFolderClient>(context, this)),
      actions_(actions ? *actions : *ownActions_) {
  confirm_ = [this](const QString& question) {
    return QMessageBox::question(this, QString(), question, QMessageBox::Ok | QMessageBox::Cancel) ==
           QMessageBox::Ok;
  };
  tell_ = [this](const QString& message) {
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(Text(107)), message, QMessageBox::Ok,
                                this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  };

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("folderList"));
  list_->setColumnCount(3);
  list_->setHeaderLabels({Translated(text::kRemotePath), QString(), Translated(text::kStatus)});
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setExpandsOnDoubleClick(false);  // a double click opens the folder
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(kPathColumn, 250);
  list_->setColumnWidth(kDeviceColumn, 95);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { OpenFolder(item); });

  add_ = new QPushButton(Translated(text::kAdd), this);
  delete_ = new QPushButton(Translated(text::kDelete), this);
  connect(add_, &QPushButton::clicked, this, &SyncFoldersPage::Add);
  connect(delete_, &QPushButton::clicked, this, &SyncFoldersPage::DeleteSelection);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(add_);
  buttons->addWidget(delete_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(buttons);

  Reload();
  // Either table changing means a reload; the page reads both itself.
  const auto reload = [this](std::unique_ptr<store::CSQLiteCursor>) { Reload(); };
  treeObserver_ = std::make_unique<UiObserver>(context_.loop, this, nullptr, reload);
  relationObserver_ = std::make_unique<UiObserver>(context_.loop, this, nullptr, reload);
  index::ObserveTrees(treeObserver_.get());
  peer::ObserveRelations(relationObserver_.get());
}

SyncFoldersPage::~SyncFoldersPage() {
  index::StopObservingTrees(treeObserver_.get());
  peer::StopObservingRelations(relationObserver_.get());
}

void SyncFoldersPage::Reload() {
  std::vector<TreeRow> trees;
  std::vector<int32_t> treeIds;
  std::vector<int32_t> relationIds;
  for (const index::LocalTree& tree : index::LocalTree::All()) {
    if (tree.Id() == 0 || tree.Root().empty()) continue;
    TreeRow& row = trees.emplace_back(TreeRow{tree.Id(), tree.TreeUuid(), tree.Root(), {}});
    treeIds.push_back(tree.Id());
    const auto relations = peer::FindRelations({.treeUuid = tree.TreeUuid()});
    if (!relations) continue;
    for (const peer::Relation& relation : *relations) {
      if (relation.peerTreeRoot.empty()) continue;
      RelationRow shown{relation.id, relation.peerTreeRoot, core::Tr(text::kUnknownDevice), -1};
      device::CDevice device;
      if (device.LoadByUuid(relation.peerDeviceUuid)) {
        shown.peerName = device.name;
        shown.peerType = device.type;
      }
      row.relations.push_back(std::move(shown));
      relationIds.push_back(relation.id);
    }
  }
  trees_ = std::move(trees);
  activity_.Track(treeIds, relationIds);
  Rebuild();
}

void SyncFoldersPage::Rebuild() {
  // The selection stays on its row when that row is still listed.
  int32_t selectedId = 0;
  bool selectedTree = false;
  if (QTreeWidgetItem* item = list_->currentItem(); item && item->isSelected()) {
    selectedId = item->data(kPathColumn, kIdRole).toInt();
    selectedTree = item->parent() == nullptr;
  }
  list_->setUpdatesEnabled(false);
  list_->clear();
  for (const TreeRow& tree : trees_) {
    auto* treeItem = new QTreeWidgetItem(list_);
    treeItem->setText(kPathColumn, Utf8(tree.root));
    treeItem->setIcon(kPathColumn, style()->standardIcon(QStyle::SP_DirIcon));
    treeItem->setData(kPathColumn, kIdRole, tree.id);
    treeItem->setText(kStatusColumn, Utf8(IndexingText(activity_.Indexing(tree.id))));
    if (selectedTree && selectedId == tree.id) list_->setCurrentItem(treeItem);
    for (const RelationRow& relation : tree.relations) {
      auto* item = new QTreeWidgetItem(treeItem);
      item->setText(kPathColumn, Utf8(relation.peerTreeRoot));
      item->setData(kPathColumn, kIdRole, relation.id);
      item->setText(kDeviceColumn, Utf8(relation.peerName));
      item->setIcon(kDeviceColumn, Icon(DeviceKindIcon(relation.peerType)));
      WriteRelationStatus(*item, relation);
      if (!selectedTree && selectedId == relation.id) list_->setCurrentItem(item);
    }
    treeItem->setExpanded(true);
  }
  list_->setUpdatesEnabled(true);
}

bool SyncFoldersPage::OnBroadcast(int code, const std::any& parameter) {
  return activity_.OnBroadcast(code, parameter);
}

void SyncFoldersPage::Refresh() {
  for (int top = 0; top < list_->topLevelItemCount(); ++top) {
    QTreeWidgetItem* treeItem = list_->topLevelItem(top);
    treeItem->setText(kStatusColumn,
                      Utf8(IndexingText(activity_.Indexing(treeItem->data(kPathColumn, kIdRole).toInt()))));
    for (int child = 0; child < treeItem->childCount(); ++child) {
      QTreeWidgetItem* item = treeItem->child(child);
      if (const RelationRow* row = FindRelation(item->data(kPathColumn, kIdRole).toInt())) {
        WriteRelationStatus(*item, *row);
      }
    }
  }
}

void SyncFoldersPage::WriteRelationStatus(QTreeWidgetItem& item, const RelationRow& row) {
  RelationActivity* activity = activity_.Relation(row.id);
  if (activity == nullptr) return;
  // The speed is what arrived between two rewrites: a row whose work did
  // not change keeps its text and goes on counting.
  const bool changed =
      !activity->shown || activity->files != activity->shownFiles || activity->bytesLeft != activity->shownBytes;
  if (changed) {
    activity->shownText = PendingText(activity->files, activity->bytesLeft, activity->bytesSinceRefresh).value_or("");
    activity->shown = true;
    activity->shownFiles = activity->files;
    activity->shownBytes = activity->bytesLeft;
    activity->bytesSinceRefresh = 0;
  }
  if (!activity->shownText.empty()) {
    item.setText(kStatusColumn, Utf8(activity->shownText));
    item.setIcon(kStatusColumn, Icon(kIconStatusBusy));
    return;
  }
  // Idle: why the last pass failed, when it did.
  const std::map<int32_t, core::RelationStatus> board = core::CStatusBoard::Instance().Relations();
  const auto status = board.find(row.id);
  const std::optional<std::string> failure =
      status == board.end() ? std::nullopt : LastPassFailure(status->second, row.peerName);
  item.setText(kStatusColumn, failure ? Utf8(*failure) : QString::fromUtf8(Text(208)));
  item.setIcon(kStatusColumn, Icon(failure ? kIconStatusWarning : kIconStatusIdle));
}

const SyncFoldersPage::TreeRow* SyncFoldersPage::FindTree(int32_t id) const {
  for (const TreeRow& tree : trees_) {
    if (tree.id == id) return &tree;
  }
  return nullptr;
}

const SyncFoldersPage::RelationRow* SyncFoldersPage::FindRelation(int32_t id) const {
  for (const TreeRow& tree : trees_) {
    for (const RelationRow& relation : tree.relations) {
      if (relation.id == id) return &relation;
    }
  }
  return nullptr;
}

void SyncFoldersPage::DeleteSelection() {
  QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr || !item->isSelected()) {
    tell_(QString::fromUtf8(Text(110)));
    return;
  }
  const int32_t id = item->data(kPathColumn, kIdRole).toInt();
  const auto failed = [this](bool done) {
    if (!done) tell_(QString::fromUtf8(Text(109)));
  };
  if (item->parent() != nullptr) {
    if (!confirm_(QString::fromUtf8(Text(214)))) return;
    // The rows follow through the observers.
    actions_.RemoveRelation(id, failed);
    return;
  }
  const TreeRow* tree = FindTree(id);
  if (tree == nullptr) return;
  if (!confirm_(Utf8(Printf(core::Tr(Str(213)), tree->root.c_str())))) return;
  actions_.RemoveFolder(tree->treeUuid, failed);
}

void SyncFoldersPage::Add() {
  if (const std::optional<LinkWizardResult> result = RunLinkWizard(context_, this)) RequestPassAfterLink(*result);
}

int32_t SyncFoldersPage::RequestPassAfterLink(const LinkWizardResult& result) {
  if (!result.linkedSyncUuid) return 0;
  const int32_t id = peer::FirstRelationOfSync(*result.linkedSyncUuid);
  if (id != 0) RequestSyncPasses(context_.zmq, {id});
  return id;
}

void SyncFoldersPage::OpenFolder(QTreeWidgetItem* item) {
  if (item == nullptr || item->parent() != nullptr) return;
  if (const TreeRow* tree = FindTree(item->data(kPathColumn, kIdRole).toInt())) OpenFolderInFileManager(tree->root);
}

}  // namespace morvex::desktop
