#include "desktop/LinkWizardPages.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/BusyWait.h"
#include "desktop/CreateSyncDirDialog.h"
#include "desktop/DeviceIcons.h"
#include "desktop/Icons.h"
#include "desktop/Strings.h"
#include "device/Device.h"

namespace morvex::desktop {
namespace {

QString Translated(const char* text) { return QString::fromStdString(core::Tr(text)); }
QString Utf8(const std::string& text) { return QString::fromStdString(text); }

constexpr int kIdRole = Qt::UserRole;

QLabel* Explanation(const char* text, QWidget* parent) {
  auto* label = new QLabel(Translated(text), parent);
  label->setWordWrap(true);
  label->setIndent(20);
  return label;
}

}  // namespace

ChoicePage::ChoicePage(QWidget* parent) : QWizardPage(parent) {
  setTitle(QString::fromUtf8(Text(112)));
  setSubTitle(QString::fromUtf8(Text(114)));
  created_ = new QRadioButton(Translated(text::kNewSyncFolder), this);
  existing_ = new QRadioButton(Translated(text::kExistingSyncFolder), this);
  created_->setChecked(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(created_);
  layout->addWidget(Explanation(text::kNewSyncFolderExplained, this));
  layout->addSpacing(12);
  layout->addWidget(existing_);
  layout->addWidget(Explanation(text::kExistingSyncFolderExplained, this));
  layout->addStretch(1);
}

int ChoicePage::nextId() const { return existing_->isChecked() ? kRemoteFolderPage : kNewFolderPage; }

// Follows the Device table while the wizard is open, on the wizard's thread.
RemoteFolderPage::RemoteFolderPage(LinkWizard& wizard) : QWizardPage(&wizard), wizard_(wizard) {
  setTitle(QString::fromUtf8(Text(112)));
  setSubTitle(QString::fromUtf8(Text(114)));
  devices_ = new QTreeWidget(this);
  devices_->setObjectName(QStringLiteral("linkDevices"));
  devices_->setHeaderLabels({Translated(text::kDeviceColumn)});
  devices_->setRootIsDecorated(false);
  folders_ = new QTreeWidget(this);
  folders_->setObjectName(QStringLiteral("linkFolders"));
  folders_->setHeaderLabels({Translated(text::kNameColumn), Translated(text::kPathColumn)});
  folders_->setRootIsDecorated(false);
  auto* create = new QPushButton(Translated(text::kCreateSyncFolder), this);
  auto* lists = new QHBoxLayout;
  lists->addWidget(devices_, 2);
  lists->addWidget(folders_, 3);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(lists, 1);
  layout->addWidget(create, 0, Qt::AlignRight);
  connect(devices_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
    const int32_t id = current ? current->data(0, kIdRole).toInt() : 0;
    if (id > 0 && id != shownDevice_) LoadFolders(id);
  });
  connect(create, &QPushButton::clicked, this, &RemoteFolderPage::CreateRemoteFolder);
  observer_ = std::make_unique<UiObserver>(wizard.Context().loop, this, device::QueryDeviceList,
                                           [this](std::unique_ptr<store::CSQLiteCursor> cursor) {
                                             FillDevices(device::ReadDeviceList(cursor.get()));
                                           });
}

RemoteFolderPage::~RemoteFolderPage() {
  if (observer_) device::StopObservingDevices(observer_.get());
}

void RemoteFolderPage::initializePage() {
  FillDevices(device::ReadDeviceList(device::QueryDeviceList().get()));
  device::StopObservingDevices(observer_.get());
  device::ObserveDevices(observer_.get());
}

void RemoteFolderPage::FillDevices(const std::vector<device::ListedDevice>& devices) {
  const std::string ownUuid = wizard_.Context().config.Snapshot()->deviceUuid;
  const int32_t chosen = SelectedDevice() > 0 ? SelectedDevice() : wizard_.deviceId;
  std::vector<device::ListedDevice> others;
  const device::ListedDevice* own = nullptr;
  for (const device::ListedDevice& listed : devices) {
    if (listed.uuid == ownUuid) {
      own = &listed;
    } else if (listed.online) {
      others.push_back(listed);
    }
  }
  std::sort(others.begin(), others.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  const QSignalBlocker quiet(devices_);
  devices_->clear();
  QTreeWidgetItem* select = nullptr;
  auto add = [&](QTreeWidgetItem* group, const device::ListedDevice& listed) {
    auto* item = new QTreeWidgetItem(group, {Utf8(listed.name)});
    item->setIcon(0, Icon(DeviceListIcon(DeviceIconIndex(listed.trusted, true, listed.type))));
    item->setData(0, kIdRole, listed.id);
    if (listed.id == chosen || select == nullptr) select = item;
  };
  auto* ownGroup = new QTreeWidgetItem(devices_, {Translated(text::kThisDevice)});
  if (own) add(ownGroup, *own);
  auto* networkGroup = new QTreeWidgetItem(devices_, {Translated(text::kNetworkDevices)});
  for (const device::ListedDevice& listed : others) add(networkGroup, listed);
  for (QTreeWidgetItem* group : {ownGroup, networkGroup}) {
    group->setFlags(Qt::ItemIsEnabled);
    group->setExpanded(true);
  }
  if (select) devices_->setCurrentItem(select);
  const int32_t now = select ? select->data(0, kIdRole).toInt() : 0;
  if (now > 0 && now != shownDevice_) LoadFolders(now);
}

int32_t RemoteFolderPage::SelectedDevice() const {
  const QTreeWidgetItem* item = devices_->currentItem();
  return item ? item->data(0, kIdRole).toInt() : 0;
}

void RemoteFolderPage::LoadFolders(int32_t deviceId) {
  shownDevice_ = deviceId;
  folders_->clear();
  listed_.clear();
  device::CDevice peer;
  if (!peer.LoadById(deviceId)) return;
  ILinkRequests& requests = wizard_.Requests();
  const LinkTarget target{peer.uuid, peer.routeUri};
  RemoteFolders answer = WaitBusy(&wizard_, [&requests, &target] { return FetchRemoteFolders(requests, target); });
  if (!answer.failure.empty()) {
    wizard_.tell(Utf8(answer.failure), true);
    return;
  }
  listed_ = std::move(answer.folders);
  for (size_t index = 0; index < listed_.size(); ++index) {
    auto* item = new QTreeWidgetItem(folders_, {Utf8(listed_[index].name), Utf8(listed_[index].root)});
    item->setData(0, kIdRole, static_cast<int>(index));
  }
}

void RemoteFolderPage::CreateRemoteFolder() {
  device::CDevice peer;
  if (!peer.LoadById(SelectedDevice())) return;
  CreateSyncDirDialog dialog(wizard_.Requests(), {peer.uuid, peer.routeUri}, this);
  if (!dialog.LoadRoots() || dialog.exec() != QDialog::Accepted) return;
  LoadFolders(peer.id);
  // The folder just made is the last one the peer lists.
  if (const int count = folders_->topLevelItemCount(); count > 0) {
    folders_->setCurrentItem(folders_->topLevelItem(count - 1));
  }
}

bool RemoteFolderPage::validatePage() {
  const QTreeWidgetItem* item = folders_->currentItem();
  if (item == nullptr || !item->isSelected()) {
    wizard_.tell(QString::fromUtf8(Text(117)), false);
    return false;
  }
  wizard_.deviceId = shownDevice_;
  wizard_.remote = listed_.at(static_cast<size_t>(item->data(0, kIdRole).toInt()));
  return true;
}

LocalFolderPage::LocalFolderPage(LinkWizard& wizard) : QWizardPage(&wizard), wizard_(wizard) {
  setTitle(QString::fromUtf8(Text(113)));
  setSubTitle(QString::fromUtf8(Text(115)));
  setFinalPage(true);
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath(QDir::rootPath());
  folders_ = new QTreeView(this);
  folders_->setObjectName(QStringLiteral("localFolders"));
  folders_->setModel(model_);
  folders_->setHeaderHidden(true);
  for (int column = 1; column < model_->columnCount(); ++column) folders_->hideColumn(column);
  note_ = new QLineEdit(this);
  note_->setObjectName(QStringLiteral("localPath"));
  note_->setReadOnly(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(folders_, 1);
  layout->addWidget(note_);
  connect(folders_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            Choose(current.isValid() ? model_->filePath(current).toStdString() : std::string());
          });
}

void LocalFolderPage::initializePage() {
  const QModelIndex home = model_->index(QDir::homePath());
  folders_->setCurrentIndex(home);
  folders_->scrollTo(home);
  Choose(model_->filePath(home).toStdString());
}

void LocalFolderPage::Choose(const std::string& path) {
  const LocalFolderVerdict verdict = CheckLocalFolder(path, wizard_.remote.syncUuid);
  path_ = path;
  note_->setText(Utf8(LocalFolderNote(verdict, path)));
  usable_ = verdict == LocalFolderVerdict::kUsable;
  Q_EMIT completeChanged();
}

bool LocalFolderPage::validatePage() {
  // Finish ends the wizard whatever happens; only a success has a result.
  ILinkRequests& requests = wizard_.Requests();
  const std::string failure = WaitBusy(&wizard_, [&requests, id = wizard_.deviceId, remote = wizard_.remote,
                                                  path = path_] { return FinishLink(requests, id, remote, path); });
  if (failure.empty()) {
    wizard_.SetResult({wizard_.remote.syncUuid});
  } else {
    wizard_.tell(Utf8(failure), true);
  }
  return true;
}

NewFolderPage::NewFolderPage(LinkWizard& wizard) : QWizardPage(&wizard), wizard_(wizard) {
  setTitle(QString::fromUtf8(Text(128)));
  setSubTitle(QString::fromUtf8(Text(129)));
  setFinalPage(true);
  path_ = new QLineEdit(this);
  path_->setObjectName(QStringLiteral("newFolderPath"));
  auto* browse = new QPushButton(Translated(text::kBrowse), this);
  auto* note = new QLabel(Translated(text::kNewSyncFolderNote), this);
  note->setWordWrap(true);
  auto* row = new QHBoxLayout;
  row->addWidget(path_, 1);
  row->addWidget(browse);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Translated(text::kSyncFolderPathLabel), this));
  layout->addLayout(row);
  layout->addWidget(note);
  layout->addStretch(1);
  connect(browse, &QPushButton::clicked, this, &NewFolderPage::Browse);
}

void NewFolderPage::Browse() {
  const QString chosen =
      QFileDialog::getExistingDirectory(this, Translated(text::kPickFolderTitle), path_->text(),
                                        QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return;
  // The folder picker cannot refuse a folder by itself: a read-only one is
  // turned down here, before it becomes the path.
  if (!QFileInfo(chosen).isWritable()) {
    wizard_.tell(QString::fromUtf8(Text(129)), true);
    return;
  }
  path_->setText(chosen);
}

bool NewFolderPage::validatePage() {
  ILinkRequests& requests = wizard_.Requests();
  bool stay = false;
  const std::string failure = WaitBusy(&wizard_, [&requests, &stay, path = path_->text().toStdString()] {
    return FinishNewSyncFolder(requests, path, stay);
  });
  if (!failure.empty()) wizard_.tell(Utf8(failure), true);
  if (stay) return false;
  if (failure.empty()) wizard_.SetResult({});
  return true;
}

}  // namespace morvex::desktop
