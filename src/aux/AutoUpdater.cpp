#include "aux/AutoUpdater.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "aux/HttpGet.h"
#include "aux/ProgramVersion.h"
#include "aux/UpdateTexts.h"
#include "platform/UniqueFd.h"

namespace morvex::aux {
namespace {

constexpr const char* kAgent = "AutoUpdateAgent";
constexpr const char* kBackupName = "OldExecutable.bak";
constexpr size_t kMaxInfoBytes = 4096;
constexpr size_t kMaxVersionChars = 15;
constexpr size_t kMaxPackageChars = 259;
constexpr long kConnectTimeoutMs = 10000;

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// After `prefix` at the start of `text`: the value up to the first white
// space (leading white space skipped), at most `limit` characters; `text`
// moves past it.
bool TakeValue(std::string_view& text, std::string_view prefix, size_t limit, std::string& value) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  size_t length = 0;
  while (length < text.size() && length < limit && !IsSpace(text[length])) ++length;
  value.assign(text.substr(0, length));
  text.remove_prefix(length);
  return true;
}

std::string Sha256Hex(const unsigned char* digest, unsigned length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xf];
  }
  return hex;
}

bool IsAbsoluteUrl(const std::string& name) { return name.starts_with("http://") || name.starts_with("https://"); }

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A file or folder the update may change: writable for us, and not marked
// read-only by its owner (root passes every access check, so the mode bits
// are what tells a package manager's or an administrator's intent).
bool MayChange(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0 && ::access(path.c_str(), W_OK) == 0;
}

// The downloaded file until it is renamed over the program: removed when
// the update stops before that.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& folder, const std::string& name)
      : path_(folder + "/." + name + ".update-XXXXXX") {
    fd_.Reset(::mkstemp(path_.data()));
    if (!fd_.Valid()) path_.clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  bool Valid() const { return fd_.Valid(); }
  int Fd() const { return fd_.Get(); }
  const std::string& Path() const { return path_; }
  void Close() { fd_.Reset(); }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
  platform::UniqueFd fd_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const platform::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
}

// Keeps the program as the backup and puts `downloaded` in its place. The
// backup is a second link, so the program's name never stands empty; where
// links are not possible the program is moved, and moved back when the new
// file cannot follow.
bool ReplaceProgram(const std::string& program, const std::string& downloaded) {
  const std::filesystem::path programPath(program);
  const std::string backup = (programPath.parent_path() / kBackupName).string();
  ::unlink(backup.c_str());
  const bool linked = ::link(program.c_str(), backup.c_str()) == 0;
  if (!linked && ::rename(program.c_str(), backup.c_str()) != 0) {
    PLOG(ERROR) << "Cannot keep " << program << " as " << backup;
    return false;
  }
  if (::rename(downloaded.c_str(), program.c_str()) != 0) {
    PLOG(ERROR) << "Cannot move the new program over " << program;
    if (!linked) ::rename(backup.c_str(), program.c_str());
    return false;
  }
  SyncFolder(programPath.parent_path().string());
  return true;
}

std::string RunningProgram() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.string();
}

}  // namespace

bool ParseVersion(std::string_view text, std::array<long, 4>& numbers) {
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    size_t digits = 0;
    long value = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0) {
      if (value > 100000000) return false;  // no release number is that large
      value = value * 10 + (text[digits] - '0');
      ++digits;
    }
    if (digits == 0) return false;
    numbers[i] = value;
    text.remove_prefix(digits);
  }
  return text.empty();
}

bool IsNewerVersion(std::string_view offered, std::string_view running) {
  std::array<long, 4> offeredNumbers{};
  std::array<long, 4> runningNumbers{};
  if (!ParseVersion(offered, offeredNumbers) || !ParseVersion(running, runningNumbers)) return false;
  for (size_t i = 0; i < offeredNumbers.size(); ++i) {
    if (offeredNumbers[i] != runningNumbers[i]) return offeredNumbers[i] > runningNumbers[i];
  }
  return false;
}

UpdateInfo ParseUpdateInfo(std::string_view text) {
  UpdateInfo info;
  std::string_view rest = text;
  if (TakeValue(rest, "version:", kMaxVersionChars, info.version)) {
    while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
    TakeValue(rest, "package:", kMaxPackageChars, info.package);
  }
  // The checksum line may stand anywhere after the two the older format has.
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (TakeValue(line, "sha256:", 64, info.sha256)) break;
    start = end + 1;
  }
  for (char& c : info.sha256) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return info;
}

