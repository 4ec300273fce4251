// The two dialogs of a trust handshake: the asking side's wait for the
// answer, and the asked side's question. Both count down on their
// cancelling button and close by themselves when the time is up.
//
// Both are opened with open() (modal to their window without blocking).
// The countdown's timer only calls Tick(), and the broadcasts only
// OnBroadcast(), so that tests drive them without waiting.
#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <any>
#include <cstdint>
#include <memory>
#include <string>

#include "desktop/TrustActions.h"
#include "desktop/UiReceiver.h"
#include "platform/MessageLoop.h"

namespace morvex::desktop {

// The other device of a handshake.
struct TrustPeer {
  int32_t id = 0;  // its Device row
  std::string uuid;
  std::string name;
  int type = 0;
};

// How a trust dialog ended.
enum class TrustEnd {
  kOpen,       // not yet
  kAccepted,   // trust was given (waiting: the peer accepted)
  kRefused,    // the user or the peer said no
  kCancelled,  // the asking side withdrew (its user, or on the asked side its message)
  kTimedOut,   // the countdown ran out
};

// What the two dialogs share: the peer's picture and text, the countdown
// on the cancelling button, and how they end.
class TrustDialog : public QDialog {
  Q_OBJECT

 public:
  TrustEnd End() const { return end_; }
  const std::string& PeerUuid() const { return peer_.uuid; }
  int SecondsLeft() const { return secondsLeft_; }
  QPushButton* CountdownButton() const { return countdownButton_; }
  QString Message() const { return message_->text(); }

  // One second passed: the button shows one less; the dialog ends by
  // OnTimeUp() when none would be left.
  void Tick();
  // A broadcast for this dialog (on the window's thread).
  virtual void OnBroadcast(int code, const std::any& parameter) = 0;

 protected:
  TrustDialog(QWidget* parent, platform::MessageLoop& loop, ITrustActions& actions, TrustPeer peer, int seconds,
              std::vector<int> codes);
  virtual void OnTimeUp() = 0;
  // Closes the dialog as `end` (accepted only for kAccepted).
  void Finish(TrustEnd end);
  void ShowCountdown();

  ITrustActions& actions_;
  const TrustPeer peer_;
  // Children of the dialog (Qt owns them).
  QLabel* message_ = nullptr;
  QPushButton* countdownButton_ = nullptr;
  QHBoxLayout* buttons_ = nullptr;  // the derived dialog adds its buttons
  QTimer* timer_ = nullptr;

 private:
  int secondsLeft_;
  TrustEnd end_ = TrustEnd::kOpen;
  std::unique_ptr<UiReceiver> receiver_;
};

// The asking side: waits for the peer's answer to our offer.
class TrustWaitingDialog final : public TrustDialog {
  Q_OBJECT

 public:
  static constexpr int kSeconds = 30;
  TrustWaitingDialog(QWidget* parent, platform::MessageLoop& loop, ITrustActions& actions, TrustPeer peer);

  void OnBroadcast(int code, const std::any& parameter) override;
  // Escape, closing the window or the Cancel button: our offer is withdrawn.
  void reject() override;
  // The offer never reached the device: closes as refused, sending nothing.
  void Abandon();

 private:
  void OnTimeUp() override;
};

// The asked side: whether to trust the device that offers trust.
class TrustConfirmDialog final : public TrustDialog {
  Q_OBJECT

 public:
  TrustConfirmDialog(QWidget* parent, platform::MessageLoop& loop, ITrustActions& actions, TrustPeer peer,
                     int seconds);

  QPushButton* AcceptButton() const { return acceptButton_; }
  void OnBroadcast(int code, const std::any& parameter) override;
  // "Trust this device".
  void accept() override;
  // Escape, closing the window or the deny button: the offer is refused.
  void reject() override;

 private:
  void OnTimeUp() override;

  QPushButton* acceptButton_ = nullptr;
};

// Tells the user in a message box (not blocking) that a request about trust
// with the device did not get through, and why; returns the box (deleted
// when it closes).
QMessageBox* TellTrustFailure(QWidget* parent, const std::string& deviceUuid, TrustFailure failure);

}  // namespace morvex::desktop
