#pragma once

#include <string>

namespace morvex::store {

// A content URI "scheme://authority/path"; a value type.
class CUri {
 public:
  CUri() = default;
  CUri(std::string scheme, std::string authority, std::string path);
  virtual ~CUri() = default;
  CUri(const CUri&) = default;
  CUri& operator=(const CUri&) = default;
  CUri(CUri&&) = default;
  CUri& operator=(CUri&&) = default;

  const std::string& GetUriString() const { return text_; }
  const std::string& GetScheme() const { return scheme_; }
  const std::string& GetAuthority() const { return authority_; }
  const std::string& GetPath() const { return path_; }
  // The part of the path after its last "/", empty for "/".
  std::string GetLastPathSegment() const;
  // The table the path names ("/DeviceTTL" -> "DeviceTTL"), empty when the
  // path names none of the store's tables.
  std::string Table() const;

  bool operator==(const CUri& other) const { return text_ == other.text_; }

 private:
  std::string scheme_;
  std::string authority_;
  std::string path_;
  std::string text_;
};

inline constexpr const char* kAuthority = "ContentProvider";

// The store's URIs, one per table and the read-only SyncDir view.
namespace uris {
const CUri& Config();
const CUri& File();
const CUri& Device();
const CUri& Sync();
const CUri& Tree();
const CUri& VCUuid();
const CUri& SyncDir();
const CUri& DeviceTTL();
const CUri& Usn();
const CUri& Event();
}  // namespace uris

}  // namespace morvex::store
