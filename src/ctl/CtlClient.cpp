#include "ctl/CtlClient.h"

#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "protocol/ErrorText.h"
#include "protocol/KeyStore.h"
#include "protocol/PeerChannel.h"
#include "protocol/SslUtils.h"

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

struct DbClose {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalize {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

std::string ErrorMessage(int code) { return qo::ErrorCode_Name(code) + ": " + protocol::ErrorText(code); }

}  // namespace

std::optional<DbRows> QueryLocalDb(const std::string& metadir, const std::string& sql,
                                   const std::vector<std::string>& args, std::string& error) {
  const std::string path = metadir + "/Morvex/Morvex.db";
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, DbClose> db(raw);
  if (rc != SQLITE_OK) {
    error = "cannot open " + path + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return std::nullopt;
  }
  sqlite3_busy_timeout(db.get(), 5000);
  sqlite3_stmt* prepared = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
    error = "cannot read " + path + ": " + sqlite3_errmsg(db.get());
    return std::nullopt;
  }
  std::unique_ptr<sqlite3_stmt, StatementFinalize> statement(prepared);
  for (size_t i = 0; i < args.size(); ++i) {
    sqlite3_bind_text(prepared, static_cast<int>(i + 1), args[i].c_str(), static_cast<int>(args[i].size()),
                      SQLITE_TRANSIENT);
  }
  DbRows rows;
  int step;
  while ((step = sqlite3_step(prepared)) == SQLITE_ROW) {
    auto& row = rows.emplace_back();
    for (int column = 0; column < sqlite3_column_count(prepared); ++column) {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(prepared, column));
      row.emplace_back(text != nullptr ? text : "");
    }
  }
  if (step != SQLITE_DONE) {
    error = "cannot read " + path + ": " + sqlite3_errmsg(db.get());
    return std::nullopt;
  }
  return rows;
}

std::optional<LocalIdentity> ReadLocalIdentity(const std::string& metadir, std::string& error) {
  const auto rows = QueryLocalDb(metadir, "SELECT name, value FROM Config", {}, error);
  if (!rows) return std::nullopt;
  LocalIdentity identity;
  for (const auto& row : *rows) {
    const std::string& name = row[0];
    const std::string& value = row[1];
    const auto port = static_cast<uint16_t>(std::strtol(value.c_str(), nullptr, 10));
    if (name == config::keys::kDeviceUuid) identity.uuid = value;
    if (name == config::keys::kDeviceName) identity.name = value;
    if (name == config::keys::kRoutePort) identity.routePort = port;
    if (name == config::keys::kPubPort) identity.pubPort = port;
    if (name == config::keys::kBroadcastPort) identity.broadcastPort = port;
    if (name == config::keys::kPrivateKey) identity.privateKey = protocol::ssl::PemToDerPrivate(value);
    if (name == config::keys::kPublicKey) identity.publicKey = protocol::ssl::PemToDerPublic(value);
  }
  if (identity.uuid.empty() || identity.privateKey.empty()) {
    error = "no device identity in " + metadir + "/Morvex/Morvex.db (has the service run once?)";
    return std::nullopt;
  }
  return identity;
}

std::optional<PeerDevice> ReadPeerDevice(const std::string& metadir, const std::string& uuid, std::string& error) {
  const auto rows = QueryLocalDb(metadir, "SELECT uuid, name, route_uri, pubkey, online FROM Device WHERE uuid = ?",
                                 {uuid}, error);
  if (!rows) return std::nullopt;
  if (rows->empty()) {
    error = CtlClient::kPeerOffline;
    return std::nullopt;
  }
  const auto& row = rows->front();
  return PeerDevice{row[0], row[1], row[2], protocol::ssl::PemToDerPublic(row[3]), row[4] == "1"};
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
    const std::string text = ErrorMessage(reply.receiveError);
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
    answer.message = ErrorMessage(answer.error);
    return core::Status::Ok();
  }
  answer.code = reply.code;
  answer.body = reply.body;
  return core::Status::Ok();
}

CtlAnswer CtlClient::Request(int code, const google::protobuf::MessageLite* body) {
  CtlAnswer answer;
  const core::Status why = Exchange("tcp://localhost:" + std::to_string(identity_.routePort), identity_.uuid,
                           identity_.publicKey, code, body, kAnswerWaitMs, answer);
  if (why.code() == core::Status::Code::kTimeout || why.code() == core::Status::Code::kUnavailable) {
    answer.status = kExitNoAnswer;
    answer.message = "no answer from the Morvex service on port " + std::to_string(identity_.routePort) + " within 5 s";
  } else if (!why.ok()) {
    // Something answered, but not as this device's own service would.
    answer.status = kExitServiceError;
    answer.message = "the answer on port " + std::to_string(identity_.routePort) +
                     " is not from this device's service: " + why.text();
  }
  return answer;
}

CtlAnswer CtlClient::RequestPeer(const PeerDevice& peer, int code, const google::protobuf::MessageLite* body,
                                 int waitMs) {
  CtlAnswer answer;
  if (const core::Status why = Exchange(peer.routeUri, peer.uuid, peer.publicKey, code, body, waitMs, answer);
      !why.ok()) {
    answer.status = kExitServiceError;
    answer.message = why.code() != core::Status::Code::kRejected
                         ? kPeerOffline
                         : "unreadable answer from " + peer.name + ": " + why.text();
  } else if (answer.error == qo::ZE_UNTRUSTED) {
    // The peer's refusals say why in the words of the desktop interface,
    // whatever was asked.
    answer.message = "对方设备不信任当前设备";
  } else if (answer.error == qo::ZE_PERMISSION_DENY) {
    answer.message = "权限不足";
  }
  return answer;
}

}  // namespace morvex::ctl
