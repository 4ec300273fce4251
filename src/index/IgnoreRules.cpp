#include "index/IgnoreRules.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "platform/MountTable.h"
#include "platform/ServiceFolder.h"

namespace morvex::index {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool EndsWithFolded(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsFolded(text.substr(text.size() - suffix.size()), suffix);
}

std::vector<std::string> ReadMountPoints() {
  const auto table = platform::ReadMountTable();
  if (!table) return {"/"};
  std::vector<std::string> mounts;
  for (const platform::MountEntry& entry : *table) mounts.push_back(entry.target);
  return mounts;
}

// ".Trash", ".Trash-1000", "lost+found"
bool IsTrashName(std::string_view name) {
  if (EqualsFolded(name, "lost+found") || EqualsFolded(name, ".Trash")) return true;
  if (name.size() <= 7 || !EqualsFolded(name.substr(0, 7), ".Trash-")) return false;
  return std::all_of(name.begin() + 7, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

IgnoreRules::IgnoreRules() : IgnoreRules(ReadMountPoints()) {}

IgnoreRules::IgnoreRules(std::vector<std::string> mountPoints) : mounts_(std::move(mountPoints)) {
  for (auto& mount : mounts_) {
    while (mount.size() > 1 && mount.back() == '/') mount.pop_back();
  }
  std::sort(mounts_.begin(), mounts_.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
}

std::string_view IgnoreRules::MountOf(std::string_view path) const {
  for (const std::string& mount : mounts_) {
    if (mount == "/") return "/";
    if (path.size() >= mount.size() && path.compare(0, mount.size(), mount) == 0 &&
        (path.size() == mount.size() || path[mount.size()] == '/')) {
      return mount;
    }
  }
  return "/";
}

bool IgnoreRules::Ignored(std::string_view path) const {
  if (EndsWithFolded(path, ".tmp")) return true;
  if (path.find("~$") != std::string_view::npos) return true;
  const std::string_view mount = MountOf(path);
  const size_t start = mount == "/" ? 1 : mount.size() + 1;
  if (path.size() <= start || path[start - 1] != '/') return false;
  const std::string_view rest = path.substr(start);
  const size_t slash = rest.find('/');
  const std::string_view first = rest.substr(0, slash);
  if (IsTrashName(first)) return true;
  return slash == std::string_view::npos && EqualsFolded(first, platform::kServiceFolderName);
}

bool IsTmpFile(std::string_view path) {
  constexpr std::string_view kSuffix = ".~morvex";
  return path.size() >= kSuffix.size() && path.substr(path.size() - kSuffix.size()) == kSuffix;
}

}  // namespace morvex::index
