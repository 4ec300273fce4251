#include "core/Logging.h"

#include <glog/logging.h>
#include <unistd.h>

#include <atomic>

namespace morvex::core {
namespace {
std::atomic<bool> initialised{false};
}

void InitLogging(const std::string& appDir, const char* programName) {
  if (initialised.exchange(true)) return;
  FLAGS_logbufsecs = 0;
  FLAGS_logfile_mode = 0600;
  FLAGS_stderrthreshold = ::isatty(STDERR_FILENO) ? google::GLOG_WARNING : google::GLOG_FATAL;
  const std::string base = appDir + "/Morvex";
  google::SetLogFilenameExtension(".log");
  // INFO receives every severity; the others would only duplicate it.
  google::SetLogDestination(google::GLOG_INFO, base.c_str());
  google::SetLogDestination(google::GLOG_WARNING, "");
  google::SetLogDestination(google::GLOG_ERROR, "");
  google::SetLogDestination(google::GLOG_FATAL, "");
  google::SetLogSymlink(google::GLOG_INFO, "");
  google::InitGoogleLogging(programName);
}

void ShutdownLogging() {
  if (initialised.exchange(false)) google::ShutdownGoogleLogging();
}

bool LoggingInitialised() { return initialised.load(); }

}  // namespace morvex::core
