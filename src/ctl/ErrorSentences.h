#pragma once

#include <string>

// Every failure text of morvexctl written here, in one place, so that a
// message catalog can take them over as they are: one sentence per
// qo::ErrorCode, plus the failures that are not an answer's code (a peer
// or the local service that did not answer, a name that matches nothing).
// Each says what happened and what to do next, in the user's words: no
// code names. Placeholders {peer} and {self} are filled in by the callers.
namespace morvex::ctl {

// The devices a sentence talks about, as the user names them.
struct SentenceNames {
  std::string peer = "the other device";
  std::string self = "this device";
};

// The sentence for an ErrorCode an answer carried; values outside the
// enum get a sentence too (the number and where to look).
std::string ErrorSentence(int code, const SentenceNames& names = {});

// Failures that are not a code, or a code whose meaning the command knows
// better than the table.
std::string DatabaseUnopened(const std::string& path, const std::string& why);
std::string NoIdentity(const std::string& path);
std::string ServiceNoAnswer(int port, int seconds);
std::string ServiceImpostor(int port, const std::string& why);
std::string PeerUnreachable(const std::string& peer);
std::string PeerUnreadable(const std::string& peer, const std::string& why);
std::string TrustRefused(const SentenceNames& names);
std::string NoTrustRequest(const SentenceNames& names);
std::string NoSuchDevice(const std::string& wanted);
std::string AmbiguousDevice(const std::string& wanted);
std::string NotASyncFolder(const std::string& path);
std::string NoLinks(const std::string& path);
std::string NotLinked(const std::string& path, const std::string& peer);
std::string LinkNotRecorded();
std::string StillBusy(int seconds);
// Not a failure: what happens after a trust request was delivered.
std::string TrustRequested(const SentenceNames& names, int seconds);

// Usage mistakes: one line naming what was wrong and where help is.
std::string UnknownCommand(const std::string& word);
std::string UnknownHelpTopic(const std::string& word);
std::string UnknownVerb(const std::string& command, const std::string& word);
std::string MissingArgument(const std::string& command);
std::string TooManyWords(const std::string& command, const std::string& extra);
std::string UnknownOption(const std::string& option);
// An option the command does not take (--follow is for 'events' only).
std::string OptionNotForCommand(const std::string& option, const std::string& command);
std::string MissingOptionValue(const std::string& option);
std::string BadNumber(const std::string& option, const std::string& value);
std::string NoCommand();
// 'config': a key that is no setting, a value the setting cannot take
// (`problem`, already translated).
std::string UnknownSetting(const std::string& word, const std::string& known);
std::string BadSettingValue(const std::string& problem);

}  // namespace morvex::ctl
