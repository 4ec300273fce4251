#pragma once

#include <optional>
#include <string>

namespace morvex::service {

// The sync password from where the user put it, first found wins: -t, then
// --token-file, then the environment (MORVEX_TOKEN). A password on the
// command line is readable by every user of the machine (ps,
// /proc/PID/cmdline); the file and the environment are not.
struct TokenChoice {
  std::optional<std::string> token;  // none: keep the stored one
  std::string error;                 // a file that cannot be used, and how to fix it
};

// `environment` is MORVEX_TOKEN's value (null when unset; empty counts as
// unset).
TokenChoice ChooseToken(const std::optional<std::string>& fromOption, const std::optional<std::string>& file,
                        const char* environment);

// The password in `path`: its first line without the line end. Refused
// (error set) unless it is a regular file that neither group nor others
// can read, and not empty.
TokenChoice ReadTokenFile(const std::string& path);

// A password from --token-file or the environment only seeds the first
// start: once one is stored (the first start, or 'morvexctl config set
// password' since), `token` is dropped and the stored one kept, with a
// WARNING when they differ. A unit file or `make run` passes the same
// value at every start, and it must not undo a change made since. -t is
// not given here: typed on one command line, it is meant for that start.
void KeepStoredToken(std::optional<std::string>& token);

inline constexpr const char* kTokenEnvironment = "MORVEX_TOKEN";

}  // namespace morvex::service
