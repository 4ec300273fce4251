// Writes the seed corpora of the fuzz targets: one folder per target under
// the folder named on the command line, a few small inputs each that reach
// the targets' deeper paths (signed and encrypted envelopes, datagrams
// under the fuzz password, listings and part answers that parse). The
// checked-in corpora under tests/fuzz/corpus were made with it.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/SslUtils.h"

namespace morvex::fuzz {
namespace {

constexpr const char* kTrustedPeer = "0f0e0d0c-0b0a-4908-8706-050403020100";
constexpr const char* kKnownStranger = "1f1e1d1c-1b1a-4918-9716-151413121110";
constexpr const char* kSomeTree = "2f2e2d2c-2b2a-4928-a726-252423222120";

class Corpus {
 public:
  Corpus(const std::string& base, const char* target) : dir_(base + "/" + target) {
    std::filesystem::create_directories(dir_);
  }
  void Add(const std::string& bytes) {
    std::ofstream(dir_ + "/seed-" + std::to_string(count_++), std::ios::binary) << bytes;
  }

 private:
  std::string dir_;
  int count_ = 0;
};

std::string Head(qo::MsgCode code) {
  qo::MsgHead head;
  head.set_code(code);
  head.set_level(qo::EL_NONE);
  return head.SerializeAsString();
}

// flags, then the frames as the envelope target reads them.
std::string Frames(uint8_t flags, const std::vector<std::string>& frames) {
  std::string out(1, static_cast<char>(flags));
  for (const std::string& frame : frames) AppendChunk(out, frame);
  return out;
}

void Envelopes(const std::string& base) {
  Corpus corpus(base, "envelope_fuzz");
  const std::string own = FuzzPrivateKey("own");
  const std::string peer = FuzzPrivateKey("peer");
  const std::string ownPublic = protocol::ssl::PublicDerOfPrivate(own);
  qo::MsgWinStatus status;
  status.set_device_id(3);
  corpus.Add(Frames(0, {Head(qo::MC_WIN_WORKER_READY)}));
  corpus.Add(Frames(0, {Head(qo::MC_WIN_STATUS), status.SerializeAsString()}));
  corpus.Add(Frames(0, {Head(qo::MC_WIN_STATUS), status.SerializeAsString(), "extra"}));
  corpus.Add(Frames(1, {Head(qo::MC_DEVICE_SHOW_REQUEST)}));

  protocol::ZmqSocket none;
  const auto add = [&](const std::string& uuid, const std::string& privateKey, const std::string& receiverKey,
                       qo::MsgCode code, const google::protobuf::MessageLite* body, bool delimiter) {
    protocol::CMsgSender sender(none, uuid, privateKey, receiverKey);
    std::string head;
    std::string frame;
    if (!sender.Build(code, body, head, frame)) std::abort();
    std::vector<std::string> frames;
    if (delimiter) frames.emplace_back();
    frames.push_back(head);
    if (body != nullptr) frames.push_back(frame);
    corpus.Add(Frames(delimiter ? 3 : 1, frames));
  };
  qo::MsgStatusRequest ask;
  ask.set_device_uuid(kTrustedPeer);
  qo::MsgFindRequest find;
  find.set_sync_uuid(kSomeTree);
  find.set_tree_uuid(kSomeTree);
  find.set_since(0);
  find.set_limit(5000);
  qo::MsgTrustRequest trust;
  trust.set_token("token");
  add(kTrustedPeer, peer, "", qo::MC_STATUS_REQUEST, &ask, false);
  add(kTrustedPeer, peer, ownPublic, qo::MC_FIND_REQUEST, &find, false);
  add(kTrustedPeer, peer, ownPublic, qo::MC_FIND_REQUEST, &find, true);
  add(kKnownStranger, peer, ownPublic, qo::MC_TRUST_REQUEST, &trust, false);
  add(kKnownStranger, peer, ownPublic, qo::MC_STATUS_REQUEST, &ask, false);
  add(kSomeTree, own, ownPublic, qo::MC_LINUX_STATUS_REQUEST, nullptr, false);
}

void Datagrams(const std::string& base) {
  Corpus corpus(base, "discovery_fuzz");
  const protocol::ssl::AesCipher cipher(protocol::ssl::DeriveTokenKey("fuzz-password"));
  const auto add = [&](const qo::MsgDiscover& discover) {
    std::string bytes;
    if (!cipher.Encrypt(discover.SerializeAsString(), bytes)) std::abort();
    corpus.Add(bytes);
  };
  qo::MsgDiscover discover;
  discover.set_is_response(qo::PB_FALSE);
  discover.set_device_uuid(kTrustedPeer);
  discover.set_device_name("laptop");
  discover.set_device_type(qo::DEVICE_LINUX);
  discover.set_route_port(9527);
  discover.set_pub_port(9526);
  discover.set_public_key(protocol::ssl::PublicDerOfPrivate(FuzzPrivateKey("peer")));
  add(discover);
  discover.set_is_response(qo::PB_TRUE);
  add(discover);
  discover.set_route_port(70000);
  add(discover);
  discover.set_route_port(9527);
  discover.set_device_uuid("not a uuid");
  add(discover);
  corpus.Add("sixteen bytes!!!");
}

void Paths(const std::string& base) {
  Corpus corpus(base, "path_rules_fuzz");
  for (const std::string path : {"/a/f", "/a/b/new", "/out/x", "/a/up/out", "/a/../a", "/dangling/x", "/", "/a//f",
                                 "/a/abs/etc", "/a/b/\xc3\xa9t\xc3\xa9"}) {
    corpus.Add(std::string(1, '\0') + path);
  }
  corpus.Add(std::string("\1/a/b"));
}

void Listings(const std::string& base) {
  Corpus corpus(base, "listing_fuzz");
  qo::MsgFindResponse page;
  page.add_uuids(kSomeTree);
  page.add_uuids("0f0e0d0c-0b0a-4908-8706-050403020100");
  const auto stat = [&](const char* path, qo::FileType type, qo::FileStatus status, std::vector<int> clock) {
    qo::Stat& s = *page.add_stats();
    s.set_path(path);
    s.set_type(type);
    s.set_status(status);
    for (int c : clock) s.add_vclock(c);
    s.set_length(12);
    s.set_mtime(1700000000000);
    s.set_sha1("da39a3ee5e6b4b0d3255bfef95601890afd80709");
    s.set_usn(static_cast<int64_t>(page.stats_size()));
    s.set_unix_attr(0644);
  };
  stat("/", qo::DIR, qo::NORMAL, {1});
  stat("/docs", qo::DIR, qo::NORMAL, {1, 1});
  stat("/docs/old/a.txt", qo::REG, qo::NORMAL, {3, 5});
  stat("/docs/link/x", qo::REG, qo::NORMAL, {1});
  stat("/../etc/passwd", qo::REG, qo::NORMAL, {1});
  stat("/docs/gone.txt", qo::REG, qo::REMOVED, {2, 0, 7});
  corpus.Add(page.SerializeAsString());
  page.clear_stats();
  stat("/new.txt", qo::REG, qo::NORMAL, {});
  corpus.Add(page.SerializeAsString());
}

void PartAnswers(const std::string& base) {
  Corpus corpus(base, "part_answer_fuzz");
  // A file of 3000 bytes asked in parts of 1024.
  std::string header;
  for (const uint32_t value : {3000U}) {
    for (int shift = 0; shift < 32; shift += 8) header += static_cast<char>((value >> shift) & 0xff);
  }
  header += static_cast<char>(1023 & 0xff);
  header += static_cast<char>(1023 >> 8);
  const auto answer = [](int64_t offset, size_t size, char fill) {
    qo::MsgGetResponse response;
    response.set_transfer(0);
    response.set_tree_uuid(kSomeTree);
    response.set_path("/docs/a.txt");
    response.mutable_part()->set_offset(offset);
    response.mutable_part()->set_length(static_cast<int32_t>(size));
    response.set_part_data(std::string(size, fill));
    return response.SerializeAsString();
  };
  std::string whole = header;
  AppendChunk(whole, answer(0, 1024, 'a'));
  AppendChunk(whole, answer(2048, 952, 'c'));
  AppendChunk(whole, answer(1024, 1024, 'b'));
  corpus.Add(whole);
  std::string odd = header;
  AppendChunk(odd, answer(1024, 2000, 'x'));  // longer than asked
  AppendChunk(odd, answer(0, 10, 'y'));       // shorter than asked
  AppendChunk(odd, answer(0, 1024, 'z'));     // answered twice
  AppendChunk(odd, answer(5, 1, 'w'));        // never asked
  corpus.Add(odd);
}

}  // namespace
}  // namespace morvex::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  morvex::fuzz::Envelopes(argv[1]);
  morvex::fuzz::Datagrams(argv[1]);
  morvex::fuzz::Paths(argv[1]);
  morvex::fuzz::Listings(argv[1]);
  morvex::fuzz::PartAnswers(argv[1]);
  return 0;
}
