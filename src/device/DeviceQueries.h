#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/Device.h"
#include "Morvex.pb.h"
#include "store/ContentObserver.h"
#include "store/Operations.h"

namespace morvex::device {

// What other modules ask of the Device and DeviceTTL tables, named for the
// question; no caller outside this folder names the tables itself.

// The route address of a device; empty when the device is unknown or has
// none (then nothing can be sent to it).
std::string RouteUri(const std::string& uuid);

// Whether a device is marked online; an unknown device is not.
bool IsOnline(const std::string& uuid);

// The name of a device into `name`; false (name untouched) when unknown.
bool DeviceName(const std::string& uuid, std::string& name);

// A device marked online, as the subscriptions need it.
struct OnlineDevice {
  int32_t id = 0;
  std::string uuid;
  std::string pubUri;
  bool trusted = false;
};
std::vector<OnlineDevice> OnlineDevices();

// The trusted devices marked online, whole rows.
std::vector<CDevice> TrustedOnlineDevices();

// Marks a device offline (it said it leaves).
void MarkOffline(const std::string& uuid);
// Marks a device marked offline online again: it answered. A device already
// online is not written (no change notice).
void MarkOnline(const std::string& uuid);

// One minute of ageing: every ttl counts down; untrusted devices whose ttl
// ran out are dropped, trusted ones but `ownUuid` marked offline. One batch.
void AgeDevices(const std::string& ownUuid);

// Whether a row for the device exists.
bool DeviceKnown(const std::string& uuid);

// Adds a device as this device's tools describe it: untrusted and online,
// after making room among the untrusted rows. False when no row was added.
bool AddUntrustedDevice(const qo::MsgDeviceAddRequest& add);

// Deletes a device's row; true when exactly one went.
bool DeleteDevice(const std::string& uuid);

// The UUIDs that begin with `prefix` (which holds no LIKE wildcard).
std::vector<std::string> UuidsStartingWith(const std::string& prefix);

// Adds to `batch` the deletion of every device but `ownUuid`, and of every
// ttl.
void ForgetOtherDevices(store::COperationList& batch, const std::string& ownUuid);

// Deletes every device row and every ttl.
void DeleteAllDevices();

// This device's own row, as its configuration describes it.
struct OwnDevice {
  std::string uuid;
  std::string name;
  std::string routeUri;
  std::string pubUri;
  std::string publicKeyDer;
};
// Inserts the own row (trusted, static, online) unless one exists.
void InsertOwnDevice(const OwnDevice& own);
// Brings the own row's name and addresses up to date and keeps it trusted.
void UpdateOwnDevice(const OwnDevice& own);

// A device as the desktop's device list shows it.
struct ListedDevice {
  int32_t id = 0;
  std::string uuid;
  std::string name;
  std::string routeUri;
  int32_t type = 0;
  bool trusted = false;
  bool online = false;
};
// The device list's rows: online devices first, then trusted ones, then by
// name. The query runs where a change is noticed, the reading where it is
// shown (a content observer's two halves).
std::unique_ptr<store::CSQLiteCursor> QueryDeviceList();
std::vector<ListedDevice> ReadDeviceList(store::CSQLiteCursor* rows);

// Change notices of the Device table, delivered to `observer` until it is
// taken off again.
void ObserveDevices(store::CContentObserver* observer);
void StopObservingDevices(store::CContentObserver* observer);

}  // namespace morvex::device
