#pragma once

#include <glog/logging.h>

#include <mutex>
#include <string>
#include <vector>

namespace morvex::test {

// Collects the log lines written while it exists, for tests that check a
// message text.
class LogCapture : public google::LogSink {
 public:
  LogCapture() { google::AddLogSink(this); }
  ~LogCapture() override { google::RemoveLogSink(this); }

  void send(google::LogSeverity severity, const char*, const char*, int, const google::LogMessageTime&,
            const char* message, size_t length) override {
    std::lock_guard lock(mutex_);
    lines_.push_back({severity, std::string(message, length)});
  }

  // True when a line of that severity contains `text`.
  bool Has(google::LogSeverity severity, const std::string& text) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
      if (line.severity == severity && line.text.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // How many lines, of any severity, contain `text`.
  int Count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& line : lines_) count += line.text.find(text) != std::string::npos ? 1 : 0;
    return count;
  }

 private:
  struct Line {
    google::LogSeverity severity;
    std::string text;
  };
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

}  // namespace morvex::test
