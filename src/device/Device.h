#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Morvex.pb.h"
#include "store/ContentValues.h"

namespace morvex::device {

// One row of Device held in memory: loaded, changed, saved and dropped by
// one operation of the peer services (never shared between threads). The
// dirty mask records which columns Save() writes.
class CDevice {
 public:
  enum Dirty : uint32_t {
    kDirtyUuid = 0x1,
    kDirtyName = 0x2,
    kDirtyType = 0x4,
    kDirtyRouteUri = 0x8,
    kDirtyPubUri = 0x10,
    kDirtyPubkey = 0x20,
    kDirtyTrust = 0x40,
    kDirtyClass = 0x80,
    kDirtyOnline = 0x100,
  };

  bool LoadById(int32_t id);
  bool LoadByUuid(const std::string& uuid);
  // Every row, in table order.
  static std::vector<CDevice> LoadAll();
  static CDevice FromDiscover(const qo::MsgDiscoverWin& discover);
  // Takes what the datagram changes; true when anything did. A trusted
  // device keeps its key whatever a datagram says: a device that made new
  // keys comes back with a new UUID.
  bool MergeDiscover(const qo::MsgDiscoverWin& discover);
  // Whether `der` (a key as the network carries it) is the stored key.
  bool HasKey(const std::string& der) const;
  bool Save();
  // An untrusted row first makes room among the untrusted ones.
  bool Insert();
  bool ResetTtl();
  bool SetTrusted();
  bool SetUntrusted();

  uint32_t dirty = 0;
  int32_t id = 0;
  std::string uuid;
  std::string name;
  int32_t type = qo::DEVICE_LINUX;
  int32_t deviceClass = qo::DEVICE_DYNAMIC;
  int32_t online = 0;
  std::string routeUri;
  std::string pubUri;
  int32_t trust = 0;
  std::string pubkey;  // PEM

 private:
  bool Load(const store::CSelection& selection);
  bool UpdateTrust(int32_t value);
};

// Deletes every untrusted device and marks every trusted one but this
// device offline, in one batch.
void ResetDevices(const std::string& ownUuid);

// Untrusted devices kept at most: strangers may announce any number of
// UUIDs, and every row costs memory and a subscription.
inline constexpr int kMaxUntrustedDevices = 256;

// Deletes untrusted rows until at most `keep` are left, those seen least
// recently first (lowest ttl, then the oldest row). Trusted rows stay.
// Returns the number of rows deleted.
int64_t TrimUntrustedDevices(int keep);

// A DER public key from the network as the PEM text Device stores; empty
// (with a WARNING) when it does not convert.
std::string NetworkKeyToPem(const std::string& der);

}  // namespace morvex::device
