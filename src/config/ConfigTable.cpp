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

store::CSelection KeyRow(const char* name) { return store::CSelection("name = ? ").AddString(name); }

}  // namespace

std::string ReadFeedBackState() {
  return CContentResolver::Instance().QueryStringDup(uris::Config(), "value", KeyRow(keys::kFeedBack)).value_or("");
}

int32_t ReadFirstTime() {
  return static_cast<int32_t>(
      CContentResolver::Instance().QueryInt64(uris::Config(), "value", 0, KeyRow(keys::kFirstTime)));
}

bool StoreFeedBackState(const std::string& state) {
  store::CContentValues row;
  row.PutString("name", keys::kFeedBack);
  row.PutString("value", state);
  return CContentResolver::Instance().Insert(uris::Config(), row, store::kConflictReplace) > 0;
}

bool StoreFirstTime(int32_t seconds) {
  store::CContentValues row;
  row.PutString("name", keys::kFirstTime);
  row.PutInt("value", seconds);
  return CContentResolver::Instance().Insert(uris::Config(), row, store::kConflictReplace) > 0;
}

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
