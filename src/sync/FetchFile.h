#pragma once

#include <cstdint>
#include <string>

#include "Morvex.pb.h"

namespace morvex::sync {

// What the fetcher needs of one remote file: where its data lands, what it
// is called on the peer and what its content must hash to; and how it tells
// the outcome.
class IFetchFile {
 public:
  virtual ~IFetchFile() = default;
  // Where the data lands: beside the final path, ending in ".~morvex".
  virtual const std::string& TempPath() const = 0;
  // Creates the temporary file exclusively and returns its descriptor,
  // which stays the file's own (the fetcher only borrows it); -1 (logged)
  // when it cannot be made or another writer has it.
  virtual int CreateTemp() = 0;
  virtual int64_t Length() const = 0;
  // Relative to the peer's tree root, "/" separated (the record's wire path).
  virtual const std::string& RemotePath() const = 0;
  virtual const std::string& Sha1() const = 0;
  virtual void FillStat(qo::Stat& stat) const = 0;
  virtual void SetFailed() = 0;
  virtual void SetReady() = 0;
};

}  // namespace morvex::sync
