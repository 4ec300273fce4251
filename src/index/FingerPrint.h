#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace morvex::index {

// Asked after every block read by GetSha1 whether the fingerprint of a file
// of the tree `treeId` is still wanted; true stops the computation.
class CCancleCacuSha1 {
 public:
  virtual ~CCancleCacuSha1() = default;
  virtual bool IsCancel(int32_t treeId) = 0;
};

// Never cancels.
class CNCancleCacuSha1 : public CCancleCacuSha1 {
 public:
  bool IsCancel(int32_t) override { return false; }
};

// How much GetSha1 reads at a time, and so at most how much it hashes after
// a cancellation. Measured with bench/fingerprint.sh -R "8K 64K 256K 1M"
// (warm page cache): from 8 KiB to 1 MiB the CPU time stays within the
// noise, as hashing and the page-cache copy dominate. 256 KiB keeps the
// system calls few on a cold cache while a cancelled computation still
// stops within a fraction of a millisecond.
inline constexpr size_t kSha1ReadSize = 256 * 1024;

// What GetSha1 answers when `cancel` stopped it.
inline constexpr const char* kSha1Cancelled = "null";

// The SHA-1 of the content of the regular file `path` as 40 lower-case
// hexadecimal digits; kSha1Cancelled when `cancel` answered true; nothing
// (logged) when the file cannot be read now. A file that changes while it
// is read counts as one that cannot be read now: the caller tries again
// later. Links are not followed.
std::optional<std::string> GetSha1(const std::string& path, CCancleCacuSha1& cancel, int32_t treeId);

// The same fingerprint built from bytes handed in order, for content that
// passes through memory anyway (a download): no second read of the file.
class CSha1Stream {
 public:
  CSha1Stream();
  CSha1Stream(const CSha1Stream&) = delete;
  CSha1Stream& operator=(const CSha1Stream&) = delete;
  ~CSha1Stream();
  // False once any step failed; the stream is then of no use.
  bool Update(const void* data, size_t size);
  // 40 lower-case hexadecimal digits; nothing when a step failed.
  std::optional<std::string> Final();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace morvex::index
