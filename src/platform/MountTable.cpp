#include "platform/MountTable.h"

#include <mntent.h>

#include <cstdio>
#include <memory>

namespace morvex::platform {
namespace {

struct MountTableClose {
  void operator()(FILE* table) const noexcept { ::endmntent(table); }
};

}  // namespace

std::optional<std::vector<MountEntry>> ReadMountTable() {
  std::unique_ptr<FILE, MountTableClose> table(::setmntent("/proc/self/mounts", "r"));
  if (!table) return std::nullopt;
  std::vector<MountEntry> mounts;
  mntent entry{};
  char buffer[4096];
  while (::getmntent_r(table.get(), &entry, buffer, sizeof buffer) != nullptr) {
    mounts.push_back({entry.mnt_fsname, entry.mnt_dir, entry.mnt_type});
  }
  return mounts;
}

}  // namespace morvex::platform
