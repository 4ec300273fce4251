#include "ctl/ErrorSentences.h"

#include <array>
#include <string_view>

#include "Morvex.pb.h"
#include "core/StringPrintf.h"
#include "core/Text.h"

namespace morvex::ctl {
namespace {

// Indexed by qo::ErrorCode; the test holds it to the enum.
constexpr std::array<const char*, 23> kSentences = {
    // ZE_SUCCESS
    core::TrNoop("done"),
    // ZE_GENERAL
    core::TrNoop("the request failed: the Morvex service's log on {peer} says why"),
    // ZE_BAD_MSGCODE
    core::TrNoop("{peer} does not know this request: run the same Morvex version on both devices"),
    // ZE_BAD_DEVICE
    core::TrNoop("{peer} does not know this device yet: wait until each lists the other in 'morvexctl devices', "
                 "then try again"),
    // ZE_BAD_FORMAT
    core::TrNoop("{peer} could not read the request: run the same Morvex version on both devices"),
    // ZE_BAD_TREE
    core::TrNoop("no such sync folder: see 'morvexctl folders', or 'morvexctl remote-folders DEVICE' for a peer's"),
    // ZE_VCLOCK_MISMATCH
    core::TrNoop("the folder changed while it was being synced: run 'morvexctl sync-now' to try again"),
    // ZE_BAD_SYNCDIR
    core::TrNoop("the sync folder cannot be used: check that it exists and may be read and written, then run "
                 "'morvexctl rescan'"),
    // ZE_SQLITE
    core::TrNoop("the Morvex service on {peer} could not use its database: check the free disk space and the "
                 "profile folder's permissions, then restart the service"),
    // ZE_EXIST
    core::TrNoop("that exists already: see 'morvexctl folders' and 'morvexctl syncs'"),
    // ZE_NOENT
    core::TrNoop("no such folder, link, device or trust request: see 'morvexctl folders', 'morvexctl syncs' or "
                 "'morvexctl devices'"),
    // ZE_BAD_UUID
    core::TrNoop("no such device: 'morvexctl devices' lists the devices this device knows"),
    // ZE_PEER_ERROR
    core::TrNoop("{peer} refused the request: the Morvex service's log on {peer} says why"),
    // ZE_SYNCDIR_MISMATCH
    core::TrNoop("the two folders belong to different sync folders: link to the sync folder 'morvexctl "
                 "remote-folders DEVICE' lists"),
    // ZE_BAD_PATH
    core::TrNoop("that path cannot be used there: give an absolute path below one of 'morvexctl remote-roots "
                 "DEVICE'"),
    // ZE_BAD_PART
    core::TrNoop("part of a file arrived damaged: run 'morvexctl sync-now' to fetch it again"),
    // ZE_NESTED_TREE
    core::TrNoop("the folder lies inside another sync folder or contains one: choose a folder outside every sync "
                 "folder ('morvexctl folders' lists them)"),
    // ZE_SYNC_WITH_SELF
    core::TrNoop("a folder cannot be linked with this device itself: choose another device"),
    // ZE_SYNC_NOEMPTY
    core::TrNoop("the folder is not empty: choose an empty folder, or remove what it holds first"),
    // ZE_OPERATE_TIMEOUT
    core::TrNoop("{peer} did not answer in time: check that it is on, on the network and running Morvex, then try "
                 "again"),
    // ZE_PERMISSION_DENY
    core::TrNoop("{peer} does not allow this: the folder holds keys or Morvex's own data, or its user may not read "
                 "it"),
    // ZE_UNTRUSTED
    core::TrNoop("{peer} does not trust this device: run 'morvexctl trust request {peer}', then ask its owner to "
                 "run 'morvexctl trust accept {self}'"),
    // ZE_MSG_TAMPERING
    core::TrNoop("a message from {peer} failed its signature check: it was changed on the way, or {peer} has a new "
                 "key (then revoke and trust it again)"),
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
    return core::StringPrintf(core::Tr("unknown error %d: the Morvex service's log on %s says more"), code,
                              names.peer.c_str());
  }
  return Filled(core::Tr(kSentences[static_cast<size_t>(code)]), names);
}

std::string DatabaseUnopened(const std::string& path, const std::string& why) {
  return core::StringPrintf(core::Tr("cannot open %s (%s): start the Morvex service once with this profile, or name "
                                     "the profile folder with -m"),
                            path.c_str(), why.c_str());
}

std::string NoIdentity(const std::string& path) {
  return core::StringPrintf(core::Tr("no device identity in %s: start the Morvex service once with this profile"),
                            path.c_str());
}

std::string ServiceNoAnswer(int port, int seconds) {
  return core::StringPrintf(core::Tr("no answer from the Morvex service on port %d within %d s: start it "
                                     "('systemctl --user start morvex' or 'morvex --headless') and try again"),
                            port, seconds);
}

std::string ServiceImpostor(int port, const std::string& why) {
  return core::StringPrintf(
      core::Tr("the answer on port %d is not from this device's Morvex service (%s): check what else listens there"),
      port, why.c_str());
}

std::string PeerUnreachable(const std::string& peer) {
  return ErrorSentence(qo::ZE_OPERATE_TIMEOUT, {.peer = peer});
}

std::string PeerUnreadable(const std::string& peer, const std::string& why) {
  return core::StringPrintf(
      core::Tr("the answer from %s could not be read (%s): run the same Morvex version on both devices"),
      peer.c_str(), why.c_str());
}

std::string TrustRefused(const SentenceNames& names) {
  return core::StringPrintf(core::Tr("%s refused: its request had expired or was withdrawn; ask its owner to run "
                                     "'morvexctl trust request %s' again"),
                            names.peer.c_str(), names.self.c_str());
}

std::string NoTrustRequest(const SentenceNames& names) {
  return core::StringPrintf(core::Tr("no trust request of %s is waiting here (it expired or was withdrawn): ask its "
                                     "owner to run 'morvexctl trust request %s' again"),
                            names.peer.c_str(), names.self.c_str());
}

std::string NoSuchDevice(const std::string& wanted) {
  return core::StringPrintf(core::Tr("no such device: %s; 'morvexctl devices' lists the devices this device knows"),
                            Quoted(wanted).c_str());
}

std::string AmbiguousDevice(const std::string& wanted) {
  return core::StringPrintf(
      core::Tr("more than one device matches %s: give more of its UUID ('morvexctl devices' lists them)"),
      Quoted(wanted).c_str());
}

std::string NotASyncFolder(const std::string& path) {
  return core::StringPrintf(core::Tr("%s is not a sync folder: 'morvexctl folders' lists them"), Quoted(path).c_str());
}

std::string NoLinks(const std::string& path) {
  return core::StringPrintf(core::Tr("%s is not linked with any device: 'morvexctl syncs' lists the links"),
                            Quoted(path).c_str());
}

std::string NotLinked(const std::string& path, const std::string& peer) {
  return core::StringPrintf(core::Tr("%s is not linked with %s: 'morvexctl syncs' lists the links"),
                            Quoted(path).c_str(), peer.c_str());
}

std::string LinkNotRecorded() {
  return core::Tr("the link was made but is not listed: see 'morvexctl syncs', and the service's log");
}

std::string StillBusy(int seconds) {
  return core::StringPrintf(core::Tr("still busy after %d s: 'morvexctl status' shows what is left"), seconds);
}

std::string TrustRequested(const SentenceNames& names, int seconds) {
  return core::StringPrintf(core::Tr("trust requested of %s: its owner has %d s to run 'morvexctl trust accept %s' "
                                     "there; 'morvexctl devices' shows it as PAIR then"),
                            names.peer.c_str(), seconds, names.self.c_str());
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
