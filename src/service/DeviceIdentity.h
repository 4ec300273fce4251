#pragma once

#include <functional>
#include <string>

#include "config/KelmConfig.h"
#include "core/Text.h"
#include "service/CommandLine.h"

namespace morvex::service {

// Turns the parsed options into an option holder: -n, -r/-p/-b (checked by
// the parser), the sync password through the token setter. The new UUID of -c is made only once the reset
// is confirmed.
void ApplyOptions(const CommandLineOptions& options, config::CKelmConfigManager& holder);

// The reset question of --create; true to go ahead.
using ConfirmReset = std::function<bool()>;
// Asks on the terminal when standard input is one; without a terminal the
// answer is no (--yes confirms there).
bool AskResetOnTerminal();

// Start-up step: with `create` and the reset confirmed, empties the tables
// of devices, syncs, files, trees and clocks, and makes a new identity (a
// new UUID, new keys) from the options; without `create`, merges the options
// into the stored configuration and refreshes this device's own row. False
// when the reset was not confirmed: then nothing at all has changed, and
// the start is to fail.
bool SetUpDeviceIdentity(const config::CKelmConfigManager& holder, bool create, const ConfirmReset& confirm);

// What a device without a UUID runs to get one (the setup wizard on a
// desktop). Returns 0 when it stored a complete configuration, otherwise the
// process exit status to fail with.
using FirstStart = std::function<int()>;
// The headless first start: name from -n (default the computer name), sync
// password from -t, --token-file or MORVEX_TOKEN (required), ports from the options.
int HeadlessFirstStart(const CommandLineOptions& options);

// Start-up step: loads `config`, runs `firstStart` when there is no device
// UUID, and makes sure this device's own row exists. Returns 0, or the exit
// status to fail with.
int CheckOwnDevice(config::CKelmConfigManager& config, const FirstStart& firstStart);

// Writes a complete new identity (UUID, key pair, values of `values`) to
// Config and inserts this device's own row.
void CreateIdentity(config::CKelmConfigManager& working);

// Inserts this device's own Device row from the configuration (ignored when
// it exists).
void InsertOwnDevice(const config::ConfigValues& values);

inline constexpr const char* kTextResetQuestion = core::TrNoop(
    "You are about to re-initialise the Morvex service, which clears every sync setting. If this is the first run "
    "or you mean to set it up again, choose \"yes\", otherwise choose \"cancel\"");
inline constexpr const char* kTextResetNotConfirmed = core::TrNoop(
    "--create not confirmed, nothing was changed: answer \"y\" on a terminal, or add --yes to re-initialise "
    "this device (a new identity: every peer must trust it again)");
inline constexpr const char* kTextNeedToken = core::TrNoop(
    "the first start needs a sync password: set MORVEX_TOKEN, or give --token-file PATH or -t PASSWORD");

}  // namespace morvex::service
