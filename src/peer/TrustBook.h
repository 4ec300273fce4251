#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace morvex::peer {

// The handshakes in progress, in memory only: the tokens this device issued
// (one open request per peer) and the requests other devices made of us and
// that await our answer.
//
// A trust request is accepted only for a token that this device issued to
// that same device, that has not expired and has not been used: a replayed
// or foreign token proves nothing.
//
// Threads: every request worker and the status thread use one book; mutex_
// guards both maps.
class TrustBook {
 public:
  using Clock = std::chrono::steady_clock;

  // Records a token issued to `peerUuid`, valid for `timeout`; replaces an
  // earlier open one.
  void RecordIssued(const std::string& peerUuid, const std::string& token, std::chrono::seconds timeout);
  // True, and the token spent, when `token` is our open token for `senderUuid`.
  bool Redeem(const std::string& senderUuid, const std::string& token);
  // Takes back our open token for the peer (to cancel it), if any.
  std::optional<std::string> TakeIssued(const std::string& peerUuid);
  // Drops our open token when the peer refused it.
  void DropIssued(const std::string& peerUuid, const std::string& token);
  bool HasOpenIssued(const std::string& peerUuid);

  void RecordRequest(const std::string& peerUuid, const std::string& token, std::chrono::seconds timeout);
  // The peer's unexpired request, taken out of the book.
  std::optional<std::string> TakeRequest(const std::string& peerUuid);
  void DropRequest(const std::string& peerUuid, const std::string& token);
  bool HasPendingRequest(const std::string& peerUuid);

 private:
  struct Entry {
    std::string token;
    Clock::time_point expiry;
  };
  static bool Live(const Entry& entry) { return Clock::now() < entry.expiry; }

  std::mutex mutex_;
  std::map<std::string, Entry> issued_;     // by peer UUID; guarded by mutex_
  std::map<std::string, Entry> requested_;  // by peer UUID; guarded by mutex_
};

}  // namespace morvex::peer
