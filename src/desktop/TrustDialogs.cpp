#include "desktop/TrustDialogs.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <utility>

#include "Morvex.pb.h"
#include "core/BroadcastService.h"
#include "desktop/DeviceIcons.h"
#include "desktop/Icons.h"
#include "desktop/Strings.h"
#include "device/Device.h"

namespace morvex::desktop {
namespace {

constexpr int kPeerIconSize = 128;
constexpr int kTickMs = 1000;

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TrustDialog::TrustDialog(QWidget* parent, platform::MessageLoop& loop, ITrustActions& actions, TrustPeer peer,
                         int seconds, std::vector<int> codes)
    : QDialog(parent), actions_(actions), peer_(std::move(peer)), secondsLeft_(seconds) {
  setWindowIcon(Icon(kIconApp));
  auto* picture = new QLabel(this);
  picture->setPixmap(Icon(DeviceKindIcon(peer_.type)).pixmap(kPeerIconSize, kPeerIconSize));
  message_ = new QLabel(this);
  message_->setWordWrap(true);
  message_->setMinimumWidth(340);
  countdownButton_ = new QPushButton(this);
  auto* body = new QHBoxLayout;
  body->addWidget(picture);
  body->addWidget(message_, 1);
  buttons_ = new QHBoxLayout;
  buttons_->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body);
  layout->addLayout(buttons_);
  ShowCountdown();
  timer_ = new QTimer(this);
  timer_->setInterval(kTickMs);
  connect(timer_, &QTimer::timeout, this, &TrustDialog::Tick);
  timer_->start();
  receiver_ = std::make_unique<UiReceiver>(
      loop, this, std::move(codes), [this](int code, const std::any& parameter) { OnBroadcast(code, parameter); });
}

void TrustDialog::ShowCountdown() {
  countdownButton_->setText(Utf8(Printf(core::Tr(Str(202)), secondsLeft_)));
}

void TrustDialog::Tick() {
  if (end_ != TrustEnd::kOpen) return;
  if (secondsLeft_ <= 1) {
    secondsLeft_ = 0;
    OnTimeUp();
    return;
  }
  --secondsLeft_;
  ShowCountdown();
}

void TrustDialog::Finish(TrustEnd end) {
  if (end_ != TrustEnd::kOpen) return;
  end_ = end;
  timer_->stop();
  done(end == TrustEnd::kAccepted ? QDialog::Accepted : QDialog::Rejected);
}

TrustWaitingDialog::TrustWaitingDialog(QWidget* parent, platform::MessageLoop& loop, ITrustActions& actions,
                                       TrustPeer peer)
    : TrustDialog(parent, loop, actions, std::move(peer), kSeconds, {core::BM_TRUST_ALLOW, core::BM_TRUST_DENY}) {
  setWindowTitle(core::Tr(text::kWaitingTitle));
  message_->setText(Utf8(Printf(core::Tr(Str(201)), peer_.name.c_str())));
  countdownButton_->setObjectName(QStringLiteral("cancelWaiting"));
  countdownButton_->setDefault(true);
  buttons_->addWidget(countdownButton_);
  connect(countdownButton_, &QPushButton::clicked, this, &TrustWaitingDialog::reject);
}

void TrustWaitingDialog::OnBroadcast(int code, const std::any& parameter) {
  // Both carry the Device row id of the device that answered.
  const auto* deviceId = std::any_cast<int32_t>(&parameter);
  if (!deviceId || *deviceId != peer_.id) return;
  if (code == core::BM_TRUST_ALLOW) Finish(TrustEnd::kAccepted);
  if (code == core::BM_TRUST_DENY) Finish(TrustEnd::kRefused);
}

void TrustWaitingDialog::Abandon() { Finish(TrustEnd::kRefused); }

void TrustWaitingDialog::reject() {
  if (End() != TrustEnd::kOpen) return;
  actions_.Refuse(peer_.uuid);
  Finish(TrustEnd::kCancelled);
}

// Nothing is sent: the offer in the service runs out by itself.
void TrustWaitingDialog::OnTimeUp() { Finish(TrustEnd::kTimedOut); }

TrustConfirmDialog::TrustConfirmDialog(QWidget* parent, platform::MessageLoop& loop, ITrustActions& actions,
                                       TrustPeer peer, int seconds)
    : TrustDialog(parent, loop, actions, std::move(peer), seconds, {core::BM_TRUST_CANCEL}) {
  setWindowTitle(core::Tr(text::kConfirmTitle));
  message_->setText(Utf8(Printf(core::Tr(Str(200)), peer_.name.c_str())));
  acceptButton_ = new QPushButton(core::Tr(text::kTrustThisDevice), this);
  acceptButton_->setObjectName(QStringLiteral("acceptTrust"));
  acceptButton_->setDefault(true);
  countdownButton_->setObjectName(QStringLiteral("denyTrust"));
  buttons_->addWidget(acceptButton_);
  buttons_->addWidget(countdownButton_);
  connect(acceptButton_, &QPushButton::clicked, this, &TrustConfirmDialog::accept);
  connect(countdownButton_, &QPushButton::clicked, this, &TrustConfirmDialog::reject);
}

void TrustConfirmDialog::OnBroadcast(int code, const std::any& parameter) {
  const auto* info = std::any_cast<qo::WinTrustInfo>(&parameter);
  if (code != core::BM_TRUST_CANCEL || !info || info->device_uuid() != peer_.uuid) return;
  // The service has already dropped the withdrawn offer: nothing to refuse.
  Finish(TrustEnd::kCancelled);
}

void TrustConfirmDialog::accept() {
  if (End() != TrustEnd::kOpen) return;
  actions_.Accept(peer_.uuid);
  Finish(TrustEnd::kAccepted);
}

void TrustConfirmDialog::reject() {
  if (End() != TrustEnd::kOpen) return;
  actions_.Refuse(peer_.uuid);
  Finish(TrustEnd::kRefused);
}

void TrustConfirmDialog::OnTimeUp() {
  actions_.Refuse(peer_.uuid);
  Finish(TrustEnd::kTimedOut);
}

QMessageBox* TellTrustFailure(QWidget* parent, const std::string& deviceUuid, TrustFailure failure) {
  device::CDevice device;
  const std::string name = device.LoadByUuid(deviceUuid) ? device.name : deviceUuid;
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(Text(107)),
                              Utf8(TrustFailureText(failure, name)), QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return box;
}

}  // namespace morvex::desktop
