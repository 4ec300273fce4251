// The main window's second page: the local sync folders with their
// relations (the copies on other devices), what each is doing right now,
// and adding and removing them.
#pragma once

#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>
#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/DesktopContext.h"
#include "desktop/FolderActions.h"
#include "desktop/FolderActivity.h"
#include "desktop/LinkWizard.h"
#include "desktop/UiObserver.h"

namespace morvex::desktop {

class SyncFoldersPage final : public QWidget {
  Q_OBJECT

 public:
  enum Column : int { kPathColumn = 0, kDeviceColumn = 1, kStatusColumn = 2 };

  // The page asks the service itself (LocalFolderClient).
  SyncFoldersPage(const DesktopContext& context, QWidget* parent);
  // The page tells `actions` (not owned) what the user decided.
  SyncFoldersPage(const DesktopContext& context, QWidget* parent, IFolderActions& actions);
  ~SyncFoldersPage() override;

  // One top-level row per tree, one child row per relation.
  QTreeWidget* List() const { return list_; }

  // Reads the trees and relations again and rebuilds the rows; the
  // progress of those still listed is kept.
  void Reload();
  // A broadcast the main window passes on before it handles it; false for
  // a code the page does not follow.
  bool OnBroadcast(int code, const std::any& parameter);
  // Rewrites the status of the rows whose work changed (the main window's
  // one-second refresh, and once when the work stops).
  void Refresh();

  // "Delete": the selected relation, or the selected folder with all of
  // its relations, once the user confirms.
  void DeleteSelection();
  // "Add": the link wizard, then a first pass over a folder it linked.
  void Add();
  // After the wizard linked a local folder to an existing sync folder: asks
  // for a pass over the sync folder's first relation; its id, 0 for none.
  int32_t RequestPassAfterLink(const LinkWizardResult& result);

  // How the page asks before it deletes (OK is true), and how it tells the
  // user something; message boxes unless a test replaces them.
  using Confirm = std::function<bool(const QString& question)>;
  using Tell = std::function<void(const QString& message)>;
  void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
  void SetTell(Tell tell) { tell_ = std::move(tell); }

 private:
  struct RelationRow {
    int32_t id = 0;
    std::string peerTreeRoot;
    std::string peerName;
    int32_t peerType = 0;
  };
  struct TreeRow {
    int32_t id = 0;
    std::string treeUuid;
    std::string root;
    std::vector<RelationRow> relations;
  };

  // Without `actions` the page makes its own LocalFolderClient.
  SyncFoldersPage(const DesktopContext& context, QWidget* parent, IFolderActions* actions);
  void Rebuild();
  void WriteRelationStatus(QTreeWidgetItem& item, const RelationRow& row);
  const TreeRow* FindTree(int32_t id) const;
  const RelationRow* FindRelation(int32_t id) const;
  void OpenFolder(QTreeWidgetItem* item);

  const DesktopContext& context_;
  std::unique_ptr<IFolderActions> ownActions_;
  IFolderActions& actions_;
  Confirm confirm_;
  Tell tell_;
  std::vector<TreeRow> trees_;
  FolderActivity activity_;
  // Children of this page (Qt owns them).
  QTreeWidget* list_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* delete_ = nullptr;
  std::unique_ptr<UiObserver> treeObserver_;
  std::unique_ptr<UiObserver> relationObserver_;
};

}  // namespace morvex::desktop
