#pragma once

#include <string>

namespace morvex::protocol {

// What the protected envelope asks of the device's key store. Keys are DER
// (private: PKCS#1; public: SubjectPublicKeyInfo); empty means none.
// Implementations serialise their own lookups: any thread may ask.
class IKeyManager {
 public:
  virtual ~IKeyManager() = default;
  virtual std::string GetPrivateKey() = 0;
  // The key of a device by UUID: of a trusted device only, or of any known
  // device when `trustedOnly` is false.
  virtual std::string GetPublicKey(const std::string& deviceUuid, bool trustedOnly) = 0;
};

}  // namespace morvex::protocol
