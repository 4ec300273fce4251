#pragma once

#include <string>

#include "Morvex.pb.h"

// A page of a peer's listing as a pass reads it. Everything in it comes
// from the peer; these functions decide what of it may be used, before any
// record touches the database or the local tree.
namespace morvex::sync {

// Parses a listing page; false when it does not parse or breaks a bound of
// protocol/MessageLimits.h (logged).
bool DecodeListingPage(const std::string& body, qo::MsgFindResponse& page);

// Where one listed record lands in the local tree.
struct ListedPlace {
  enum Kind {
    kTreeRoot,     // the record of the root itself: the tree, nothing to do
    kInvalidName,  // a path that breaks the path rules or could lead out of the tree
    kLocal,        // fullPath: the confined local path of the record
  };
  Kind kind = kInvalidName;
  std::string fullPath;
};
ListedPlace PlaceOfRecord(const std::string& treeRoot, const qo::Stat& stat);

}  // namespace morvex::sync
