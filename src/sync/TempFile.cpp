#include "sync/TempFile.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "index/FingerPrint.h"

namespace morvex::sync {
namespace {

constexpr std::string_view kTempSuffix = ".~morvex";
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kHashDigits = 16;

}  // namespace

std::string CTempFile::TempNameFor(const std::string& name) {
  if (name.size() + kTempSuffix.size() <= kMaxNameBytes) return name + std::string(kTempSuffix);
  // A prefix, cut before a UTF-8 continuation byte so the name stays
  // readable, and enough of a fingerprint of the whole name that two long
  // names with one prefix do not share a temporary file.
  index::CSha1Stream hash;
  hash.Update(name.data(), name.size());
  const std::string digest = hash.Final().value_or(std::string(kHashDigits, '0'));
  size_t keep = kMaxNameBytes - kTempSuffix.size() - kHashDigits - 1;
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xc0U) == 0x80U) --keep;
  return name.substr(0, keep) + "." + digest.substr(0, kHashDigits) + std::string(kTempSuffix);
}

CTempFile::CTempFile(CTreeFiles tree, const std::string& finalPath) : tree_(std::move(tree)) {
  const size_t slash = finalPath.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  path_ = finalPath.substr(0, start) + TempNameFor(finalPath.substr(start));
}

CTempFile::~CTempFile() { Remove(); }

int CTempFile::Create() {
  Remove();
  // Read access too: parts that arrive early are read back for the hash.
  platform::UniqueFd fd(tree_.Open(path_, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.Valid()) {
    const int err = errno;
    if (err == EEXIST) {
      LOG(ERROR) << "Temporary file in use by another writer, retried next pass: " << path_;
    } else {
      LOG(ERROR) << "CreateFile() failed[" << err << "]: " << path_;
    }
    errno = err;
    return -1;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    LOG(ERROR) << "fstat() failed[" << errno << "]: " << path_;
    fd.Reset();
    tree_.DeleteFile(path_);
    return -1;
  }
  identity_ = FileIdentity{info.st_dev, info.st_ino};
  fd_ = std::move(fd);
  return fd_.Get();
}

void CTempFile::Remove() {
  if (!identity_) return;
  if (!tree_.DeleteIfSame(path_, *identity_) && errno != ENOENT) {
    LOG(ERROR) << "Failed to ::DeleteFile()[" << errno << "]: " << path_;
  }
  identity_.reset();
  fd_.Reset();
}

}  // namespace morvex::sync
