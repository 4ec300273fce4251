#include "index/FingerPrint.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/UniqueFd.h"

namespace morvex::index {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// Fetched once: the implicit fetch of EVP_sha1() costs a lookup per file.
const EVP_MD* Sha1Digest() {
  static const EVP_MD* const digest = [] {
    const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    return fetched != nullptr ? fetched : EVP_sha1();
  }();
  return digest;
}

// Equal when nothing was written to the file in between.
bool SameVersion(const struct stat& before, const struct stat& after) {
  return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
         before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
}

std::string Hex(const unsigned char* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xf];
  }
  return text;
}

}  // namespace

std::optional<std::string> GetSha1(const std::string& path, CCancleCacuSha1& cancel, int32_t treeId) {
  // O_NONBLOCK: a FIFO must not make the caller wait for a writer.
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat before {};
  if (fd.Valid()) {
    if (::fstat(fd.Get(), &before) != 0) {
      fd.Reset();
    } else if (!S_ISREG(before.st_mode)) {
      errno = S_ISDIR(before.st_mode) ? EISDIR : EINVAL;
      fd.Reset();
    }
  }
  if (!fd.Valid()) {
    const int err = errno;
    LOG(WARNING) << "CreateFile() failed[" << err << "]: " << path;
    return std::nullopt;
  }
  ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), Sha1Digest(), nullptr) != 1) {
    LOG(WARNING) << "Failed to SHA_Init : " << path;
    return std::nullopt;
  }

  // A small file needs no more buffer than its size.
  const size_t bufferSize = std::clamp<size_t>(static_cast<size_t>(before.st_size), 4096, kSha1ReadSize);
  const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(bufferSize);
  for (;;) {
    const ssize_t got = ::read(fd.Get(), buffer.get(), bufferSize);
    if (got < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      LOG(ERROR) << "ReadFile() failed[" << err << "]: " << path;
      return std::nullopt;
    }
    if (got == 0) break;
    if (EVP_DigestUpdate(context.get(), buffer.get(), static_cast<size_t>(got)) != 1) {
      LOG(WARNING) << "Failed to SHA_Update : " << path;
      return std::nullopt;
    }
    if (cancel.IsCancel(treeId)) return std::string(kSha1Cancelled);
  }

  struct stat after {};
  if (::fstat(fd.Get(), &after) != 0 || !SameVersion(before, after)) {
    LOG(WARNING) << "File changed while it was read, try again later: " << path;
    return std::nullopt;
  }

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    LOG(WARNING) << "Failed to SHA_Final : " << path;
    return std::nullopt;
  }
  return Hex(digest, length);
}

struct CSha1Stream::Context {
  MdCtxPtr digest{EVP_MD_CTX_new()};
  bool good = false;
};

CSha1Stream::CSha1Stream() : context_(std::make_unique<Context>()) {
  context_->good = context_->digest && EVP_DigestInit_ex(context_->digest.get(), Sha1Digest(), nullptr) == 1;
}

CSha1Stream::~CSha1Stream() = default;

bool CSha1Stream::Update(const void* data, size_t size) {
  context_->good = context_->good && EVP_DigestUpdate(context_->digest.get(), data, size) == 1;
  return context_->good;
}

std::optional<std::string> CSha1Stream::Final() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!context_->good || EVP_DigestFinal_ex(context_->digest.get(), digest, &length) != 1) return std::nullopt;
  context_->good = false;
  return Hex(digest, length);
}

}  // namespace morvex::index
