#include "ctl/ErrorSentences.h"

#include <array>
#include <string_view>

#include "Morvex.pb.h"
#include "core/StringPrintf.h"
#include "core/Text.h"

namespace morvex::ctl {
namespace {

// Indexed by qo::ErrorCode; the test holds it to the enum.
constexpr std::array<std::string_view, 23> kSentences = {
    /* ZE_SUCCESS */ "done",
    /* ZE_GENERAL */ "the request failed: the Morvex service's log on {peer} says why",
    /* ZE_BAD_MSGCODE */
    "{peer} does not know this request: run the same Morvex version on both devices",
    /* ZE_BAD_DEVICE */
    "{peer} does not know this device yet: wait until each lists the other in 'morvexctl devices', then try again",
    /* ZE_BAD_FORMAT */
    "{peer} could not read the request: run the same Morvex version on both devices",
    /* ZE_BAD_TREE */
    "no such sync folder: see 'morvexctl folders', or 'morvexctl remote-folders DEVICE' for a peer's",
    /* ZE_VCLOCK_MISMATCH */
    "the folder changed while it was being synced: run 'morvexctl sync-now' to try again",
    /* ZE_BAD_SYNCDIR */
    "the sync folder cannot be used: check that it exists and may be read and written, then run 'morvexctl rescan'",
    /* ZE_SQLITE */
    "the Morvex service on {peer} could not use its database: check the free disk space and the profile "
    "folder's permissions, then restart the service",
    /* ZE_EXIST */ "that exists already: see 'morvexctl folders' and 'morvexctl syncs'",
    /* ZE_NOENT */
    "no such folder, link, device or trust request: see 'morvexctl folders', 'morvexctl syncs' or "
    "'morvexctl devices'",
    /* ZE_BAD_UUID */ "no such device: 'morvexctl devices' lists the devices this device knows",
    /* ZE_PEER_ERROR */ "{peer} refused the request: the Morvex service's log on {peer} says why",
    /* ZE_SYNCDIR_MISMATCH */
    "the two folders belong to different sync folders: link to the sync folder 'morvexctl remote-folders DEVICE' "
    "lists",
    /* ZE_BAD_PATH */
    "that path cannot be used there: give an absolute path below one of 'morvexctl remote-roots DEVICE'",
    /* ZE_BAD_PART */ "part of a file arrived damaged: run 'morvexctl sync-now' to fetch it again",
    /* ZE_NESTED_TREE */
    "the folder lies inside another sync folder or contains one: choose a folder outside every sync folder "
    "('morvexctl folders' lists them)",
    /* ZE_SYNC_WITH_SELF */ "a folder cannot be linked with this device itself: choose another device",
    /* ZE_SYNC_NOEMPTY */ "the folder is not empty: choose an empty folder, or remove what it holds first",
    /* ZE_OPERATE_TIMEOUT */
    "{peer} did not answer in time: check that it is on, on the network and running Morvex, then try again",
    /* ZE_PERMISSION_DENY */
    "{peer} does not allow this: the folder holds keys or Morvex's own data, or its user may not read it",
    /* ZE_UNTRUSTED */
    "{peer} does not trust this device: run 'morvexctl trust request {peer}', then ask its owner to run "
    "'morvexctl trust accept {self}'",
    /* ZE_MSG_TAMPERING */
    "a message from {peer} failed its signature check: it was changed on the way, or {peer} has a new key "
    "(then revoke and trust it again)",
};

std::string Filled(std::string_view pattern, const SentenceNames& names) {
  std::string text;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern.substr(i, 6) == "{peer}") {
      text += names.peer;
      i += 6;
    } else if (pattern.substr(i, 6) == "{self}") {
      text += names.self;
      i += 6;
    } else {
      text += pattern[i++];
    }
  }
  return text;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string UsageLine(const std::string& what) {
  return "morvexctl: " + core::StringPrintf(core::Tr("%s; see 'morvexctl --help'"), what.c_str());
}

}  // namespace

static_assert(kSentences.size() == qo::ErrorCode_MAX + 1, "one sentence per ErrorCode");

std::string ErrorSentence(int code, const SentenceNames& names) {
  if (code < 0 || static_cast<size_t>(code) >= kSentences.size()) {
    return "unknown error " + std::to_string(code) + ": the Morvex service's log on " + names.peer + " says more";
  }
  return Filled(kSentences[static_cast<size_t>(code)], names);
}

std::string DatabaseUnopened(const std::string& path, const std::string& why) {
  return "cannot open " + path + " (" + why + "): start the Morvex service once with this profile, or name the "
         "profile folder with -m";
}

std::string NoIdentity(const std::string& path) {
  return "no device identity in " + path + ": start the Morvex service once with this profile";
}

