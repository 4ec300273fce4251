#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

// Every file-system operation that the index and the sync engine share. The
// operations keep no state and may run on any thread; each reports failure
// by its result and never throws. Paths are UTF-8 with "/" separators.
// Symbolic links are never followed: a link is an entry of its own.
namespace morvex::index {

// The attribute word that file records store and peers exchange. Linux has
// no such word; GetFileInfo derives the two bits that have a meaning here.
inline constexpr uint32_t kAttrReadOnly = 0x1;
inline constexpr uint32_t kAttrDirectory = 0x10;

// The attribute bits that are kept in a record (and compared) for a
// directory and for a file; every other bit is dropped.
inline constexpr uint32_t kKeepAttrDir = 0x2017;
inline constexpr uint32_t kKeepAttrFile = 0x3107;

enum class FileKind { kRegular, kDirectory, kSymlink, kOther };

struct FileInfo {
  bool valid = false;  // false when the entry could not be queried
  FileKind kind = FileKind::kOther;
  uint32_t win_attr = 0;   // kAttrDirectory, plus kAttrReadOnly when the owner may not write
  uint32_t unix_attr = 0;  // st_mode & 07777
  int64_t mtime = 0;       // last modification, milliseconds since 1970-01-01 UTC
  int64_t length = 0;      // size in bytes; 0 for a directory
};

// lstat() of `path`. On failure `valid` is false and an ERROR is logged.
FileInfo GetFileInfo(const std::string& path);

// The record of an entry already stat()ed (by whatever route reached it).
FileInfo FileInfoOf(const struct stat& info);

// The modification time of an entry already stat()ed, in milliseconds.
int64_t MillisecondsOf(const timespec& time);

// The attribute word of an entry already stat()ed.
uint32_t WinAttrOf(const struct stat& info);

// True when something (a link included) exists at `path`; logs nothing.
bool PathExists(const std::string& path);

// The modification time in milliseconds since 1970. False when the entry
// cannot be queried, with errno telling why.
bool GetLastWriteTime(const std::string& path, int64_t& mtime);

// Sets only the modification time (the access time is kept).
bool SetLastWriteTime(const std::string& path, int64_t mtime);

// The same for the entry `name` of the folder open as `dirFd`; a link is
// changed itself, never what it points to.
bool SetLastWriteTimeAt(int dirFd, const char* name, int64_t mtime);

// Brings the read-only bit of `win_attr` onto the entry: set clears the
// owner's write permission, clear grants it. True at once when the kept bits
// already match; other bits of `win_attr` have no effect here. A symbolic
// link cannot be made read-only.
bool ChangeFileAttributes(const std::string& path, uint32_t win_attr);

// Applies the permission bits (0777) of `mode`. Set-user-ID, set-group-ID
// and sticky bits are never applied, whatever a peer sent.
bool ApplyUnixAttributes(const std::string& path, uint32_t mode);

// True when the modification time differs from `mtime`. A path that does
// not exist counts as not modified; any other failure is logged and counts
// as modified.
bool IsFileModifiedSince(const std::string& path, int64_t mtime);

// Creates or truncates a file that only its owner may read and write.
bool CreateHiddenFile(const std::string& path);

// Moves `src` to `dst`. Without `replace`, an existing `dst` is never
// overwritten, not even one created while the move runs. When the move
// fails because the parent folder of `dst` is missing, the folder is
// created and the move tried once more. Both must be on one file system.
bool MoveFileReplace(const std::string& src, const std::string& dst, bool replace);

// Makes `path` a directory, with all missing parents. True when it already
// is one. Anything else in the way (a file, a link) makes it fail, unless
// `replace` is set: then that entry is deleted first.
bool MakeDirectory(const std::string& path, bool replace);

// Removes the directory `path`; with `recursive` everything inside it too,
// including read-only entries. Links inside are removed, never followed.
// True when `path` is gone (or was never there); false when it is not a
// directory.
bool RemoveDirectoryTree(const std::string& path, bool recursive);

// Removes a file or a link, whatever its permission bits. True when it is
// gone, also when it was not there.
bool DeleteFileForce(const std::string& path);

// `base` + "/" + `more` (one separator between them); nothing when the
// result would not fit in PATH_MAX.
std::optional<std::string> JoinPath(const std::string& base, const std::string& more);

// Flush a file's data, or a directory's entries, to the disk.
bool FsyncFile(const std::string& path);
bool FsyncDirectory(const std::string& path);

}  // namespace morvex::index
