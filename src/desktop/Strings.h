// The desktop's texts.
//
// Numbered texts are kept in one table under the numbers the windows use for
// them (Str(206)), the rest as named constants beside it; all are English
// here and translated through the message catalog (core/Text.h: po/*.po
// holds the Chinese texts). Format texts are looked up at compile time
// (Str is consteval), so printf checks their arguments against the English,
// and msgfmt --check checks each translation against the English.
#pragma once

#include <string>

#include "core/Text.h"

namespace morvex::desktop {

// A text with its plural; `many` is null for a text without one.
struct TextPair {
  const char* one;
  const char* many;
};

// Marks a singular and plural pair for the catalog (xgettext --keyword=TrNoopN:1,2).
constexpr TextPair TrNoopN(const char* one, const char* many) { return {one, many}; }

struct StringEntry {
  int id;
  TextPair text;
};

inline constexpr StringEntry kStringTable[] = {
    {101, {core::TrNoop("&About Morvex..."), nullptr}},
    {102, {core::TrNoop("(empty)"), nullptr}},
    {104, {core::TrNoop("Sync now"), nullptr}},
    {105, {core::TrNoop("Syncing..."), nullptr}},
    {107, {core::TrNoop("Morvex"), nullptr}},
    {109, {core::TrNoop("The operation failed"), nullptr}},
    {110, {core::TrNoop("Select a local folder first"), nullptr}},
    {111, {core::TrNoop("Add a sync folder"), nullptr}},
    {112, {core::TrNoop("Choose a sync folder"), nullptr}},
    {113, {core::TrNoop("Choose the local folder to sync"), nullptr}},
    {114, {core::TrNoop("To create a sync folder, click \"New\""), nullptr}},
    {115, {core::TrNoop("Read-only directories are not supported yet"), nullptr}},
    {116, {core::TrNoop("Could not get the sync folder information"), nullptr}},
    {117, {core::TrNoop("Choose a sync folder"), nullptr}},
    {118, {core::TrNoop("The chosen folder already syncs with another sync folder"), nullptr}},
    {119, {core::TrNoop("The selection is not a real folder and cannot be synced"), nullptr}},
    {120, {core::TrNoop("Could not set up the local copy of the sync folder"), nullptr}},
    {121, {core::TrNoop("The other device is offline or has gone offline"), nullptr}},
    {122, {core::TrNoop("Could not create the sync folder"), nullptr}},
    {125, {core::TrNoop("Choose a directory"), nullptr}},
    {126, {core::TrNoop("The path entered is not a folder: a sync folder must be a folder on this computer"), nullptr}},
    {127, {core::TrNoop("Could not create the sync folder"), nullptr}},
    {128, {core::TrNoop("Choose a folder"), nullptr}},
    {129, {core::TrNoop("Read-only folders are not supported yet"), nullptr}},
    {130, {core::TrNoop("Morvex setup wizard"), nullptr}},
    {131, {core::TrNoop("Welcome to the Morvex setup wizard"), nullptr}},
    {132, {core::TrNoop("This wizard guides you through setting up Morvex. First, give this device a name"), nullptr}},
    {133, {core::TrNoop("The device name cannot be empty"), nullptr}},
    {134, {core::TrNoop("Set the sync password"), nullptr}},
    {135, {core::TrNoop("Choose a sync password of your own and remember it"), nullptr}},
    {137, {core::TrNoop("The sync password cannot be empty"), nullptr}},
    {143, {core::TrNoop("Two of the ports are the same"), nullptr}},
    {144, {core::TrNoop("The other device does not trust this device"), nullptr}},
    {145, {core::TrNoop("Device name"), nullptr}},
    {146, {core::TrNoop("Invalid folder name"), nullptr}},
    {147, {core::TrNoop("Permission denied"), nullptr}},
    {148, {core::TrNoop("Address"), nullptr}},
    {149, {core::TrNoop("No sync folder was chosen. Close anyway?"), nullptr}},
    {150, {core::TrNoop("Trusted"), nullptr}},
    {152, {core::TrNoop("Clear the whole history? This cannot be undone"), nullptr}},
    {153, {core::TrNoop("Enter a port number from 1024 to 65535"), nullptr}},
    {154, {core::TrNoop("History cleared"), nullptr}},
    {155, {core::TrNoop("Devices"), nullptr}},
    {156, {core::TrNoop("Sync folders"), nullptr}},
    {157, {core::TrNoop("Settings"), nullptr}},
    {160, {core::TrNoop("Trust"), nullptr}},
    {161, {core::TrNoop("End trust"), nullptr}},
    {162, {core::TrNoop("End the trust with \"%s\"?"), nullptr}},
    {172, {core::TrNoop("Start when you log in"), nullptr}},
    {173, {core::TrNoop("Choose whether Morvex starts by itself when you log in"), nullptr}},
    {200, {core::TrNoop("Device %s wants to connect to this device. Do you trust it?"), nullptr}},
    {201, {core::TrNoop("Waiting for %s to accept..."), nullptr}},
    {202, {core::TrNoop("Cancel (%02d)"), nullptr}},
    {204, TrNoopN("%d file deleted", "%d files deleted")},
    {205, TrNoopN("%d file updated", "%d files updated")},
    {206, TrNoopN("Indexing %d file", "Indexing %d files")},
    {207, TrNoopN("Running %d sync task", "Running %d sync tasks")},
    {208, {core::TrNoop("No task running"), nullptr}},
    {209, TrNoopN("Syncing %d file", "Syncing %d files")},
    {210, TrNoopN("Syncing %d file at %s", "Syncing %d files at %s")},
    {211, TrNoopN("Syncing %d file, %s, %s left", "Syncing %d files, %s, %s left")},
    {212, {core::TrNoop("Could not sync the file \"%s\": the path is not valid"), nullptr}},
    {213,
     {core::TrNoop("Delete the sync folder \"%s\"?\nThis also deletes all of its sync relations and cannot be undone."),
      nullptr}},
    {214, {core::TrNoop("Delete the selected sync relation?"), nullptr}},
    {215, TrNoopN("%d file", "%d files")},
    {216, TrNoopN("%d file, %s", "%d files, %s")},
    {217, TrNoopN("%d file, %s, %s left", "%d files, %s, %s left")},
};

// The English of text `id` (its singular); a missing number does not compile.
consteval const char* Str(int id) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == id) return entry.text.one;
  }
  throw "no desktop text has this number";
}

