#include "index/VectorClock.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "core/StringPrintf.h"
#include "store/ContentResolver.h"

namespace morvex::index {
namespace {

constexpr size_t kComponentBytes = 4;

int32_t ReadLe32(const uint8_t* bytes) {
  const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(value);
}

void AppendLe32(std::vector<uint8_t>& out, int32_t component) {
  const auto value = static_cast<uint32_t>(component);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// How one component of a compares with the same component of b.
enum Step { kBelow = 0, kSame = 1, kAbove = 2 };

// kNext[state][step]: once a component was below and another above, the
// clocks are concurrent for good.
constexpr ClockOrder kNext[4][3] = {
    /* VC_LESS     */ {VC_LESS, VC_LESS, VC_CONFLICT},
    /* VC_EQUAL    */ {VC_LESS, VC_EQUAL, VC_GREATER},
    /* VC_GREATER  */ {VC_CONFLICT, VC_GREATER, VC_GREATER},
    /* VC_CONFLICT */ {VC_CONFLICT, VC_CONFLICT, VC_CONFLICT},
};

int32_t StoredIndex(store::CContentResolver& resolver, int32_t treeId, const std::string& uuid) {
  return resolver.QueryInt(store::uris::VCUuid(), "clock_index", -1,
                           store::CSelection("tree_id = ? AND clock_uuid = ? ").AddInt(treeId).AddString(uuid));
}

int32_t IndexOf(store::CContentResolver& resolver, int32_t treeId, const std::string& uuid) {
  const int32_t known = StoredIndex(resolver, treeId, uuid);
  if (known > 0) return known;

  // Reading the maximum and inserting one more is a single statement, so no
  // other writer (thread or process) can take the same index in between. When
  // another thread inserted this UUID first, the unique key makes our insert
  // a no-op and the lookup below returns the winner's index.
  store::CContentValues row;
  row.PutInt("tree_id", treeId)
      .PutString("clock_uuid", uuid)
      .PutExpression("clock_index",
                     core::StringPrintf("(SELECT IFNULL(MAX(clock_index), 0) + 1 FROM VCUuid WHERE tree_id = %d)",
                                        treeId));
  resolver.Insert(store::uris::VCUuid(), row, store::kConflictIgnore);
  const int32_t assigned = StoredIndex(resolver, treeId, uuid);
  if (assigned > 0) return assigned;

  // No usable row (the write failed, or a row with index 0 or less blocks
  // the key): still give the tree a fresh index so that its counter does not
  // land on another tree's component.
  return resolver.QueryInt(store::uris::VCUuid(), "MAX(clock_index)", 0,
                           store::CSelection("tree_id = ? ").AddInt(treeId)) + 1;
}

}  // namespace

CVectorClock::CVectorClock(const IVectorClock& other) : counters_(other.Data().begin(), other.Data().end()) {}

CVectorClock::CVectorClock(int32_t local, const void* otherBlob, int blobBytes) {
  const size_t others = otherBlob == nullptr || blobBytes <= 0 ? 0 : static_cast<size_t>(blobBytes) / kComponentBytes;
  counters_.reserve(1 + others);
  counters_.push_back(local);
  const auto* bytes = static_cast<const uint8_t*>(otherBlob);
  for (size_t k = 0; k < others; ++k) counters_.push_back(ReadLe32(bytes + k * kComponentBytes));
}

CVectorClock::CVectorClock(const ClockIndexMap& map, std::span<const int32_t> vclock)
    : counters_(static_cast<size_t>(std::max(map.max_index, 0)) + 1, 0) {
  const size_t count = std::min(vclock.size(), map.indexes.size());
  for (size_t k = 0; k < count; ++k) {
    const int32_t index = map.indexes[k];
    if (index < 0) continue;
    // A map from MapClockUuids never exceeds its max_index; a hand-made one
    // may, and losing the counter would be worse than growing.
    if (static_cast<size_t>(index) >= counters_.size()) counters_.resize(static_cast<size_t>(index) + 1, 0);
    counters_[static_cast<size_t>(index)] = vclock[k];
  }
  size_t length = counters_.size();
  while (length > 1 && counters_[length - 1] == 0) --length;
  counters_.resize(length);
}

int32_t CVectorClock::At(int32_t index) const {
  if (index < 0 || index >= Length()) return 0;
  return counters_[static_cast<size_t>(index)];
}

void CVectorClock::Increment(int32_t index) {
  if (index < 0) return;
  const auto position = static_cast<size_t>(index);
  if (position >= counters_.size()) counters_.resize(position + 1, 0);
  ++counters_[position];
}

void CVectorClock::Merge(const IVectorClock& other) {
  const std::span<const int32_t> theirs = other.Data();
  const size_t mine = counters_.size();
  const size_t common = std::min(mine, theirs.size());
  for (size_t i = 0; i < common; ++i) counters_[i] = std::max(counters_[i], theirs[i]);
  // Only reached when `other` is longer, so never with other == *this.
  if (theirs.size() > mine) {
    counters_.insert(counters_.end(), theirs.begin() + static_cast<ptrdiff_t>(mine), theirs.end());
  }
}

ClockOrder Compare(const IVectorClock& a, const IVectorClock& b) {
  const std::span<const int32_t> x = a.Data();
  const std::span<const int32_t> y = b.Data();
  const size_t common = std::min(x.size(), y.size());
  ClockOrder state = VC_EQUAL;
  for (size_t i = 0; i < common; ++i) {
    const Step step = x[i] < y[i] ? kBelow : (x[i] == y[i] ? kSame : kAbove);
    state = kNext[state][step];
    if (state == VC_CONFLICT) return state;
  }
  // Beyond the shorter clock the other reads as 0: any counter there counts
  // once for the longer side.
  const auto nonZero = [](int32_t component) { return component != 0; };
  if (std::any_of(x.begin() + static_cast<ptrdiff_t>(common), x.end(), nonZero)) state = kNext[state][kAbove];
  if (std::any_of(y.begin() + static_cast<ptrdiff_t>(common), y.end(), nonZero)) state = kNext[state][kBelow];
  return state;
}

std::vector<uint8_t> OtherClockBlob(const IVectorClock& clock) {
  const std::span<const int32_t> components = clock.Data();
  std::vector<uint8_t> blob;
  if (components.size() < 2) return blob;
  blob.reserve((components.size() - 1) * kComponentBytes);
  for (size_t i = 1; i < components.size(); ++i) AppendLe32(blob, components[i]);
  return blob;
}

ClockIndexMap MapClockUuids(int32_t treeId, const std::vector<std::string>& uuids) {
  store::CContentResolver& resolver = store::CContentResolver::Instance();
  const std::optional<std::string> own = resolver.QueryStringDup(store::uris::Tree(), "tree_uuid",
                                                                         store::CSelection("id = ? ").AddInt(treeId));
  ClockIndexMap map;
  map.indexes.reserve(uuids.size());
  for (const std::string& uuid : uuids) {
    // Byte-for-byte: UUIDs differing in case are different trees.
    const int32_t index = own && uuid == *own ? 0 : IndexOf(resolver, treeId, uuid);
    map.indexes.push_back(index);
    map.max_index = std::max(map.max_index, index);
  }
  return map;
}

ClockIndexMap LookupClockUuids(int32_t treeId, const std::vector<std::string>& uuids) {
  store::CContentResolver& resolver = store::CContentResolver::Instance();
  const std::optional<std::string> own = resolver.QueryStringDup(store::uris::Tree(), "tree_uuid",
                                                                         store::CSelection("id = ? ").AddInt(treeId));
  // One read of the tree's whole numbering instead of one query per UUID.
  std::unordered_map<std::string, int32_t> known;
  auto rows = resolver.Query(store::uris::VCUuid(), {"clock_uuid", "clock_index"},
                             store::CSelection("tree_id = ? ").AddInt(treeId));
  while (rows && rows->MoveToNext()) {
    if (const int32_t index = rows->GetInt("clock_index"); index > 0) {
      known.emplace(std::string(rows->GetString("clock_uuid")), index);
    }
  }
  rows.reset();
  ClockIndexMap map;
  map.indexes.reserve(uuids.size());
  for (const std::string& uuid : uuids) {
    int32_t index = kUnknownClockIndex;
    if (own && uuid == *own) {
      index = 0;
    } else if (const auto found = known.find(uuid); found != known.end()) {
      index = found->second;
    }
    map.indexes.push_back(index);
    map.max_index = std::max(map.max_index, index);
  }
  return map;
}

bool LoadFileClock(int32_t treeId, const std::string& path, CVectorClock& out) {
  auto cursor = store::CContentResolver::Instance().Query(
      store::uris::File(), {"local_clock", "other_clock"},
      store::CSelection("tree_id = ? AND path = ? ").AddInt(treeId).AddString(path));
  if (!cursor || !cursor->MoveToNext()) return false;
  out = CVectorClock(cursor->GetInt("local_clock"), cursor->GetBlob("other_clock"), cursor->GetBytes("other_clock"));
  return true;
}

}  // namespace morvex::index
