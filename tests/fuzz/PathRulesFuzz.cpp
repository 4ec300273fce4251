// The confinement of a path a peer names to one local tree. The tree is a
// real folder holding links that lead out of it (to a folder beside it, to
// "/", to its own parent, and nowhere); the fuzzer's bytes are the wire
// path.
//
// Input: one byte (bit 0: the tree root is configured with a trailing
// slash), then the wire path.
//
// Properties: a path that breaks the textual rules is refused; an accepted
// path is the root joined with the wire path, lexically normal, within
// PATH_MAX, made of components that are neither empty nor "." nor ".."; no
// existing component below the root is a link, and the deepest existing
// part resolves inside the tree.

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "peer/PathRules.h"

namespace morvex::fuzz {
namespace {

struct Tree {
  Tree() {
    QuietLogs();
    namespace fs = std::filesystem;
    root = base.Path() + "/tree";
    fs::create_directories(root + "/a/b");
    fs::create_directories(base.Path() + "/outside");
    std::ofstream(root + "/a/f") << "data";
    std::ofstream(base.Path() + "/outside/x") << "secret";
    fs::create_directory_symlink(base.Path() + "/outside", root + "/out");
    fs::create_directory_symlink("..", root + "/a/up");
    fs::create_directory_symlink("/", root + "/a/abs");
    fs::create_symlink("/nonexistent/place", root + "/dangling");
    char resolved[PATH_MAX];
    if (::realpath(root.c_str(), resolved) == nullptr) std::abort();
    realRoot = resolved;
  }
  TempTree base;
  std::string root;
  std::string realRoot;
};

bool CleanComponents(const std::string& wire) {
  if (wire.size() < 2 || wire[0] != '/') return false;
  size_t start = 1;
  for (;;) {
    const size_t slash = wire.find('/', start);
    const std::string part = wire.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos) return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

// Walks `full` below `root` as the file system has it: no link on the way,
// and the deepest existing part resolves inside the real root.
void CheckOnDisk(const Tree& tree, const std::string& full) {
  std::string walked = tree.root;
  std::string deepest = tree.root;
  size_t start = tree.root.size() + 1;
  while (start <= full.size()) {
    const size_t slash = full.find('/', start);
    const size_t end = slash == std::string::npos ? full.size() : slash;
    walked = full.substr(0, end);
    struct stat info {};
    if (::lstat(walked.c_str(), &info) != 0) break;
    FUZZ_CHECK(!S_ISLNK(info.st_mode));
    deepest = walked;
    if (!S_ISDIR(info.st_mode)) break;
    start = end + 1;
  }
  char resolved[PATH_MAX];
  FUZZ_CHECK(::realpath(deepest.c_str(), resolved) != nullptr);
  const std::string real = resolved;
  FUZZ_CHECK(real == tree.realRoot || real.rfind(tree.realRoot + "/", 0) == 0);
}

}  // namespace
}  // namespace morvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static const fuzz::Tree* tree = new fuzz::Tree();  // for the process's life
  fuzz::ByteReader input(data, size);
  const bool trailingSlash = (input.Byte() & 1U) != 0;
  const std::string wire = input.Rest();
  const std::string root = trailingSlash ? tree->root + "/" : tree->root;

  const bool valid = peer::ValidWirePath(wire);
  const auto full = peer::ConfinedPath(root, wire);
  if (!valid) FUZZ_CHECK(!full);
  if (!full) return 0;
  FUZZ_CHECK(fuzz::CleanComponents(wire));
  FUZZ_CHECK(*full == tree->root + wire);
  FUZZ_CHECK(full->size() < PATH_MAX);
  FUZZ_CHECK(std::filesystem::path(*full).lexically_normal().string() == *full);
  fuzz::CheckOnDisk(*tree, *full);
  return 0;
}
