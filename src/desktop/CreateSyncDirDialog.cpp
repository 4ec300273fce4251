#include "desktop/CreateSyncDirDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/BusyWait.h"
#include "desktop/LinkSteps.h"
#include "desktop/Strings.h"
#include "protocol/Identity.h"

namespace morvex::desktop {
namespace {

// Item data: the folder's path, and the mark of a placeholder child.
constexpr int kPathRole = Qt::UserRole;
constexpr int kPlaceholderRole = Qt::UserRole + 1;

QString Translated(const char* text) { return QString::fromStdString(core::Tr(text)); }

bool IsPlaceholder(const QTreeWidgetItem* item) { return item && item->data(0, kPlaceholderRole).toBool(); }

}  // namespace

QString RemoteRootLabel(const qo::Root& root) {
  switch (root.type()) {
    case qo::RT_DRIVE:
      return QString::fromStdString(root.udata() + "(" + root.target() + ")");
    case qo::RT_PICTURE:
      return Translated(text::kPictures);
    case qo::RT_VIDEO:
      return Translated(text::kVideos);
    case qo::RT_AUDIO:
      return Translated(text::kMusic);
    case qo::RT_DOCUMENT:
      return Translated(text::kDocuments);
    case qo::RT_DESKTOP:
      return Translated(text::kDesktopFolder);
    default:
      return QString::fromStdString(LastComponent(root.target()));
  }
}

std::string RemoteChildPath(const std::string& parent, const std::string& name) {
  std::string path = parent;
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path + "/" + name;
}

CreateSyncDirDialog::CreateSyncDirDialog(ILinkRequests& requests, LinkTarget peer, QWidget* parent)
    : QDialog(parent), requests_(requests), peer_(std::move(peer)) {
  setWindowTitle(Translated(text::kCreateSyncDirTitle));
  tell = [this](const QString& message) { QMessageBox::warning(this, windowTitle(), message); };
  ask = [this](const QString& question) {
    return QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("remoteFolders"));
  tree_->setHeaderHidden(true);
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QStringLiteral("remotePath"));
  auto* choose = new QPushButton(Translated(text::kChooseFolder), this);
  auto* cancel = new QPushButton(Translated(text::kCancel), this);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(new QLabel(Translated(text::kFolderLabel), this));
  pathRow->addWidget(edit_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(choose);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(pathRow);
  layout->addLayout(buttons);
  connect(choose, &QPushButton::clicked, this, &CreateSyncDirDialog::Choose);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(tree_, &QTreeWidget::itemExpanded, this, &CreateSyncDirDialog::OnCurrentChanged);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentChanged(current); });
  resize(420, 480);
}

bool CreateSyncDirDialog::Ask(int code, const google::protobuf::MessageLite* body,
                              google::protobuf::MessageLite& answer, const QString& refusedText) {
  ILinkRequests& requests = requests_;
  const LinkTarget& peer = peer_;
  const protocol::PeerReply reply =
      WaitBusy(this, [&requests, &peer, code, body] { return requests.Ask(peer, code, body, kListWaitMs); });
  if (!reply.answered()) {
    tell(Translated(text::kNetworkError));
  } else if (reply.refused()) {
    tell(refusedText);
  } else if (!answer.ParseFromString(reply.body)) {
    tell(Translated(text::kResponseError));
  } else {
    return true;
  }
  return false;
}

bool CreateSyncDirDialog::LoadRoots() {
  qo::MsgListRootResponse roots;
  if (!Ask(qo::MC_LIST_ROOT_REQUEST, nullptr, roots, Translated(text::kRequestError))) return false;
  for (const qo::Root& root : roots.roots()) AddFolder(nullptr, RemoteRootLabel(root), root.target());
  return true;
}

QTreeWidgetItem* CreateSyncDirDialog::AddFolder(QTreeWidgetItem* parent, const QString& label,
                                                const std::string& path) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(0, label);
  item->setData(0, kPathRole, QString::fromStdString(path));
  auto* placeholder = new QTreeWidgetItem(item);
  placeholder->setData(0, kPlaceholderRole, true);
  return item;
}

void CreateSyncDirDialog::OnCurrentChanged(QTreeWidgetItem* item) {
  if (item == nullptr || IsPlaceholder(item)) return;
  edit_->setText(item->data(0, kPathRole).toString());
  ListChildren(item);
}

void CreateSyncDirDialog::ListChildren(QTreeWidgetItem* item) {
  // The placeholder goes before the request: a folder whose listing failed
  // is not asked for again on every click.
  if (!IsPlaceholder(item->child(0))) return;
  delete item->takeChild(0);
  const std::string path = item->data(0, kPathRole).toString().toStdString();
  qo::MsgListRequest list;
  list.set_root(path);
  qo::MsgListResponse listing;
  if (!Ask(qo::MC_LIST_REQUEST, &list, listing, Translated(text::kRequestError))) return;
  for (const qo::FileStat& stat : listing.stats()) {
    if (stat.type() != qo::DIR) continue;
    AddFolder(item, QString::fromStdString(stat.name()), RemoteChildPath(path, stat.name()));
  }
}

void CreateSyncDirDialog::Choose() {
  const std::string path = ChosenPath();
  if (path.empty()) {
    if (ask(QString::fromUtf8(Text(149)))) reject();
    return;
  }
  qo::MsgTreeAddRequest add;
  add.set_sync_uuid(protocol::NewUuid());
  add.set_tree_root(path);
  qo::MsgTreeAddResponse added;
  if (!Ask(qo::MC_TREE_ADD_REQUEST, &add, added, QString::fromUtf8(Text(146)))) return;
  accept();
}

}  // namespace morvex::desktop
