#pragma once

#include <cstdint>
#include <string>

#include "store/ContentObserver.h"

namespace morvex::config {

// The ports as the Config table holds them now, each its default when the row
// is missing. Read from the table rather than from a manager's snapshot, so a
// reader woken by a change notice sees the committed rows whichever observer
// the store notifies first.
struct StoredPorts {
  uint16_t broadcast;
  uint16_t route;
  uint16_t publish;
};
StoredPorts ReadStoredPorts();

// The feedback reminder's state ("first", "second", "Ok"; empty when the
// row is missing) and the start of its period in seconds since 1970 (0 when
// missing), read from and written to their Config rows alone. The store
// functions return false when the write failed.
std::string ReadFeedBackState();
int32_t ReadFirstTime();
bool StoreFeedBackState(const std::string& state);
bool StoreFirstTime(int32_t seconds);

// Change notices of the Config table, delivered to `observer` until it is
// taken off again.
void ObserveConfig(store::CContentObserver* observer);
void StopObservingConfig(store::CContentObserver* observer);

}  // namespace morvex::config
