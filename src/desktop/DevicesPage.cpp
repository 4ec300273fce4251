#include "desktop/DevicesPage.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QVBoxLayout>

#include "desktop/DeviceIcons.h"
#include "desktop/Icons.h"
#include "desktop/Strings.h"
#include "desktop/TrustDialogs.h"
#include "device/Device.h"

namespace morvex::desktop {
namespace {

enum Column : int { kNameColumn = 0, kAddressColumn = 1, kTrustColumn = 2 };
constexpr int kDeviceIdRole = Qt::UserRole;
constexpr int kIconSize = 48;

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// Follows the Device table: the query runs where the change is written, the
// list is filled on the page's thread, and not at all once the page is gone.
DevicesPage::DevicesPage(const DesktopContext& context, QWidget* parent)
    : DevicesPage(context, parent, std::make_unique<LocalTrustClient>(context), nullptr) {
  static_cast<LocalTrustClient&>(*ownActions_).OnFailure(
      this, [this](const std::string& deviceUuid, TrustFailure failure) { OnTrustFailed(deviceUuid, failure); });
}

DevicesPage::DevicesPage(const DesktopContext& context, QWidget* parent, ITrustActions& actions)
    : DevicesPage(context, parent, nullptr, &actions) {}

DevicesPage::DevicesPage(const DesktopContext& context, QWidget* parent, std::unique_ptr<ITrustActions> ownActions,
                         ITrustActions* actions)
    : QWidget(parent),
      context_(context),
      ownActions_(std::move(ownActions)),
      actions_(actions ? *actions : *ownActions_) {
  confirm_ = [this](const QString& question) {
    return QMessageBox::question(this, QString(), question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("deviceList"));
  list_->setColumnCount(3);
  list_->setHeaderLabels({QString::fromUtf8(Text(145)), QString::fromUtf8(Text(148)), QString::fromUtf8(Text(150))});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setIconSize(QSize(kIconSize, kIconSize));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(kAddressColumn, QHeaderView::Stretch);
  list_->setColumnWidth(kNameColumn, 180);
  list_->setColumnWidth(kTrustColumn, 80);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_, &QWidget::customContextMenuRequested, this, &DevicesPage::ShowMenu);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);

  Fill(device::ReadDeviceList(device::QueryDeviceList().get()));
  observer_ = std::make_unique<UiObserver>(context_.loop, this, device::QueryDeviceList,
                                           [this](std::unique_ptr<store::CSQLiteCursor> cursor) {
                                             Fill(device::ReadDeviceList(cursor.get()));
                                           });
  device::ObserveDevices(observer_.get());
}

DevicesPage::~DevicesPage() { device::StopObservingDevices(observer_.get()); }

void DevicesPage::Fill(const std::vector<device::ListedDevice>& devices) {
  list_->setUpdatesEnabled(false);
  list_->clear();
  for (const device::ListedDevice& device : devices) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(kNameColumn, Utf8(device.name));
    item->setIcon(kNameColumn, Icon(DeviceListIcon(DeviceIconIndex(device.trusted, device.online, device.type))));
    item->setText(kAddressColumn, Utf8(device.routeUri));
    if (device.trusted) item->setIcon(kTrustColumn, Icon(TrustMarkIcon(device.online)));
    item->setData(kNameColumn, kDeviceIdRole, device.id);
  }
  list_->setUpdatesEnabled(true);
}

std::unique_ptr<QMenu> DevicesPage::MenuForSelection() {
  QTreeWidgetItem* item = list_->currentItem();
  if (!item || !item->isSelected()) return nullptr;
  const int32_t deviceId = item->data(kNameColumn, kDeviceIdRole).toInt();
  device::CDevice device;
  if (!device.LoadById(deviceId)) return nullptr;
  auto menu = std::make_unique<QMenu>(this);
  QAction* action = menu->addAction(QString::fromUtf8(Text(device.trust != 0 ? 161 : 160)));
  action->setEnabled(device.uuid != context_.config.Snapshot()->deviceUuid);
  if (device.trust != 0) {
    connect(action, &QAction::triggered, this, [this, deviceId] { EndTrust(deviceId); });
  } else {
    connect(action, &QAction::triggered, this, [this, deviceId] { OfferTrust(deviceId); });
  }
  return menu;
}

void DevicesPage::ShowMenu(const QPoint& position) {
  if (std::unique_ptr<QMenu> menu = MenuForSelection()) menu->exec(list_->viewport()->mapToGlobal(position));
}

TrustWaitingDialog* DevicesPage::OfferTrust(int32_t deviceId) {
  device::CDevice device;
  if (!device.LoadById(deviceId)) return nullptr;
  actions_.Offer(device.uuid, TrustWaitingDialog::kSeconds);
  auto* dialog =
      new TrustWaitingDialog(this, context_.loop, actions_, {device.id, device.uuid, device.name, device.type});
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->open();
  return dialog;
}

void DevicesPage::EndTrust(int32_t deviceId) {
  device::CDevice device;
  if (!device.LoadById(deviceId)) return;
  if (!confirm_(Utf8(Printf(core::Tr(Str(162)), device.name.c_str())))) return;
  // The service clears the trust here and tells the device; the list
  // follows through the observer.
  actions_.EndTrust(device.uuid);
}

void DevicesPage::OnTrustFailed(const std::string& deviceUuid, TrustFailure failure) {
  for (TrustWaitingDialog* dialog : findChildren<TrustWaitingDialog*>()) {
    if (dialog->PeerUuid() == deviceUuid) dialog->Abandon();
  }
  TellTrustFailure(this, deviceUuid, failure);
}

}  // namespace morvex::desktop
