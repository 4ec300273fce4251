#pragma once

#include <google/protobuf/repeated_field.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace morvex::index {

// The version of one file as seen by every tree (replica) that ever changed
// it: one counter per tree. Component 0 is always the counter of the tree that
// holds the record; components 1 and up belong to other trees, numbered per
// local tree through its VCUuid rows (see MapClockUuids). A component at or
// beyond the length reads as 0, so clocks that differ only by trailing zeros
// mean the same version.
//
// Threads: a clock is a plain value owned by the record that holds it; it is
// never shared between threads (each sync pass or request builds its own).
class IVectorClock {
 public:
  virtual ~IVectorClock() = default;

  // Number of stored components.
  virtual int32_t Length() const = 0;
  // The component at `index`; 0 at or beyond the length (and for a negative
  // index).
  virtual int32_t At(int32_t index) const = 0;
  // Adds 1 to component `index`, first growing the clock with zeros to
  // `index + 1` components when it is shorter. A negative index does nothing.
  virtual void Increment(int32_t index) = 0;
  // All stored components, for storing and comparing the clock.
  virtual std::span<const int32_t> Data() const = 0;
  // Component-wise maximum with `other`; grows to `other`'s length when that
  // is longer.
  virtual void Merge(const IVectorClock& other) = 0;

 protected:
  IVectorClock() = default;
  IVectorClock(const IVectorClock&) = default;
  IVectorClock& operator=(const IVectorClock&) = default;
};

// The index LookupClockUuids gives a UUID that the local tree never saw.
inline constexpr int32_t kUnknownClockIndex = -1;

// Local clock indexes of the tree UUIDs of a remote clock, one per UUID in the
// remote list's order; max_index is the largest of them (0 when empty).
struct ClockIndexMap {
  std::vector<int32_t> indexes;
  int32_t max_index = 0;
};

class CVectorClock final : public IVectorClock {
 public:
  // The all-zero clock, length 0.
  CVectorClock() = default;
  // Exactly these components (tests, and code that already holds them).
  explicit CVectorClock(std::vector<int32_t> counters) : counters_(std::move(counters)) {}
  // A deep copy of any clock.
  explicit CVectorClock(const IVectorClock& other);
  // From a File row: `local` is local_clock, the blob is other_clock (NULL or
  // empty for none). Length 1 + blobBytes / 4; a trailing partial component
  // is ignored.
  CVectorClock(int32_t local, const void* otherBlob, int blobBytes);
  // A remote clock in the local tree's numbering: counter k goes to component
  // map.indexes[k]. Counters beyond the map's entries have no UUID and are
  // ignored (a peer never sends them; dropping them cannot invent a version).
  // The length is 1 + the largest index holding a non-zero counter.
  CVectorClock(const ClockIndexMap& map, std::span<const int32_t> vclock);
  CVectorClock(const ClockIndexMap& map, const google::protobuf::RepeatedField<int32_t>& vclock)
      : CVectorClock(map, std::span<const int32_t>(vclock.data(), static_cast<size_t>(vclock.size()))) {}

  CVectorClock(const CVectorClock&) = default;
  CVectorClock& operator=(const CVectorClock&) = default;
  CVectorClock(CVectorClock&&) = default;
  CVectorClock& operator=(CVectorClock&&) = default;
  ~CVectorClock() override = default;

  int32_t Length() const override { return static_cast<int32_t>(counters_.size()); }
  int32_t At(int32_t index) const override;
  void Increment(int32_t index) override;
  std::span<const int32_t> Data() const override { return counters_; }
  void Merge(const IVectorClock& other) override;

 private:
  std::vector<int32_t> counters_;
};

// The values are fixed: callers and stored results test them directly.
enum ClockOrder {
  VC_LESS = 0,      // a happened before b
  VC_EQUAL = 1,     // same version
  VC_GREATER = 2,   // b happened before a
  VC_CONFLICT = 3,  // concurrent changes
};

// The partial order of two clocks, missing components read as 0.
ClockOrder Compare(const IVectorClock& a, const IVectorClock& b);

// File.other_clock of a clock: components 1..n-1 as 32-bit little-endian
// integers, empty when the clock has fewer than 2 components.
std::vector<uint8_t> OtherClockBlob(const IVectorClock& clock);
// Whether the clock has components beyond the local one. When it has not, an
// update of a File row writes the (empty) OtherClockBlob and an insert leaves
// other_clock NULL.
inline bool HasOtherComponents(const IVectorClock& clock) { return clock.Length() > 1; }

// Maps the tree UUIDs of a remote clock to tree `treeId`'s clock indexes: its
// own UUID is 0, a known tree keeps its VCUuid index, and a tree seen for the
// first time gets the next free index (a new VCUuid row). Indexes are never
// reused or renumbered. Database failures are not reported: a failed lookup
// reads as "unknown" and a new index is assigned.
//
// Threads: any thread (sync workers and request serving). Assigning a new
// index is one INSERT ... (SELECT MAX()+1) statement, atomic under SQLite's
// write lock, so two threads mapping new UUIDs of one tree at once never get
// the same index, and both mappers of the same new UUID read the one row.
ClockIndexMap MapClockUuids(int32_t treeId, const std::vector<std::string>& uuids);

// Maps like MapClockUuids but only reads: a UUID tree `treeId` has no VCUuid
// row for gets kUnknownClockIndex and nothing is written. No record of the
// tree can hold a counter of such a tree, so a non-zero counter at an unknown
// UUID means the remote version is one this tree has not got. For requests
// that only compare versions (a peer's part request), where writing would
// let any requester grow the table.
//
// Threads: any thread; reads the tree's VCUuid rows once.
ClockIndexMap LookupClockUuids(int32_t treeId, const std::vector<std::string>& uuids);

// The clock of the File row (treeId, path) into `out`; false when there is no
// such row (the file is unknown locally) and `out` is left alone.
bool LoadFileClock(int32_t treeId, const std::string& path, CVectorClock& out);

}  // namespace morvex::index
