// The trust handshake as the desktop asks its own service to run it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "desktop/DesktopContext.h"

namespace google::protobuf {
class MessageLite;
}

namespace morvex::desktop {

// What the devices page and the trust dialogs do about trust. The service
// keeps every handshake in progress (so the desktop and morvexctl can be
// mixed); the windows only tell it what the user decided.
class ITrustActions {
 public:
  virtual ~ITrustActions() = default;
  // Offers trust to the device, open for `timeoutSeconds`.
  virtual void Offer(const std::string& deviceUuid, int timeoutSeconds) = 0;
  // Accepts the device's offer of trust.
  virtual void Accept(const std::string& deviceUuid) = 0;
  // Refuses the device's offer, or withdraws our own offer to it.
  virtual void Refuse(const std::string& deviceUuid) = 0;
  // Ends the trust with the device, on both sides.
  virtual void EndTrust(const std::string& deviceUuid) = 0;
};

// Why a request about trust did not get through.
enum class TrustFailure {
  kPeerUnreachable,  // the device did not answer the service in time
  kRefused,          // the device or the service refused (the logs say why)
  kServiceSilent,    // the own service did not answer
};

// What went wrong, from the service's answer to a local trust request of
// `code`: nothing when it went through. `accepted` is whether the answer to
// an acceptance (MC_LINUX_TRUST_REQUEST) says the device took it.
std::optional<TrustFailure> ClassifyTrustAnswer(int code, bool answered, std::optional<int> refusal, bool accepted);

// The sentence the user reads about a failure with the device `name`.
std::string TrustFailureText(TrustFailure failure, const std::string& name);

// The local requests over the service's route port, signed with this
// device's key, as `morvexctl trust request|accept|deny|revoke` sends them.
// The service waits for the peer before it answers, so each request runs on
// a thread of its own pool and never holds up the windows; the outcome is
// seen through the Device table and the broadcasts; a failure is logged and
// reported (OnFailure), so that the user is told.
class LocalTrustClient final : public ITrustActions {
 public:
  using FailureReport = std::function<void(const std::string& deviceUuid, TrustFailure failure)>;
  explicit LocalTrustClient(const DesktopContext& context);
  // Waits for the requests still running (each ends by its time-out).
  ~LocalTrustClient() override;

  void Offer(const std::string& deviceUuid, int timeoutSeconds) override;
  void Accept(const std::string& deviceUuid) override;
  void Refuse(const std::string& deviceUuid) override;
  void EndTrust(const std::string& deviceUuid) override;

  // Failures go to `report`, run on the Qt thread while `receiver` lives
  // (dropped once it is gone). Set on the Qt thread before any request.
  void OnFailure(QObject* receiver, FailureReport report);

 private:
  // Sends `code` with `body` on a thread of the pool; a failure is logged
  // as failing to `what` the device.
  void Send(int code, std::shared_ptr<const google::protobuf::MessageLite> body, const char* what,
            const std::string& deviceUuid);

  const DesktopContext& context_;
  QPointer<QObject> receiver_;
  FailureReport report_;
  QThreadPool pool_;
};

}  // namespace morvex::desktop
