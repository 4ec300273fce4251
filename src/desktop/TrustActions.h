// The trust handshake as the desktop asks its own service to run it.
#pragma once

#include <QThreadPool>
#include <memory>
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

// The local requests over the service's route port, signed with this
// device's key, as `morvexctl trust request|accept|deny|revoke` sends them.
// The service waits for the peer before it answers, so each request runs on
// a thread of its own pool and never holds up the windows; the outcome is
// seen through the Device table and the broadcasts, failures in the log.
class LocalTrustClient final : public ITrustActions {
 public:
  explicit LocalTrustClient(const DesktopContext& context);
  // Waits for the requests still running (each ends by its time-out).
  ~LocalTrustClient() override;

  void Offer(const std::string& deviceUuid, int timeoutSeconds) override;
  void Accept(const std::string& deviceUuid) override;
  void Refuse(const std::string& deviceUuid) override;
  void EndTrust(const std::string& deviceUuid) override;

 private:
  // Sends `code` with `body` on a thread of the pool; a failure is logged
  // as failing to `what` the device.
  void Send(int code, std::shared_ptr<const google::protobuf::MessageLite> body, const char* what,
            const std::string& deviceUuid);

  const DesktopContext& context_;
  QThreadPool pool_;
};

}  // namespace morvex::desktop
