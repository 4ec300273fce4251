#include "ctl/CtlClient.h"

#include <sqlite3.h>

#include "protocol/ErrorText.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/SslUtils.h"

namespace morvex::ctl {
namespace {

// Answers come from this device itself: its own key is the only one needed.
class OwnKeys final : public protocol::IKeyManager {
 public:
  explicit OwnKeys(const LocalIdentity& identity) : identity_(identity) {}
  std::string GetPrivateKey() override { return identity_.privateKey; }
  std::string GetPublicKey(const std::string& uuid, bool) override {
    return uuid == identity_.uuid ? identity_.publicKey : std::string();
  }

 private:
  const LocalIdentity& identity_;
};

struct DbClose {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};

}  // namespace

std::optional<LocalIdentity> ReadLocalIdentity(const std::string& metadir, std::string& error) {
  const std::string path = metadir + "/Morvex/Morvex.db";
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, DbClose> db(raw);
  if (rc != SQLITE_OK) {
    error = "cannot open " + path + ": " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    return std::nullopt;
  }
  sqlite3_busy_timeout(db.get(), 5000);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db.get(), "SELECT name, value FROM Config", -1, &statement, nullptr) != SQLITE_OK) {
    error = "cannot read " + path + ": " + sqlite3_errmsg(db.get());
    return std::nullopt;
  }
  LocalIdentity identity;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    const std::string value = text != nullptr ? text : "";
    const auto port = static_cast<uint16_t>(sqlite3_column_int(statement, 1));
    if (name == "DeviceUuid") identity.uuid = value;
    if (name == "DeviceName") identity.name = value;
    if (name == "RoutePort") identity.routePort = port;
    if (name == "PubPort") identity.pubPort = port;
    if (name == "BroadcastPort") identity.broadcastPort = port;
    if (name == "PrivateKey") identity.privateKey = protocol::ssl::PemToDerPrivate(value);
    if (name == "PublicKey") identity.publicKey = protocol::ssl::PemToDerPublic(value);
  }
  sqlite3_finalize(statement);
  if (identity.uuid.empty() || identity.privateKey.empty()) {
    error = "no device identity in " + path + " (has the service run once?)";
    return std::nullopt;
  }
  return identity;
}

CtlClient::CtlClient(LocalIdentity identity)
    : identity_(std::move(identity)), keys_(std::make_unique<OwnKeys>(identity_)) {}

CtlClient::~CtlClient() = default;

CtlAnswer CtlClient::Request(int code, const google::protobuf::MessageLite* body) {
  CtlAnswer answer;
  protocol::ZmqSocket socket(zmq_, ZMQ_REQ);
  socket.SetOption(ZMQ_SNDTIMEO, kAnswerWaitMs);
  socket.SetOption(ZMQ_LINGER, 0);
  socket.Connect("tcp://localhost:" + std::to_string(identity_.routePort));
  protocol::CMsgSender sender(socket, identity_.uuid, identity_.privateKey, identity_.publicKey);
  protocol::CInMsg in(*keys_);
  if (!sender.Send(code, body, false) || !in.Recv(socket, false, kAnswerWaitMs)) {
    answer.status = kExitNoAnswer;
    answer.message = "no answer from the Morvex service on port " + std::to_string(identity_.routePort) + " within 5 s";
    return answer;
  }
  if (in.Code() == qo::MC_ERROR) {
    qo::MsgError error;
    error.ParseFromString(in.Body());
    answer.status = kExitServiceError;
    answer.message = qo::ErrorCode_Name(error.errcode()) + ": " + protocol::ErrorText(error.errcode());
    return answer;
  }
  answer.code = in.Code();
  answer.body = in.Body();
  return answer;
}

}  // namespace morvex::ctl
