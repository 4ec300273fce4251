#include "store/Uri.h"

#include <array>

namespace morvex::store {

CUri::CUri(std::string scheme, std::string authority, std::string path)
    : scheme_(std::move(scheme)), authority_(std::move(authority)), path_(std::move(path)) {
  text_ = scheme_ + "://" + authority_ + path_;
}

std::string CUri::GetLastPathSegment() const {
  const size_t slash = path_.rfind('/');
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

std::string CUri::Table() const {
  static constexpr std::array<const char*, 10> kTables = {"Config", "File",   "Device",    "Sync", "Tree",
                                                          "SyncDir", "VCUuid", "DeviceTTL", "Usn", "Event"};
  if (path_.size() < 2) return {};
  const size_t end = path_.find('/', 1);
  const std::string name = path_.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  for (const char* table : kTables) {
    if (name == table) return name;
  }
  return {};
}

namespace uris {
#define MORVEX_CONTENT_URI(Name)                                \
  const CUri& Name() {                                          \
    static const CUri uri("content", kAuthority, "/" #Name);    \
    return uri;                                                 \
  }
MORVEX_CONTENT_URI(Config)
MORVEX_CONTENT_URI(File)
MORVEX_CONTENT_URI(Device)
MORVEX_CONTENT_URI(Sync)
MORVEX_CONTENT_URI(Tree)
MORVEX_CONTENT_URI(VCUuid)
MORVEX_CONTENT_URI(SyncDir)
MORVEX_CONTENT_URI(DeviceTTL)
MORVEX_CONTENT_URI(Usn)
MORVEX_CONTENT_URI(Event)
#undef MORVEX_CONTENT_URI
}  // namespace uris

}  // namespace morvex::store
