#include "sync/ListingPage.h"

#include "peer/PathRules.h"
#include "protocol/MessageLimits.h"

namespace morvex::sync {

bool DecodeListingPage(const std::string& body, qo::MsgFindResponse& page) {
  return protocol::limits::ParseBounded(page, body);
}

ListedPlace PlaceOfRecord(const std::string& treeRoot, const qo::Stat& stat) {
  if (stat.path() == "/") return {ListedPlace::kTreeRoot, {}};
  auto fullPath = peer::ConfinedPath(treeRoot, stat.path());
  if (!fullPath) return {ListedPlace::kInvalidName, {}};
  return {ListedPlace::kLocal, std::move(*fullPath)};
}

}  // namespace morvex::sync
