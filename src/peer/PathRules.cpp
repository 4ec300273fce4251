#include "peer/PathRules.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

#include "index/FileUtils.h"
#include "platform/PathCollation.h"

namespace morvex::peer {
namespace {

constexpr size_t kMaxComponentBytes = 255;

bool ValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    if (platform::NextCodePoint(text, pos) >= 0x110000) return false;
  }
  return true;
}

bool ValidComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= kMaxComponentBytes &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

bool ValidWirePath(const std::string& wirePath) {
  if (wirePath.size() < 2 || wirePath[0] != '/' || !ValidUtf8(wirePath)) return false;
  const std::string_view text(wirePath);
  for (size_t start = 1; start <= text.size();) {
    const size_t slash = text.find('/', start);
    const size_t end = slash == std::string_view::npos ? text.size() : slash;
    if (!ValidComponent(text.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

std::optional<std::string> ConfinedPath(const std::string& treeRoot, const std::string& wirePath) {
  if (treeRoot.empty() || !ValidWirePath(wirePath)) return std::nullopt;
  auto full = index::JoinPath(treeRoot, wirePath);
  if (!full) return std::nullopt;

  // Walk the components below the root: a link anywhere could lead out of
  // the tree. Once one is missing, nothing below it exists either.
  std::string walked = treeRoot;
  while (walked.size() > 1 && walked.back() == '/') walked.pop_back();
  const std::string_view text(wirePath);
  for (size_t start = 1; start <= text.size();) {
    const size_t slash = text.find('/', start);
    const size_t end = slash == std::string_view::npos ? text.size() : slash;
    if (walked.back() != '/') walked += '/';
    walked.append(text.substr(start, end - start));
    struct stat info {};
    if (::lstat(walked.c_str(), &info) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) break;
      return std::nullopt;
    }
    if (S_ISLNK(info.st_mode)) return std::nullopt;
    start = end + 1;
  }
  return full;
}

}  // namespace morvex::peer
