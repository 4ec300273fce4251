#include "service/TokenSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <glog/logging.h>

#include "config/ConfigKeys.h"
#include "core/StringPrintf.h"
#include "core/Text.h"
#include "platform/UniqueFd.h"
#include "store/ContentResolver.h"

namespace morvex::service {
namespace {

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

TokenChoice Refused(const std::string& path, const std::string& why) {
  return {std::nullopt, "--token-file " + path + ": " + why};
}

}  // namespace

TokenChoice ReadTokenFile(const std::string& path) {
  // O_NONBLOCK: a FIFO must not hang the start; the checks are made on the
  // opened file, so it cannot be swapped between check and read.
  platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.Valid()) return Refused(path, std::strerror(errno));
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) return Refused(path, std::strerror(errno));
  if (!S_ISREG(info.st_mode)) {
    return Refused(path, core::Tr("not a regular file: put the password into a file of its own"));
  }
  if ((info.st_mode & 077) != 0) {
    return Refused(path, core::StringPrintf(core::Tr("group or others may read it (mode %s): run chmod 600 %s"),
                                            ModeText(info.st_mode).c_str(), path.c_str()));
  }
  std::string content;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd.Get(), buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<size_t>(got));
  if (got < 0) return Refused(path, std::strerror(errno));
  content.resize(std::min(content.size(), content.find('\n')));
  if (!content.empty() && content.back() == '\r') content.pop_back();
  if (content.empty()) return Refused(path, core::Tr("empty: its first line is the sync password"));
  return {std::move(content), {}};
}

TokenChoice ChooseToken(const std::optional<std::string>& fromOption, const std::optional<std::string>& file,
                        const char* environment) {
  if (fromOption) return {fromOption, {}};
  if (file) return ReadTokenFile(*file);
  if (environment != nullptr && *environment != '\0') return {std::string(environment), {}};
  return {};
}

void KeepStoredToken(std::optional<std::string>& token) {
  if (!token) return;
  std::string stored;
  if (!store::CContentResolver::Instance().QueryString(store::uris::Config(), "value", stored,
                                                       store::CSelection("name = ? ").AddString(config::keys::kToken)) ||
      stored.empty()) {
    return;
  }
  LOG_IF(WARNING, stored != *token)
      << "The stored sync password is kept: the one from --token-file or " << kTokenEnvironment
      << " is used on a first start only. Change it with 'morvexctl config set password'.";
  token.reset();
}

}  // namespace morvex::service
