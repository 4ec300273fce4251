// The listing page a pass receives from a peer: the fuzzer's bytes are the
// body of one MC_FIND_RESPONSE, read as a pass reads it and every record
// placed in a real temporary tree (holding a link that leads out of it) and
// made into the remote file object a pass would act on. Nothing is fetched
// or applied: writing goes through the same local and temporary paths that
// are checked here.
//
// Properties: every record a pass would act on has a local path and a
// temporary path inside the tree, neither passing through a link; the
// record of the root itself is never acted on; the remote clock in the
// tree's numbering has no negative length and compares with the local one
// without fault.

#include <limits.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "index/VectorClock.h"
#include "protocol/MessageLimits.h"
#include "sync/ListingPage.h"
#include "sync/MorvexFile.h"

namespace morvex::fuzz {
namespace {

constexpr const char* kOwnTree = "0f0e0d0c-0b0a-4908-8706-050403020100";

struct Tree {
  Tree() {
    QuietLogs();
    namespace fs = std::filesystem;
    root = base.Path() + "/tree";
    fs::create_directories(root + "/docs/old");
    fs::create_directories(base.Path() + "/outside");
    fs::create_directory_symlink(base.Path() + "/outside", root + "/docs/link");
  }
  TempTree base;
  std::string root;
};

bool Beneath(const std::string& root, const std::string& path) {
  return path.size() > root.size() + 1 && path.compare(0, root.size() + 1, root + "/") == 0 &&
         std::filesystem::path(path).lexically_normal().string() == path;
}

// No existing component of `path` below `root` is a link.
bool NoLinkOnTheWay(const std::string& root, const std::string& path) {
  for (size_t slash = path.find('/', root.size() + 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    struct stat info {};
    if (::lstat(part.c_str(), &info) != 0) return true;
    if (S_ISLNK(info.st_mode)) return false;
    if (slash == std::string::npos) return true;
  }
}

// The clock indexes a fresh tree gives the page's UUIDs: its own is 0, the
// others are numbered in order (MapClockUuids without the database).
index::ClockIndexMap FreshMap(const qo::MsgFindResponse& page) {
  index::ClockIndexMap map;
  int32_t next = 1;
  for (const std::string& uuid : page.uuids()) {
    const int32_t index = uuid == kOwnTree ? 0 : next++;
    map.indexes.push_back(index);
    map.max_index = std::max(map.max_index, index);
  }
  return map;
}

}  // namespace
}  // namespace morvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static const fuzz::Tree* tree = new fuzz::Tree();  // for the process's life
  qo::MsgFindResponse page;
  if (!sync::DecodeListingPage(std::string(reinterpret_cast<const char*>(data), size), page)) return 0;
  FUZZ_CHECK(page.uuids_size() <= protocol::limits::kClockEntries);
  const index::ClockIndexMap map = fuzz::FreshMap(page);
  for (const qo::Stat& stat : page.stats()) {
    FUZZ_CHECK(stat.vclock_size() <= protocol::limits::kClockEntries);
    sync::ListedPlace place = sync::PlaceOfRecord(tree->root, stat);
    if (stat.path() == "/") FUZZ_CHECK(place.kind == sync::ListedPlace::kTreeRoot);
    if (place.kind != sync::ListedPlace::kLocal) continue;
    FUZZ_CHECK(fuzz::Beneath(tree->root, place.fullPath));
    FUZZ_CHECK(fuzz::NoLinkOnTheWay(tree->root, place.fullPath));
    const sync::CMorvexFile item(1, tree->root, place.fullPath, stat, index::CVectorClock(map, stat.vclock()));
    FUZZ_CHECK(fuzz::Beneath(tree->root, item.TempPath()));
    FUZZ_CHECK(std::filesystem::path(item.TempPath()).parent_path() ==
               std::filesystem::path(item.Path()).parent_path());
    FUZZ_CHECK(fuzz::NoLinkOnTheWay(tree->root, item.TempPath()));
    FUZZ_CHECK(item.VClock()->Length() >= 1);
    const index::ClockOrder order = index::Compare(index::CVectorClock(), *item.VClock());
    FUZZ_CHECK(order == index::VC_LESS || order == index::VC_EQUAL || order == index::VC_GREATER ||
               order == index::VC_CONFLICT);
  }
  return 0;
}
