#include "device/KeyManager.h"

#include "protocol/SslUtils.h"
#include "store/ContentResolver.h"

namespace morvex::device {

namespace ssl = protocol::ssl;

using store::CContentResolver;
using store::CSelection;
namespace uris = store::uris;

CKeyManager::CKeyManager(std::string privateKeyDer) : privateKey_(std::move(privateKeyDer)) {
  Rebuild(Query().get());
  CContentResolver::Instance().RegisterObserver(uris::Device(), false, this);
}

CKeyManager::~CKeyManager() { CContentResolver::Instance().UnregisterObserver(uris::Device(), this); }

std::unique_ptr<store::CSQLiteCursor> CKeyManager::Query() {
  return CContentResolver::Instance().Query(uris::Device(), {"uuid", "pubkey"}, CSelection("trust = ? ").AddInt(1));
}

void CKeyManager::OnChange(std::unique_ptr<store::CSQLiteCursor> cursor) { Rebuild(cursor.get()); }

void CKeyManager::Rebuild(store::CSQLiteCursor* cursor) {
  std::unordered_map<std::string, std::string> keys;
  while (cursor != nullptr && cursor->MoveToNext()) {
    keys[std::string(cursor->GetString("uuid"))] = ssl::PemToDerPublic(std::string(cursor->GetString("pubkey")));
  }
  std::lock_guard lock(mutex_);
  trusted_.swap(keys);
}

std::string CKeyManager::GetPublicKey(const std::string& deviceUuid, bool trustedOnly) {
  std::lock_guard lock(mutex_);
  if (trustedOnly) {
    auto it = trusted_.find(deviceUuid);
    return it == trusted_.end() ? std::string() : it->second;
  }
  std::string pem;
  if (!CContentResolver::Instance().QueryString(uris::Device(), "pubkey", pem,
                                                CSelection("uuid = ? ").AddString(deviceUuid))) {
    return {};
  }
  return ssl::PemToDerPublic(pem);
}

}  // namespace morvex::device