int RunUpdate(const std::string& baseUrl, const UpdateOptions& options) {
  // Whoever can answer update.info decides what this device runs: it
  // comes only over HTTPS, certificate checked, and names the checksum the
  // package must have.
  if (!baseUrl.starts_with("https://")) {
    LOG(ERROR) << "Update refused: update.info must come over HTTPS, not " << baseUrl;
    return kUpdateCannotOpen;
  }
  const HttpOptions http{kAgent, kConnectTimeoutMs, 0, false, options.caFile};
  std::string text;
  const HttpResult infoAnswer = HttpGetText(baseUrl + "update.info", http, kMaxInfoBytes, text);
  if (!infoAnswer.ok) {
    LOG(WARNING) << "Cannot fetch " << baseUrl << "update.info (HTTP " << infoAnswer.status << ")";
    return kUpdateCannotOpen;
  }
  if (text.empty()) return kUpdateEmptyInfo;
  const UpdateInfo info = ParseUpdateInfo(text);

  const std::string running = options.runningVersion.empty() ? ProgramVersion() : options.runningVersion;
  const std::string program = options.programPath.empty() ? RunningProgram() : options.programPath;
  if (running.empty() || program.empty()) return kUpdateNoVersion;
  if (!IsNewerVersion(info.version, running)) {
    LOG(INFO) << "No update: offered " << info.version << ", running " << running;
    return kUpdateNotNewer;
  }
  if (!IsSha256Hex(info.sha256) || info.package.empty()) {
    LOG(ERROR) << "Update refused: update.info names no package or no sha256 checksum";
    return kUpdateCannotOpen;
  }
  const std::string folder = std::filesystem::path(program).parent_path().string();
  if (!MayChange(program) || !MayChange(folder)) {
    LOG(WARNING) << "Update " << info.version << " available, but " << program << " may not be replaced";
    return kUpdateNotWritable;
  }
  if (!options.confirm || !options.confirm(running, info.version)) return kUpdateNotReplaced;

  TemporaryFile download(folder, std::filesystem::path(program).filename().string());
  if (!download.Valid()) {
    PLOG(ERROR) << "Cannot create the download file in " << folder;
    return kUpdateNotReplaced;
  }
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) return kUpdateNoConnection;
  // The checksum came over HTTPS, so the package itself may come from
  // anywhere, a plain HTTP mirror included.
  const std::string packageUrl = IsAbsoluteUrl(info.package) ? info.package : baseUrl + info.package;
  bool written = true;
  const HttpResult packageAnswer = HttpGet(packageUrl, http, [&](std::string_view piece) {
    written = WriteAll(download.Fd(), piece) && EVP_DigestUpdate(digest.get(), piece.data(), piece.size()) == 1;
    return written;
  });
  if (packageAnswer.status < 200 || packageAnswer.status >= 300) {
    LOG(WARNING) << "Cannot fetch " << packageUrl << " (HTTP " << packageAnswer.status << ")";
    return kUpdateCannotOpen;
  }
  if (!packageAnswer.ok || !written) {
    LOG(ERROR) << "Update package incomplete: " << packageAnswer.received << " of " << packageAnswer.declaredLength
               << " bytes";
    return kUpdateIncomplete;
  }
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned sumLength = 0;
  if (EVP_DigestFinal_ex(digest.get(), sum, &sumLength) != 1) return kUpdateIncomplete;
  if (Sha256Hex(sum, sumLength) != info.sha256) {
    LOG(ERROR) << "Update refused: the package's checksum is not the one update.info names";
    return kUpdateCannotOpen;
  }
  struct stat programInfo {};
  if (::stat(program.c_str(), &programInfo) != 0 || ::fchmod(download.Fd(), programInfo.st_mode & 07777) != 0 ||
      ::fsync(download.Fd()) != 0) {
    PLOG(ERROR) << "Cannot prepare " << download.Path();
    return kUpdateNotReplaced;
  }
  download.Close();
  if (!ReplaceProgram(program, download.Path())) return kUpdateNotReplaced;
  download.Keep();
  LOG(INFO) << "Updated " << program << " from " << running << " to " << info.version;
  return kUpdateInstalled;
}

UpdateCheck CheckForUpdate(bool userAsked, const Deployment& deployment, const UpdateOptions& options) {
  UpdateCheck check;
  const std::string baseUrl = UpdateBaseUrl(deployment);
  check.result = baseUrl.empty() ? kUpdateNoSource : RunUpdate(baseUrl, options);
  switch (check.result) {
    case kUpdateInstalled:
      check.message = text::kUpdateDone;
      check.restart = true;
      break;
    case kUpdateNotReplaced: break;
    case kUpdateNotNewer: check.message = userAsked ? text::kUpdateNotNeeded : nullptr; break;
    case kUpdateNotWritable: check.message = userAsked ? text::kUpdateNotWritable : nullptr; break;
    case kUpdateNoSource: check.message = userAsked ? text::kUpdateNoSource : nullptr; break;
    default: check.message = userAsked ? text::kUpdateFailed : nullptr; break;
  }
  return check;
}

}  // namespace morvex::aux
