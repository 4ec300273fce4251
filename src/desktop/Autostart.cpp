#include "desktop/Autostart.h"

#include <glog/logging.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/UserFolders.h"

namespace morvex::desktop {
namespace {

// The characters that make an Exec argument need double quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// The running program's own path; empty when the link cannot be read.
std::string RunningProgram() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    LOG(WARNING) << "Cannot read the path of the running program: " << error.message();
    return {};
  }
  return program.string();
}

}  // namespace

Autostart::Autostart(std::string file) : file_(std::move(file)) {}

std::string Autostart::DefaultFile() {
  const std::string configHome = platform::ConfigHome();
  return configHome.empty() ? std::string() : configHome + "/autostart/Morvex.desktop";
}

std::string Autostart::ExecWord(const std::string& argument) {
  std::string word;
  const bool quoted = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
  if (quoted) word += '"';
  for (const char c : argument) {
    // Inside quotes these four take a backslash; a literal '%' is doubled
    // (field codes); then the file's own string escapes apply on top.
    if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) word += "\\\\";
    switch (c) {
      case '\\': word += "\\\\"; break;
      case '\n': word += "\\n"; break;
      case '\t': word += "\\t"; break;
      case '\r': word += "\\r"; break;
      case '%': word += "%%"; break;
      default: word += c;
    }
  }
  if (quoted) word += '"';
  return word;
}

std::string Autostart::EntryFor(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Morvex\n"
         "Exec=" +
         ExecWord(program) +
         "\n"
         "Icon=morvex\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool Autostart::Create() const {
  if (file_.empty()) {
    LOG(WARNING) << "No configuration folder for the autostart entry";
    return false;
  }
  const std::string program = RunningProgram();
  if (program.empty()) return false;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(file_).parent_path(), error);
  if (error) {
    LOG(WARNING) << "Cannot create the folder of " << file_ << ": " << error.message();
    return false;
  }
  const std::string temporary = file_ + ".morvex-new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << EntryFor(program);
    out.flush();
    if (!out.good()) {
      LOG(WARNING) << "Cannot write the autostart entry " << temporary;
      ::unlink(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), file_.c_str()) != 0) {
    LOG(WARNING) << "Cannot put the autostart entry in place at " << file_ << ": " << std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  LOG(INFO) << "Autostart entry written: " << file_;
  return true;
}

bool Autostart::Remove() const {
  if (file_.empty()) return false;
  if (::unlink(file_.c_str()) != 0 && errno != ENOENT) {
    LOG(WARNING) << "Cannot remove the autostart entry " << file_ << ": " << std::strerror(errno);
    return false;
  }
  return true;
}

bool Autostart::Exists() const {
  std::error_code error;
  return !file_.empty() && std::filesystem::exists(file_, error);
}

}  // namespace morvex::desktop