std::string ServiceNoAnswer(int port, int seconds) {
  return "no answer from the Morvex service on port " + std::to_string(port) + " within " + std::to_string(seconds) +
         " s: start it ('systemctl --user start morvex' or 'morvex --headless') and try again";
}

std::string ServiceImpostor(int port, const std::string& why) {
  return "the answer on port " + std::to_string(port) + " is not from this device's Morvex service (" + why +
         "): check what else listens there";
}

std::string PeerUnreachable(const std::string& peer) {
  return ErrorSentence(qo::ZE_OPERATE_TIMEOUT, {.peer = peer});
}

std::string PeerUnreadable(const std::string& peer, const std::string& why) {
  return "the answer from " + peer + " could not be read (" + why + "): run the same Morvex version on both devices";
}

std::string TrustRefused(const SentenceNames& names) {
  return names.peer + " refused: its request had expired or was withdrawn; ask its owner to run 'morvexctl trust "
                      "request " + names.self + "' again";
}

std::string NoTrustRequest(const SentenceNames& names) {
  return "no trust request of " + names.peer + " is waiting here (it expired or was withdrawn): ask its owner to run "
         "'morvexctl trust request " + names.self + "' again";
}

std::string NoSuchDevice(const std::string& wanted) {
  return "no such device: " + Quoted(wanted) + "; 'morvexctl devices' lists the devices this device knows";
}

std::string AmbiguousDevice(const std::string& wanted) {
  return "more than one device matches " + Quoted(wanted) + ": give more of its UUID ('morvexctl devices' lists them)";
}

std::string NotASyncFolder(const std::string& path) {
  return Quoted(path) + " is not a sync folder: 'morvexctl folders' lists them";
}

std::string NoLinks(const std::string& path) {
  return Quoted(path) + " is not linked with any device: 'morvexctl syncs' lists the links";
}

std::string NotLinked(const std::string& path, const std::string& peer) {
  return Quoted(path) + " is not linked with " + peer + ": 'morvexctl syncs' lists the links";
}

std::string LinkNotRecorded() {
  return "the link was made but is not listed: see 'morvexctl syncs', and the service's log";
}

std::string StillBusy(int seconds) {
  return "still busy after " + std::to_string(seconds) + " s: 'morvexctl status' shows what is left";
}

std::string TrustRequested(const SentenceNames& names, int seconds) {
  return "trust requested of " + names.peer + ": its owner has " + std::to_string(seconds) +
         " s to run 'morvexctl trust accept " + names.self + "' there; 'morvexctl devices' shows it as PAIR then";
}

std::string UnknownCommand(const std::string& word) {
  return UsageLine(core::StringPrintf(core::Tr("unknown command %s"), Quoted(word).c_str()));
}
std::string UnknownHelpTopic(const std::string& word) {
  return UsageLine(core::StringPrintf(core::Tr("no help for %s, no such command"), Quoted(word).c_str()));
}
std::string UnknownVerb(const std::string& command, const std::string& word) {
  return UsageLine(core::StringPrintf(core::Tr("%s has no %s"), Quoted(command).c_str(), Quoted(word).c_str()));
}
std::string MissingArgument(const std::string& command) {
  return UsageLine(core::StringPrintf(core::Tr("%s needs more arguments"), Quoted(command).c_str()));
}
std::string TooManyWords(const std::string& command, const std::string& extra) {
  return UsageLine(core::StringPrintf(core::Tr("%s takes no %s"), Quoted(command).c_str(), Quoted(extra).c_str()));
}
std::string UnknownOption(const std::string& option) {
  return UsageLine(core::StringPrintf(core::Tr("unknown option %s"), Quoted(option).c_str()));
}
std::string MissingOptionValue(const std::string& option) {
  return UsageLine(core::StringPrintf(core::Tr("%s needs a value"), Quoted(option).c_str()));
}
std::string OptionNotForCommand(const std::string& option, const std::string& command) {
  return UsageLine(core::StringPrintf(core::Tr("%s takes no %s"), Quoted(command).c_str(), Quoted(option).c_str()));
}
std::string BadNumber(const std::string& option, const std::string& value) {
  return UsageLine(core::StringPrintf(core::Tr("%s takes a whole number of seconds above 0, not %s"),
                                      Quoted(option).c_str(), Quoted(value).c_str()));
}
std::string NoCommand() { return UsageLine(core::Tr("no command given")); }

std::string UnknownSetting(const std::string& word, const std::string& known) {
  return UsageLine(core::StringPrintf(core::Tr("%s is no setting: one of %s"), Quoted(word).c_str(), known.c_str()));
}
std::string BadSettingValue(const std::string& problem) { return UsageLine(problem); }

}  // namespace morvex::ctl
