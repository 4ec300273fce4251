#pragma once

#include <string>

namespace morvex::core {

// Sends every log line to "<appDir>/Morvex*.log" files (mode 0600), flushed
// line by line. Before this call glog writes to standard error. When
// standard error is a terminal, WARNING and above are mirrored there.
void InitLogging(const std::string& appDir, const char* programName);
void ShutdownLogging();
bool LoggingInitialised();

}  // namespace morvex::core
