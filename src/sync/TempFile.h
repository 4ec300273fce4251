#pragma once

#include <optional>
#include <string>

#include "platform/UniqueFd.h"
#include "sync/TreeFiles.h"

namespace morvex::sync {

// The temporary file that one fetch writes a remote file's data into,
// beside the final path and named "<name>.~morvex" (so the indexer, the
// watcher and the leftover cleanup know it). A name too long for that gets
// a shortened temporary name that still ends in ".~morvex": a prefix of the
// name and a hash of the whole name.
//
// The file is created exclusively: a temporary file already there belongs
// to another writer (leftovers of a killed service are removed before the
// first pass of their tree), so the fetch of that file fails and the other
// writer's file is left alone. Only the file this object created is ever
// moved into place or deleted, checked by its inode right before; the file
// is held open until Remove, so its inode number cannot pass to another
// file meanwhile. That one descriptor is also the one the fetcher writes
// through, so a batch holds one descriptor per file.
//
// Threads: the pass's worker thread.
class CTempFile {
 public:
  // `tree`: the steps of the tree the file lies in (and the counter of
  // their refusals).
  CTempFile(CTreeFiles tree, const std::string& finalPath);
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;
  // Deletes the file when this object created it and it was not moved.
  ~CTempFile();

  const std::string& Path() const { return path_; }
  const CTreeFiles& Tree() const { return tree_; }
  // Creates the file (0600, folders on the way made) and returns its
  // descriptor, owned here until Remove; -1 on failure, with an ERROR
  // naming the cause.
  int Create();
  // The file this object created, while its name still refers to it.
  std::optional<FileIdentity> Identity() const { return identity_; }
  // Deletes the file when its name still refers to the one created here
  // (after a move into place the name refers to nothing), and lets it go.
  void Remove();

  // The temporary name for a final name (the last component only).
  static std::string TempNameFor(const std::string& name);

 private:
  CTreeFiles tree_;
  std::string path_;
  std::optional<FileIdentity> identity_;
  platform::UniqueFd fd_;  // the created file, while identity_ is set
};

}  // namespace morvex::sync
