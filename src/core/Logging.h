#pragma once

#include <string>

namespace morvex::core {

// Sends every log line to the day's "<appDir>/Morvex-YYYYMMDD.log" (mode
// 0600, appended to by every start that day, written line by line), after
// removing the files older than kLogKeepDays; each new day prunes again. Before this call glog writes
// to standard error. WARNING and above are mirrored on standard error as
// well: on a terminal for the user, under systemd for the journal.
void InitLogging(const std::string& appDir, const char* programName);
void ShutdownLogging();
bool LoggingInitialised();
// The file being written to now; empty before InitLogging.
std::string LogFilePath();

}  // namespace morvex::core
