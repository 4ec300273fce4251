// The link wizard's four pages.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QWizardPage>
#include <memory>
#include <vector>

#include "desktop/LinkWizard.h"
#include "desktop/UiObserver.h"
#include "device/DeviceQueries.h"

class QFileSystemModel;

namespace morvex::desktop {

// A new sync folder (to the new folder page) or an existing one (to the
// remote folder page).
class ChoicePage final : public QWizardPage {
 public:
  explicit ChoicePage(QWidget* parent);
  int nextId() const override;
  QRadioButton* Existing() const { return existing_; }

 private:
  QRadioButton* created_ = nullptr;
  QRadioButton* existing_ = nullptr;
};

// The devices online and, for the chosen one, its sync folders.
class RemoteFolderPage final : public QWizardPage {
 public:
  explicit RemoteFolderPage(LinkWizard& wizard);
  ~RemoteFolderPage() override;
  void initializePage() override;
  bool validatePage() override;
  int nextId() const override { return kLocalFolderPage; }

  // Shows this device first, then the other devices online by name, and
  // selects the device chosen before (the first one otherwise).
  void FillDevices(const std::vector<device::ListedDevice>& devices);
  // Asks the device for its sync folders and lists them.
  void LoadFolders(int32_t deviceId);
  QTreeWidget* Devices() const { return devices_; }
  QTreeWidget* Folders() const { return folders_; }

 private:
  int32_t SelectedDevice() const;
  void CreateRemoteFolder();

  LinkWizard& wizard_;
  QTreeWidget* devices_ = nullptr;
  QTreeWidget* folders_ = nullptr;
  std::vector<RemoteFolder> listed_;
  int32_t shownDevice_ = 0;  // the device whose folders are listed
  std::unique_ptr<UiObserver> observer_;
};

// The local folder that becomes the copy of the chosen sync folder.
class LocalFolderPage final : public QWizardPage {
 public:
  explicit LocalFolderPage(LinkWizard& wizard);
  void initializePage() override;
  bool isComplete() const override { return usable_; }
  bool validatePage() override;
  int nextId() const override { return -1; }

  // Takes `path` as the selection (empty: no folder of the file system).
  void Choose(const std::string& path);
  QLineEdit* Note() const { return note_; }

 private:
  LinkWizard& wizard_;
  QFileSystemModel* model_ = nullptr;
  QTreeView* folders_ = nullptr;
  QLineEdit* note_ = nullptr;
  std::string path_;
  bool usable_ = false;
};

// The folder of a brand-new sync folder.
class NewFolderPage final : public QWizardPage {
 public:
  explicit NewFolderPage(LinkWizard& wizard);
  bool validatePage() override;
  int nextId() const override { return -1; }
  QLineEdit* Path() const { return path_; }

 private:
  void Browse();

  LinkWizard& wizard_;
  QLineEdit* path_ = nullptr;
};

}  // namespace morvex::desktop
