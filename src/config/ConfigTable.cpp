#include "config/ConfigTable.h"

#include "config/ConfigKeys.h"
#include "store/ContentResolver.h"

namespace morvex::config {

using store::CContentResolver;
namespace uris = store::uris;

namespace {

uint16_t ReadPort(const char* name, uint16_t fallback) {
  const int64_t value = CContentResolver::Instance().QueryInt64(uris::Config(), "value", -1,
                                                                store::CSelection("name = ? ").AddString(name));
  return value < 0 ? fallback : static_cast<uint16_t>(value);
}

}  // namespace

StoredPorts ReadStoredPorts() {
  return {ReadPort(keys::kBroadcastPort, kDefaultBroadcastPort), ReadPort(keys::kRoutePort, kDefaultRoutePort),
          ReadPort(keys::kPubPort, kDefaultPubPort)};
}

void ObserveConfig(store::CContentObserver* observer) {
  CContentResolver::Instance().RegisterObserver(uris::Config(), false, observer);
}

void StopObservingConfig(store::CContentObserver* observer) {
  CContentResolver::Instance().UnregisterObserver(uris::Config(), observer);
}

}  // namespace morvex::config
