#include "core/Logging.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/LogFiles.h"
#include "platform/UniqueFd.h"

namespace morvex::core {
namespace {

// Writes every log line to the file of the day it was logged on, opened
// with O_APPEND: several processes of one profile (a restart waiting for its
// predecessor) can share the file, where glog's own files lock it for one
// process and lose the other's lines. A new day opens a new file and prunes
// the old ones, so a service that runs for weeks keeps only kLogKeepDays.
// Called by glog on the logging thread; the mutex serialises the threads.
class DailyLogSink : public google::LogSink {
 public:
  explicit DailyLogSink(std::string dir) : dir_(std::move(dir)) {}

  void send(google::LogSeverity severity, const char* /*fullFilename*/, const char* baseFilename, int line,
            const google::LogMessageTime& time, const char* message, size_t length) override {
    std::string text = ToString(severity, baseFilename, line, time, message, length);
    text += '\n';
    std::lock_guard lock(mutex_);
    const std::string name = DailyLogFileName(time.timestamp());
    if (name != name_) Open(name);
    if (!file_.Valid()) return;  // nowhere to write; standard error still has the warnings
    // One write per line: O_APPEND keeps lines of several writers whole.
    (void)!::write(file_.Get(), text.data(), text.size());
  }

  std::string Path() {
    std::lock_guard lock(mutex_);
    return dir_ + "/" + (name_.empty() ? DailyLogFileName(std::time(nullptr)) : name_);
  }

 private:
  void Open(const std::string& name) {
    if (!name_.empty()) PruneOldLogFiles(dir_, std::chrono::system_clock::now());
    name_ = name;
    const std::string path = dir_ + "/" + name;
    file_ = platform::UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
  }

  const std::string dir_;
  std::mutex mutex_;
  std::string name_;  // guarded by mutex_, as file_
  platform::UniqueFd file_;
};

std::atomic<bool> initialised{false};
std::unique_ptr<DailyLogSink> sink;  // set and reset on the main thread only, around glog's life

}  // namespace

void InitLogging(const std::string& appDir, const char* programName) {
  if (initialised.exchange(true)) return;
  const std::vector<std::string> pruned = PruneOldLogFiles(appDir, std::chrono::system_clock::now());
  FLAGS_logbufsecs = 0;
  FLAGS_stderrthreshold = google::GLOG_WARNING;
  // No files of glog's own: the sink writes them.
  for (const google::LogSeverity severity :
       {google::GLOG_INFO, google::GLOG_WARNING, google::GLOG_ERROR, google::GLOG_FATAL}) {
    google::SetLogDestination(severity, "");
  }
  google::InitGoogleLogging(programName);
  sink = std::make_unique<DailyLogSink>(appDir);
  google::AddLogSink(sink.get());
  for (const std::string& old : pruned) LOG(INFO) << "Removed the old log file " << old;
}

void ShutdownLogging() {
  if (!initialised.exchange(false)) return;
  google::RemoveLogSink(sink.get());
  google::ShutdownGoogleLogging();
  sink.reset();
}

bool LoggingInitialised() { return initialised.load(); }

std::string LogFilePath() { return sink ? sink->Path() : std::string(); }

}  // namespace morvex::core
