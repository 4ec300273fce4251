#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Handler.h"

namespace morvex::core {

// Codes of the in-process broadcast of interface events.
enum BroadcastCode : int {
  BM_SYNC_BEGIN = 1,
  BM_SYNC_END = 2,
  BM_TRUST_REQUEST = 3,
  BM_TRUST_ALLOW = 4,
  BM_TRUST_DENY = 5,
  BM_TRUST_CANCEL = 6,
  BM_DELETE_APPLIED = 7,  // a DeletionsEvent
  BM_INDEX_BEGIN = 9,
  BM_INDEX_PROGRESS = 10,
  BM_BYTES_TOTAL = 11,
  BM_BYTES_DONE = 12,
  BM_BYTES_SKIPPED = 13,
  BM_FILES_TOTAL = 14,
  BM_FILES_DONE = 15,
  BM_FILES_LEFT = 16,
  BM_INVALID_NAME = 17,  // a PathEvent: the name a peer sent that cannot exist here
  BM_FEEDBACK_REMIND = 18,
  // A datagram named a trusted device but carried another key: someone may
  // be posing as it. The parameter is a DeviceKeyEvent.
  BM_TRUSTED_KEY_MISMATCH = 19,
  // A conflict kept both versions: the parameter is a PathEvent naming the
  // copy and the peer whose version met ours.
  BM_CONFLICT_COPY = 20,
  // A pass over a relation ended with work not done: a PathEvent naming the
  // local folder and the peer.
  BM_PASS_FAILED = 21,
  // Discovery datagrams came from an address that sends with another sync
  // password: the two devices cannot see each other. An AddressEvent, once
  // per address while the service runs.
  BM_OTHER_PASSWORD = 22,
};

// A receiver of broadcasts. With a handler, OnReceive runs on the handler's
// thread (normally the main loop); without, it runs on the broadcasting
// thread while the service's lock is held, so it must not call back into
// the service. Parameters travel by value (std::any), so every receiver gets
// its own view and nothing needs freeing.
class CBroadcastReceiver {
 public:
  CBroadcastReceiver() = default;
  // The receiver uses `handler` without owning it.
  explicit CBroadcastReceiver(CHandler* handler) : handler_(handler) {}
  explicit CBroadcastReceiver(std::unique_ptr<CHandler> handler)
      : handler_(handler.get()), ownedHandler_(std::move(handler)) {}
  CBroadcastReceiver(const CBroadcastReceiver&) = delete;
  CBroadcastReceiver& operator=(const CBroadcastReceiver&) = delete;
  virtual ~CBroadcastReceiver() = default;

  // True when handled.
  virtual bool OnReceive(int code, const std::any& parameter) = 0;
  CHandler* Handler() const { return handler_; }

 private:
  CHandler* handler_ = nullptr;
  std::unique_ptr<CHandler> ownedHandler_;
};

// Runs one receiver's OnReceive; posted to the receiver's handler.
class COnChangeRunable final : public IRunnable {
 public:
  COnChangeRunable(CBroadcastReceiver* receiver, int code, std::any parameter)
      : receiver_(receiver), code_(code), parameter_(std::move(parameter)) {}
  uint32_t Run() override;

 private:
  CBroadcastReceiver* receiver_;
  int code_;
  std::any parameter_;
};

// The process-wide broadcast of interface events.
// Thread safety: every operation may be called from any thread; the
// registry is guarded by mutex_ (recursive, so that a receiver without a
// handler may register others while it is being called).
class CBroadcastService {
 public:
  static CBroadcastService& Instance();

  CBroadcastService() = default;
  CBroadcastService(const CBroadcastService&) = delete;
  CBroadcastService& operator=(const CBroadcastService&) = delete;
  virtual ~CBroadcastService() = default;

  // A receiver registered twice for a code is called twice.
  void Register(int code, CBroadcastReceiver* receiver);
  // Removes every registration of the receiver for the code.
  void Unregister(int code, CBroadcastReceiver* receiver);
  // A code without receivers is dropped.
  void Broadcast(int code, std::any parameter = {});

 private:
  std::recursive_mutex mutex_;
  std::map<int, std::vector<CBroadcastReceiver*>> receivers_;  // guarded by mutex_
};

// A broadcast's parameter as `T`; T{} for a missing one or one of another
// type (a receiver never trusts the broadcaster to have sent the right one).
template <typename T>
T ParameterAs(const std::any& parameter) {
  const T* value = std::any_cast<T>(&parameter);
  return value ? *value : T{};
}

// Parameters of the progress broadcasts.
struct IndexEvent {
  int32_t treeId = 0;
  int32_t count = 0;
};
struct ByteEvent {
  int32_t treeId = 0;
  int32_t syncId = 0;
  int64_t bytes = 0;
};
struct FileEvent {
  int32_t treeId = 0;
  int32_t syncId = 0;
  int32_t count = 0;
};
// BM_DELETE_APPLIED: `count` deletions a peer's pass applied in `root`.
struct DeletionsEvent {
  std::string deviceUuid;
  std::string root;
  int32_t count = 0;
};
struct PathEvent {
  std::string deviceUuid;
  std::string path;
};
struct AddressEvent {
  std::string address;
};
struct DeviceKeyEvent {
  std::string deviceUuid;
  std::string deviceName;  // as this device knows it
  std::string address;     // where the datagram came from
};

}  // namespace morvex::core
