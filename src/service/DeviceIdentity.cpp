#include "service/DeviceIdentity.h"

#include <glog/logging.h>
#include <unistd.h>

#include <ctime>
#include <iostream>

#include "core/Text.h"
#include "device/DeviceQueries.h"
#include "protocol/Identity.h"
#include "protocol/SslUtils.h"
#include "store/ContentResolver.h"
#include "store/SyncStateClear.h"

namespace morvex::service {

using store::CContentResolver;

namespace {

device::OwnDevice OwnRow(const config::ConfigValues& values) {
  return {values.deviceUuid, values.deviceName, values.RouteUri(), values.PubUri(), values.publicKey};
}

}  // namespace

void ApplyOptions(const CommandLineOptions& options, config::CKelmConfigManager& holder) {
  if (options.name) holder.SetDeviceName(*options.name);
  if (options.routePort) holder.SetRoutePort(*options.routePort);
  if (options.pubPort) holder.SetPubPort(*options.pubPort);
  if (options.broadcastPort) holder.SetBroadcastPort(*options.broadcastPort);
  if (options.token) holder.SetToken(*options.token);
}

bool AskResetOnTerminal() {
  if (!::isatty(STDIN_FILENO)) return false;  // nobody to ask
  std::cout << core::Tr(kTextResetQuestion) << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  // The Chinese question asks for its own word for yes.
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "确定";
}

void InsertOwnDevice(const config::ConfigValues& values) { device::InsertOwnDevice(OwnRow(values)); }

void CreateIdentity(config::CKelmConfigManager& working) {
  if (working.Snapshot()->deviceUuid.empty()) working.SetDeviceUuid(protocol::NewUuid());
  if (working.Snapshot()->deviceName.empty()) working.SetDeviceName(protocol::ComputerName());
  const protocol::ssl::KeyPairDer keys = protocol::ssl::GenerateKeyPair();
  if (keys.privateDer.empty()) LOG(ERROR) << "Failed to generate the device key pair";
  working.SetKeys(keys.publicDer, keys.privateDer);
  working.Save();
  InsertOwnDevice(*working.Snapshot());
}

bool SetUpDeviceIdentity(const config::CKelmConfigManager& holder, bool create, const ConfirmReset& confirm) {
  auto& resolver = CContentResolver::Instance();
  config::CKelmConfigManager working;
  if (create) {
    // Not even the options are taken when the reset is refused: "no" means
    // the device stays exactly as it was.
    if (!confirm()) return false;
    device::DeleteAllDevices();
    store::COperationList forget;
    store::AppendClearSyncState(forget);
    resolver.ApplyBatch(store::kAuthority, forget);
    working.CopyAll(holder);
    working.SetDeviceUuid(protocol::NewUuid());
    CreateIdentity(working);
    LOG(WARNING) << "Device re-initialised as " << working.Snapshot()->deviceUuid;
    return true;
  }
  working.Load();
  working.Merge(holder);
  working.Save();
  const auto values = working.Snapshot();
  if (values->deviceUuid.empty()) return true;
  device::UpdateOwnDevice(OwnRow(*values));
  return true;
}

int HeadlessFirstStart(const CommandLineOptions& options) {
  if (!options.token || options.token->empty()) {
    std::cerr << core::Tr(kTextNeedToken) << std::endl;
    LOG(ERROR) << kTextNeedToken;
    return 2;
  }
  config::CKelmConfigManager working;
  ApplyOptions(options, working);
  working.SetDeviceUuid(protocol::NewUuid());
  working.SetFeedBack("first");
  working.SetFirstTime(static_cast<int32_t>(std::time(nullptr)));
  CreateIdentity(working);
  LOG(INFO) << "New device " << working.Snapshot()->deviceUuid << " created";
  return 0;
}

int CheckOwnDevice(config::CKelmConfigManager& config, const FirstStart& firstStart) {
  config.Load();
  if (config.Snapshot()->deviceUuid.empty()) {
    const int status = firstStart ? firstStart() : 1;
    if (status != 0) return status;
    config.Load();
    if (config.Snapshot()->deviceUuid.empty()) return 1;
  }
  const auto values = config.Snapshot();
  if (!device::DeviceKnown(values->deviceUuid)) InsertOwnDevice(*values);
  return 0;
}

}  // namespace morvex::service
