#include "aux/Bookmarks.h"

#include <glog/logging.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/Metadir.h"

namespace morvex::aux {
namespace {

std::mutex& FileMutex() {
  static std::mutex mutex;
  return mutex;
}

// A bookmark line is the URI, optionally followed by a space and a label.
std::string UriOf(const std::string& line) { return line.substr(0, line.find(' ')); }

}  // namespace

Bookmarks::Bookmarks(std::string file) : file_(std::move(file)) {}

std::string Bookmarks::DefaultFile() { return platform::DefaultMetadir() + "/gtk-3.0/bookmarks"; }

std::string Bookmarks::ToUri(const std::string& folder) {
  static const char* kHex = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const unsigned char c : folder) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '.' || c == '_' || c == '~' || c == '-';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

bool Bookmarks::Add(const std::string& folder) { return Rewrite(folder, true); }
bool Bookmarks::Remove(const std::string& folder) { return Rewrite(folder, false); }

bool Bookmarks::Rewrite(const std::string& folder, bool present) {
  const std::string uri = ToUri(folder);
  std::lock_guard lock(FileMutex());
  std::vector<std::string> lines;
  bool found = false;
  {
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);) {
      if (UriOf(line) == uri) {
        found = true;
      } else {
        lines.push_back(line);
      }
    }
  }
  if (present && found) return true;  // already there, in its place
  if (!present && !found) return true;
  if (present) lines.push_back(uri);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path(), ignored);
  const std::string temporary = file_ + ".morvex-new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    if (!out.good()) {
      LOG(WARNING) << "Cannot write the bookmarks file " << temporary;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), file_.c_str()) != 0) {
    LOG(WARNING) << "Cannot replace the bookmarks file " << file_;
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

BookmarkHooks BookmarkHooksFor(bool headless, const std::string& file) {
  if (headless) return {};
  return {[file](const std::string& folder) { Bookmarks(file).Add(folder); },
          [file](const std::string& folder) { Bookmarks(file).Remove(folder); }};
}

}  // namespace morvex::aux
