#include "ctl/CtlClient.h"

#include <cstdlib>
#include <map>
#include <memory>

#include "config/KelmConfig.h"
#include "core/Text.h"
#include "ctl/ErrorSentences.h"
#include "device/Device.h"
#include "platform/Metadir.h"
#include "protocol/KeyStore.h"
#include "protocol/PeerChannel.h"
#include "protocol/SslUtils.h"
#include "store/ContentProvider.h"
#include "store/Schema.h"

namespace morvex::ctl {
namespace {

// Answers come from this device itself or from the one peer asked: their
// keys are the only ones needed.
class ConversationKeys final : public protocol::IKeyManager {
 public:
  ConversationKeys(std::string privateKey, std::map<std::string, std::string> publicKeys)
      : privateKey_(std::move(privateKey)), publicKeys_(std::move(publicKeys)) {}
  std::string GetPrivateKey() override { return privateKey_; }
  std::string GetPublicKey(const std::string& uuid, bool) override {
    const auto found = publicKeys_.find(uuid);
    return found != publicKeys_.end() ? found->second : std::string();
  }

 private:
  std::string privateKey_;
  std::map<std::string, std::string> publicKeys_;
};

std::string DatabasePath(const std::string& metadir) {
  return metadir + "/" + platform::kAppDirName + "/" + store::kDatabaseFileName;
}

}  // namespace

bool OpenLocalDatabase(const std::string& metadir, std::string& error) {
  // A process reads one device's database at a time; the tests' processes
  // may go from one metadir to another.
  static std::string opened;
  if (opened == metadir && store::MainProvider().Database().IsOpen()) return true;
  store::ShutdownContentFramework();
  opened.clear();
  if (!store::InitContentFrameworkReadOnly(metadir)) {
    error = DatabaseUnopened(DatabasePath(metadir), store::MainProvider().InitError());
    return false;
  }
  opened = metadir;
  return true;
}

std::string LocalDatabaseUnreadable(const std::string& metadir) { return "cannot read " + DatabasePath(metadir); }

std::optional<LocalIdentity> ReadLocalIdentity(const std::string& metadir, std::string& error) {
  if (!OpenLocalDatabase(metadir, error)) return std::nullopt;
  config::CKelmConfigManager config;
  config.Load();
  const auto values = config.Snapshot();
  LocalIdentity identity;
  identity.uuid = values->deviceUuid;
  identity.name = values->deviceName;
  identity.routePort = values->routePort;
  identity.pubPort = values->pubPort;
  identity.broadcastPort = values->broadcastPort;
  identity.privateKey = values->privateKey;
  identity.publicKey = values->publicKey;
  if (identity.uuid.empty() || identity.privateKey.empty()) {
    error = NoIdentity(DatabasePath(metadir));
    return std::nullopt;
  }
  return identity;
}

std::optional<PeerDevice> ReadPeerDevice(const std::string& metadir, const std::string& uuid, std::string& error) {
  if (!OpenLocalDatabase(metadir, error)) return std::nullopt;
  device::CDevice row;
  if (!row.LoadByUuid(uuid)) {
    error = core::Tr(CtlClient::kPeerOffline);
    return std::nullopt;
  }
  return PeerDevice{row.uuid, row.name, row.routeUri, protocol::ssl::PemToDerPublic(row.pubkey), row.online == 1};
}

CtlClient::CtlClient(LocalIdentity identity) : identity_(std::move(identity)) {}

CtlClient::~CtlClient() = default;

core::Status CtlClient::Exchange(const std::string& endpoint, const std::string& peerUuid, const std::string& peerKey, int code,
                        const google::protobuf::MessageLite* body, int waitMs, CtlAnswer& answer) {
  std::map<std::string, std::string> keys = {{identity_.uuid, identity_.publicKey}};
  keys[peerUuid] = peerKey;
  ConversationKeys conversation(identity_.privateKey, std::move(keys));
  protocol::ChannelOptions options;
  options.sendTimeoutMs = waitMs;
  options.lingerMs = 0;  // an unanswered request must not hold the exit
  options.logWarnings = false;
  protocol::PeerChannel channel(zmq_, endpoint, {identity_.uuid, identity_.privateKey}, peerKey, conversation,
                                options);
  const protocol::PeerReply reply = channel.Ask(code, body, waitMs);
  if (!reply.answered()) {
    // Nothing read: the channel's status says which way it failed, the
    // message names the receive error the way the rest of the client does.
    if (reply.receiveError == 0) return reply.status;
    const std::string text = ErrorSentence(reply.receiveError);
    switch (reply.status.code()) {
      case core::Status::Code::kTimeout:
        return core::Status::Timeout(text);
      case core::Status::Code::kRejected:
        return core::Status::Rejected(text);
      default:
        return core::Status::Unavailable(text);
    }
  }
  if (reply.refused()) {
    answer.status = kExitServiceError;
    answer.error = reply.peerError.value_or(qo::ZE_SUCCESS);
    answer.message = ErrorSentence(answer.error, {.self = identity_.name});
    return core::Status::Ok();
  }
  answer.code = reply.code;
  answer.body = reply.body;
  return core::Status::Ok();
}

CtlAnswer CtlClient::Request(int code, const google::protobuf::MessageLite* body, int waitMs) {
  CtlAnswer answer;
  const core::Status why = Exchange("tcp://localhost:" + std::to_string(identity_.routePort), identity_.uuid,
                           identity_.publicKey, code, body, waitMs, answer);
  if (why.code() == core::Status::Code::kTimeout || why.code() == core::Status::Code::kUnavailable) {
    answer.status = kExitNoAnswer;
    answer.message = ServiceNoAnswer(identity_.routePort, waitMs / 1000);
  } else if (!why.ok()) {
    // Something answered, but not as this device's own service would.
    answer.status = kExitServiceError;
    answer.message = ServiceImpostor(identity_.routePort, why.text());
  } else if (answer.error == qo::ZE_OPERATE_TIMEOUT) {
    // Our service answered: the peer it asked on our behalf did not.
    answer.status = kExitPeerUnreachable;
  }
  return answer;
}

CtlAnswer CtlClient::RequestPeer(const PeerDevice& peer, int code, const google::protobuf::MessageLite* body,
                                 int waitMs) {
  CtlAnswer answer;
  if (const core::Status why = Exchange(peer.routeUri, peer.uuid, peer.publicKey, code, body, waitMs, answer);
      !why.ok()) {
    const bool unreadable = why.code() == core::Status::Code::kRejected;
    answer.status = unreadable ? kExitServiceError : kExitPeerUnreachable;
    answer.message = unreadable ? PeerUnreadable(peer.name, why.text()) : core::Tr(kPeerOffline);
  } else if (answer.error == qo::ZE_UNTRUSTED) {
    // The peer's refusals say why in the words of the desktop interface,
    // whatever was asked.
    answer.message = core::Tr("the other device does not trust this device");
  } else if (answer.error == qo::ZE_PERMISSION_DENY) {
    answer.message = core::Tr("permission denied");
  } else if (answer.error != 0) {
    answer.message = ErrorSentence(answer.error, {.peer = peer.name, .self = identity_.name});
  }
  return answer;
}

}  // namespace morvex::ctl
