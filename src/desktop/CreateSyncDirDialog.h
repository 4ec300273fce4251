// Makes a new sync folder on another device, browsing that device's drives
// and folders from here.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QTreeWidget>
#include <functional>
#include <string>

#include "Morvex.pb.h"
#include "desktop/LinkRequests.h"

namespace morvex::desktop {

// How a root of the peer's listing is labelled in the tree.
QString RemoteRootLabel(const qo::Root& root);
// The path of the folder `name` inside `parent` (whose trailing "/" or "\"
// is dropped): the peer may be of either kind.
std::string RemoteChildPath(const std::string& parent, const std::string& name);

class CreateSyncDirDialog final : public QDialog {
  Q_OBJECT

 public:
  // Asks `peer` through `requests` (not owned; must outlive the dialog).
  CreateSyncDirDialog(ILinkRequests& requests, LinkTarget peer, QWidget* parent);

  // Lists the peer's roots into the tree; false (after saying why) when
  // that failed. Called by the owner before the dialog is shown.
  bool LoadRoots();
  // Lists the folders of `item` unless they were listed already: each
  // folder is asked for once.
  void ListChildren(QTreeWidgetItem* item);
  // The "Choose folder" button: asks the peer for a new sync folder at the
  // chosen path and accepts the dialog when it was made.
  void Choose();

  QTreeWidget* Tree() const { return tree_; }
  std::string ChosenPath() const { return edit_->text().toStdString(); }

  // How the dialog tells the user about a failure, and asks whether to
  // close without a folder (Yes is true); message boxes unless a test
  // replaces them.
  std::function<void(const QString&)> tell;
  std::function<bool(const QString&)> ask;

 private:
  // A folder item with its placeholder child, so that it can be expanded.
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& label, const std::string& path);
  // Sends `code` and reads the answer into `answer`; false after telling
  // the user why not (`refusedText` for a refusal).
  bool Ask(int code, const google::protobuf::MessageLite* body, google::protobuf::MessageLite& answer,
           const QString& refusedText);
  void OnCurrentChanged(QTreeWidgetItem* item);

  ILinkRequests& requests_;
  LinkTarget peer_;
  QTreeWidget* tree_ = nullptr;  // children (Qt owns them)
  QLineEdit* edit_ = nullptr;
};

}  // namespace morvex::desktop