// The English pair of a text with a plural.
consteval TextPair StrPair(int id) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.id == id && entry.text.many) return entry.text;
  }
  throw "no desktop text with a plural has this number";
}

// Text `id` in the user's language, looked up at run time (texts without
// arguments, and tests); null for an unknown number.
const char* Text(int id);

// Text `id` for `count` in the user's language (its plural where it has one).
const char* TextN(int id, unsigned long count);

// printf(3) into a std::string, for the translated format texts.
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Texts of the windows that have no number of their own.
namespace text {
// Tray menu.
inline constexpr const char* kOpenMorvex = core::TrNoop("Open Morvex");
inline constexpr const char* kRecentChanges = core::TrNoop("Recent changes");
inline constexpr const char* kClearHistory = core::TrNoop("&Clear history");
inline constexpr const char* kCheckForUpdates = core::TrNoop("Check for updates");
inline constexpr const char* kSendFeedback = core::TrNoop("Send feedback");
inline constexpr const char* kAbout = core::TrNoop("About...");
inline constexpr const char* kExit = core::TrNoop("E&xit");
// Shown by the menu commands whose windows come in a later version.
// Speeds and times in the status texts.
inline constexpr const char* kSpeedB = core::TrNoop("%.1lfB/s");
inline constexpr const char* kSpeedKB = core::TrNoop("%.1lfKB/s");
inline constexpr const char* kSpeedMB = core::TrNoop("%.1lfMB/s");
inline constexpr const char* kSpeedGB = core::TrNoop("%.1lfGB/s");
inline constexpr const char* kSpeedTB = core::TrNoop("%.1lfTB/s");
inline constexpr const char* kSeconds = core::TrNoop("%ds");
inline constexpr const char* kMinutesSeconds = core::TrNoop("%dm %ds");
inline constexpr const char* kHoursMinutes = core::TrNoop("%dh %dm");
inline constexpr const char* kDaysHours = core::TrNoop("%dd %dh");
inline constexpr const char* kAWhile = core::TrNoop("a while, please be patient");
// Trust dialogs.
inline constexpr const char* kWaitingTitle = core::TrNoop("Waiting for the other device");
inline constexpr const char* kConfirmTitle = core::TrNoop("Trust request");
inline constexpr const char* kTrustThisDevice = core::TrNoop("Trust this device");
// Notifications.
inline constexpr const char* kDenyTrust = core::TrNoop("Deny");
inline constexpr const char* kKeyRefusedBody = core::TrNoop(
    "The trusted device \"%s\" answered from %s with another key: it may not be that device. Its messages are "
    "refused.");
inline constexpr const char* kConflictCopyBody = core::TrNoop(
    "Both versions of a file were kept: the copy \"%s\" was made while syncing with %s");
inline constexpr const char* kPassFailedBody = core::TrNoop("Syncing \"%s\" with %s ended with files not done");
// A trust request that did not get through.
inline constexpr const char* kPeerDidNotAnswer = core::TrNoop(
    "%s did not answer: check that it is on, on the network and running Morvex, then try again");
inline constexpr const char* kPeerRefused = core::TrNoop(
    "%s refused the request: the Morvex service's log on that device says why");
inline constexpr const char* kServiceSilent = core::TrNoop("The Morvex service did not answer: its log says why");
// Feedback, reminder and about.
inline constexpr const char* kFeedbackTitle = core::TrNoop("Tell us what you think");
inline constexpr const char* kFeedbackAlreadyOpen = core::TrNoop("The feedback window is open already");
inline constexpr const char* kFeedbackIntro = core::TrNoop(
    "What you tell us keeps us improving “Morvex”, to make it the best file sync tool for a local network!");
inline constexpr const char* kFeedbackSignature = core::TrNoop("— the Morvex team");
inline constexpr const char* kFeedbackRate = core::TrNoop("Rate Morvex:");
inline constexpr const char* kRatingGreat = core::TrNoop("Great, it does what I need");
inline constexpr const char* kRatingGood = core::TrNoop("Pretty good");
inline constexpr const char* kRatingSoSo = core::TrNoop("So-so");
inline constexpr const char* kRatingNeedsWork = core::TrNoop("It needs work");
inline constexpr const char* kRatingBuggy = core::TrNoop("Too many bugs, I cannot use it");
inline constexpr const char* kRatingUseless = core::TrNoop("It does nothing I need");
inline constexpr const char* kFeedbackComment = core::TrNoop("Anything else you want to say:");
inline constexpr const char* kFeedbackContact = core::TrNoop("How we can reach you:");
inline constexpr const char* kFeedbackNotSent = core::TrNoop(
    "The feedback could not be sent: check the network and try again");
inline constexpr const char* kReminderTitle = core::TrNoop("Thank you for using Morvex");
inline constexpr const char* kReminderText = core::TrNoop(
    "Do you like Morvex? Say a few words to cheer us on!\n\nNot working for you? Tell us, and we will make it "
    "better!");
inline constexpr const char* kReminderNow = core::TrNoop("Give feedback now");
inline constexpr const char* kReminderLater = core::TrNoop("Later");
inline constexpr const char* kReminderNoThanks = core::TrNoop("No, thanks");
inline constexpr const char* kAboutTitle = core::TrNoop("About Morvex");
inline constexpr const char* kAboutVersion = core::TrNoop("Morvex\nversion %s");
inline constexpr const char* kAboutWebsite = core::TrNoop("Web site");
inline constexpr const char* kAboutSupport = core::TrNoop("Support");
// Settings page.
inline constexpr const char* kDeviceNameLabel = core::TrNoop("Device name:");
inline constexpr const char* kPasswordLabel = core::TrNoop("Sync password:");
inline constexpr const char* kPasswordNote = core::TrNoop("Morvex finds the devices that have the same sync password");
inline constexpr const char* kDiscoveryPortLabel = core::TrNoop("Discovery port:");
inline constexpr const char* kRoutePortLabel = core::TrNoop("Sync service port:");
inline constexpr const char* kPublishPortLabel = core::TrNoop("Status notification port:");
inline constexpr const char* kStartAtLogin = core::TrNoop("Start at log-in");
inline constexpr const char* kApply = core::TrNoop("Apply");
inline constexpr const char* kCancel = core::TrNoop("Cancel");
// Setup wizard.
inline constexpr const char* kWizardNameLabel = core::TrNoop("Name of this device:");
inline constexpr const char* kSetupCancelled = core::TrNoop("the setup was cancelled: nothing was stored");
inline constexpr const char* kTypicalSetup = core::TrNoop("Typical");
inline constexpr const char* kCustomSetup = core::TrNoop("Custom");
inline constexpr const char* kSetupKind = core::TrNoop("Kind of setup");
inline constexpr const char* kNameExplained = core::TrNoop(
    "Give this device a name: the devices that sync with it show this name to tell it apart");
inline constexpr const char* kPasswordExplained = core::TrNoop(
    "Set a sync password: only devices with the same password can find each other and sync");
inline constexpr const char* kPasswordWarning = core::TrNoop(
    "Note: the sync password is the only safeguard at present, so keep it secret");
inline constexpr const char* kPortsExplained = core::TrNoop(
    "Only devices with the same discovery port can find each other and sync, so give the devices that sync "
    "with each other the same discovery port. The sync service port and the status notification port can be "
    "chosen freely as long as they do not clash.");
inline constexpr const char* kStartAtLoginExplained = core::TrNoop(
    "Starting Morvex when you log in keeps your sync folders up to date from the moment the computer is on; "
    "we recommend it");
// Link wizard and new-sync-folder dialog.
inline constexpr const char* kNewSyncFolder = core::TrNoop("Create a new sync folder");
inline constexpr const char* kNewSyncFolderExplained = core::TrNoop(
    "Make a folder on this computer a new sync folder, so that other devices can sync with it");
inline constexpr const char* kExistingSyncFolder = core::TrNoop("Use an existing sync folder");
inline constexpr const char* kExistingSyncFolderExplained = core::TrNoop(
    "Sync an existing sync folder with a folder on this computer");
inline constexpr const char* kThisDevice = core::TrNoop("This device");
inline constexpr const char* kNetworkDevices = core::TrNoop("Devices on the network");
inline constexpr const char* kDeviceColumn = core::TrNoop("Device");
inline constexpr const char* kNameColumn = core::TrNoop("Name");
inline constexpr const char* kPathColumn = core::TrNoop("Path");
inline constexpr const char* kCreateSyncFolder = core::TrNoop("Create sync folder");
inline constexpr const char* kSyncFolderPathLabel = core::TrNoop("Sync folder path");
inline constexpr const char* kBrowse = core::TrNoop("Browse...");
inline constexpr const char* kNewSyncFolderNote = core::TrNoop(
    "This creates a new sync folder, which cannot sync with any existing sync folder. You can, however, link any "
    "folder that is not a sync folder to it.");
inline constexpr const char* kPickFolderTitle = core::TrNoop("Choose a folder:");
inline constexpr const char* kCreateSyncDirTitle = core::TrNoop("New sync folder");
inline constexpr const char* kFolderLabel = core::TrNoop("Folder:");
inline constexpr const char* kChooseFolder = core::TrNoop("Choose folder");
inline constexpr const char* kNetworkError = core::TrNoop("Network error");
inline constexpr const char* kRequestError = core::TrNoop("Error");
inline constexpr const char* kResponseError = core::TrNoop("Response error");
inline constexpr const char* kPictures = core::TrNoop("Pictures");
inline constexpr const char* kVideos = core::TrNoop("Videos");
inline constexpr const char* kMusic = core::TrNoop("Music");
inline constexpr const char* kDocuments = core::TrNoop("Documents");
inline constexpr const char* kDesktopFolder = core::TrNoop("Desktop");
// Sync folders page.
inline constexpr const char* kRemotePath = core::TrNoop("Remote path");
inline constexpr const char* kStatus = core::TrNoop("Status");
inline constexpr const char* kAdd = core::TrNoop("Add");
inline constexpr const char* kDelete = core::TrNoop("Delete");
// The device of a relation whose device row is gone.
inline constexpr const char* kUnknownDevice = core::TrNoop("Unknown");
}  // namespace text

}  // namespace morvex::desktop
