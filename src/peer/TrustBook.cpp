#include "peer/TrustBook.h"

namespace morvex::peer {

void TrustBook::RecordIssued(const std::string& peerUuid, const std::string& token, std::chrono::seconds timeout) {
  std::lock_guard lock(mutex_);
  issued_[peerUuid] = Entry{token, Clock::now() + timeout};
}

bool TrustBook::Redeem(const std::string& senderUuid, const std::string& token) {
  std::lock_guard lock(mutex_);
  auto it = issued_.find(senderUuid);
  if (it == issued_.end() || it->second.token != token || !Live(it->second)) return false;
  issued_.erase(it);
  return true;
}

std::optional<std::string> TrustBook::TakeIssued(const std::string& peerUuid) {
  std::lock_guard lock(mutex_);
  auto it = issued_.find(peerUuid);
  if (it == issued_.end()) return std::nullopt;
  std::optional<std::string> token;
  if (Live(it->second)) token = it->second.token;
  issued_.erase(it);
  return token;
}

void TrustBook::DropIssued(const std::string& peerUuid, const std::string& token) {
  std::lock_guard lock(mutex_);
  auto it = issued_.find(peerUuid);
  if (it != issued_.end() && it->second.token == token) issued_.erase(it);
}

bool TrustBook::HasOpenIssued(const std::string& peerUuid) {
  std::lock_guard lock(mutex_);
  auto it = issued_.find(peerUuid);
  return it != issued_.end() && Live(it->second);
}

void TrustBook::RecordRequest(const std::string& peerUuid, const std::string& token, std::chrono::seconds timeout) {
  std::lock_guard lock(mutex_);
  requested_[peerUuid] = Entry{token, Clock::now() + timeout};
}

std::optional<std::string> TrustBook::TakeRequest(const std::string& peerUuid) {
  std::lock_guard lock(mutex_);
  auto it = requested_.find(peerUuid);
  if (it == requested_.end()) return std::nullopt;
  std::optional<std::string> token;
  if (Live(it->second)) token = it->second.token;
  requested_.erase(it);
  return token;
}

void TrustBook::DropRequest(const std::string& peerUuid, const std::string& token) {
  std::lock_guard lock(mutex_);
  auto it = requested_.find(peerUuid);
  if (it != requested_.end() && it->second.token == token) requested_.erase(it);
}

bool TrustBook::HasPendingRequest(const std::string& peerUuid) {
  std::lock_guard lock(mutex_);
  auto it = requested_.find(peerUuid);
  return it != requested_.end() && Live(it->second);
}

}  // namespace morvex::peer
