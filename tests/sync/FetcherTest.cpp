#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "peer/DeviceChannel.h"
#include "peer/PeerFixture.h"
#include "protocol/Identity.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/ZmqSocket.h"
#include "support/TempDir.h"
#include "sync/FileFetcher.h"
#include "sync/TempFile.h"

namespace morvex::sync {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr const char* kTree = "0f0e0d0c-0b0a-4908-8706-050403020100";

// Bytes that differ from place to place, so data at a wrong offset shows.
std::string Bytes(int64_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(static_cast<size_t>(size), '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xffU);
  return bytes;
}

std::string Sha1Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha1(), nullptr), 1);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xfU];
  }
  return hex;
}

// One file of a batch, fetched into its temporary file below `root`;
// remembers the outcome the fetcher gave it.
class TestFile final : public IFetchFile {
 public:
  TestFile(const test::TempDir& root, const std::string& name, std::string remotePath, const std::string& content)
      : temp_(CTreeFiles(root.Path()), root / name),
        remotePath_(std::move(remotePath)),
        length_(static_cast<int64_t>(content.size())),
        sha1_(Sha1Hex(content)) {}

  const std::string& TempPath() const override { return temp_.Path(); }
  int CreateTemp() override { return temp_.Create(); }
  int64_t Length() const override { return length_; }
  const std::string& RemotePath() const override { return remotePath_; }
  const std::string& Sha1() const override { return sha1_; }
  void FillStat(qo::Stat&) const override {}
  void SetFailed() override { Mark("failed"); }
  void SetReady() override { Mark("ready"); }

  const std::string& Outcome() const { return outcome_; }

 private:
  void Mark(const char* outcome) { outcome_ = outcome_ == "untouched" ? outcome : "marked twice"; }

  CTempFile temp_;
  std::string remotePath_;
  int64_t length_;
  std::string sha1_;
  std::string outcome_ = "untouched";
};

// A part request as the peer saw it.
struct Asked {
  std::string path;
  int64_t offset;
  int32_t length;
  bool operator==(const Asked&) const = default;
};

void PrintTo(const Asked& asked, std::ostream* out) {
  *out << "{" << asked.path << ", " << asked.offset << ", " << asked.length << "}";
}

// The peer: a ROUTER on this device's route port, on a thread of its own,
// serving parts of in-memory contents. Each request is held until the
// policy answers it (or never does); the policy is called after every
// request and after every quiet spell of kQuietMs without one.
class FakePeer {
 public:
  struct Self {
    protocol::ZmqContext& zmq;
    protocol::IKeyManager& keys;
    std::string uuid;
    std::string privateKey;
    std::string publicKey;
    uint16_t port;
  };
  using Policy = std::function<void(FakePeer&)>;

  FakePeer(Self self, std::map<std::string, std::string> contents, Policy policy)
      : self_(std::move(self)), contents_(std::move(contents)), policy_(std::move(policy)) {
    std::future<bool> bound = bound_.get_future();
    thread_ = std::thread([this] { Serve(); });
    listening_ = bound.get();
  }
  FakePeer(const FakePeer&) = delete;
  FakePeer& operator=(const FakePeer&) = delete;
  ~FakePeer() { Stop(); }

  bool Listening() const { return listening_; }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  static constexpr int kQuietMs = 50;

  // For the policy, on the peer's thread.
  bool Quiet() const { return quiet_; }
  size_t Received() const { return asked_.size(); }
  const std::deque<qo::MsgGetRequest>& Held() const { return held_; }
  qo::MsgGetRequest Take(size_t index = 0) {
    qo::MsgGetRequest request = held_.at(index);
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
    return request;
  }
  std::string Slice(const qo::MsgGetRequest& request) const {
    return contents_.at(request.path()).substr(static_cast<size_t>(request.part().offset()),
                                               static_cast<size_t>(request.part().length()));
  }
  void Reply(const qo::MsgGetRequest& request, const std::string& data) {
    qo::MsgGetResponse response;
    response.set_transfer(request.transfer());
    response.set_tree_uuid(request.tree_uuid());
    response.set_path(request.path());
    *response.mutable_part() = request.part();
    response.set_part_data(data);
    Send(qo::MC_GET_RESPONSE, response);
  }
  void Refuse(const qo::MsgGetRequest& request, qo::ErrorCode code) {
    qo::MsgGetError error;
    error.set_transfer(request.transfer());
    error.set_errcode(code);
    *error.mutable_part() = request.part();
    Send(qo::MC_GET_ERROR, error);
  }
  void AnswerAll() {
    while (!held_.empty()) {
      const qo::MsgGetRequest request = Take();
      Reply(request, Slice(request));
    }
  }

  // After Stop().
  const std::vector<Asked>& Requests() const { return asked_; }
  size_t MostHeld() const { return mostHeld_; }
  int BadRequests() const { return badRequests_; }

 private:
  void Serve() {
    protocol::ZmqSocket router(self_.zmq, ZMQ_ROUTER);
    const bool bound = router.Bind("tcp://127.0.0.1:" + std::to_string(self_.port));
    bound_.set_value(bound);
    if (!bound) return;
    protocol::CMsgSender sender(router, self_.uuid, self_.privateKey, self_.publicKey);
    router_ = &router;
    sender_ = &sender;
    while (!stop_) {
      if (!router.WaitForInput(kQuietMs)) {
        quiet_ = true;
        policy_(*this);
        quiet_ = false;
        continue;
      }
      protocol::ZmqFrame identity;
      protocol::ZmqFrame empty;
      protocol::CInMsg in(self_.keys);
      qo::MsgGetRequest request;
      if (!router.RecvFrame(identity) || !identity.More() || !router.RecvFrame(empty) ||
          !in.Recv(router, false, 1000) || in.Code() != qo::MC_GET_REQUEST || !request.ParseFromString(in.Body()) ||
          request.tree_uuid() != kTree) {
        ++badRequests_;
        continue;
      }
      identity_ = identity.ToString();
      asked_.push_back({request.path(), request.part().offset(), request.part().length()});
      held_.push_back(request);
      mostHeld_ = std::max(mostHeld_, held_.size());
      policy_(*this);
    }
    router_ = nullptr;
    sender_ = nullptr;
  }

  void Send(int code, const google::protobuf::MessageLite& body) {
    router_->SendFrame(identity_, true);
    router_->SendFrame(nullptr, 0, true);
    sender_->Send(code, &body, false);
  }

  Self self_;
  std::map<std::string, std::string> contents_;
  Policy policy_;
  std::promise<bool> bound_;
  bool listening_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  // The peer thread's own.
  protocol::ZmqSocket* router_ = nullptr;
  protocol::CMsgSender* sender_ = nullptr;
  std::string identity_;
  bool quiet_ = false;
  std::deque<qo::MsgGetRequest> held_;
  std::vector<Asked> asked_;
  size_t mostHeld_ = 0;
  int badRequests_ = 0;
};

void AnswerAll(FakePeer& peer) { peer.AnswerAll(); }

// This device plays both sides: its own Device row (trusted, routed to its
// route port) names the peer the fetcher asks.
class FetcherTest : public peer::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    if (IsSkipped()) return;
    self_ = config_.Snapshot();
  }

  std::unique_ptr<FakePeer> StartPeer(std::map<std::string, std::string> contents,
                                      FakePeer::Policy policy = AnswerAll) {
    auto peer = std::make_unique<FakePeer>(
        FakePeer::Self{zmq_, *keys_, self_->deviceUuid, self_->privateKey, self_->publicKey, self_->routePort},
        std::move(contents), std::move(policy));
    EXPECT_TRUE(peer->Listening());
    return peer;
  }

  CFileFetcher Fetcher(int silenceMs = 2000, const std::string& device = {}) {
    FetchLimits limits;
    limits.silenceMs = silenceMs;
    return CFileFetcher(Peer(device.empty() ? self_->deviceUuid : device), nullptr, limits);
  }

  // The device asked, over a channel that lives as long as the test.
  FetchPeer Peer(const std::string& device) {
    channels_.push_back(std::make_unique<protocol::PeerChannel>(
        peer::OpenDeviceChannel(*peer_, device, peer::PeerKey::kTrusted)));
    return FetchPeer{*channels_.back(), kTree};
  }

  std::string Temp(const std::string& name) const { return temp_ / (name + ".~morvex"); }

  std::shared_ptr<const config::ConfigValues> self_;
  test::TempDir temp_;
  std::vector<std::unique_ptr<protocol::PeerChannel>> channels_;
};

TEST_F(FetcherTest, LargeFileComesInPartsWrittenAtTheirOffsets) {
  const std::string content = Bytes(5 * kMiB / 2, 1);
  TestFile file(temp_, "new/big", "new/big", content);  // its folder does not exist yet
  auto peer = StartPeer({{"new/big", content}}, [](FakePeer& server) {
    if (server.Received() < 3) return;
    while (!server.Held().empty()) {  // last part first
      const qo::MsgGetRequest request = server.Take(server.Held().size() - 1);
      server.Reply(request, server.Slice(request));
    }
  });

  EXPECT_TRUE(Fetcher().Fetch({&file}));
  peer->Stop();
  const std::vector<Asked> expected = {
      {"new/big", 0, kMiB}, {"new/big", kMiB, kMiB}, {"new/big", 2 * kMiB, kMiB / 2}};
  EXPECT_EQ(peer->Requests(), expected);
  EXPECT_EQ(peer->BadRequests(), 0);
  EXPECT_EQ(file.Outcome(), "ready");
  EXPECT_TRUE(test::ReadFile(file.TempPath()) == content);
}

TEST_F(FetcherTest, KeepsAtMostTheBudgetOfPartsInFlight) {
  constexpr size_t kFiles = 40;
  constexpr size_t kWindow = 32;  // 32 MiB of 1 MiB parts
  std::map<std::string, std::string> contents;
  std::vector<std::unique_ptr<TestFile>> files;
  std::vector<IFetchFile*> batch;
  for (size_t i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i);
    contents[name] = Bytes(kMiB, static_cast<uint32_t>(100 + i));
    files.push_back(std::make_unique<TestFile>(temp_, name, name, contents[name]));
    batch.push_back(files.back().get());
  }
  // Nothing is answered until the window is full and the fetcher has gone
  // quiet; then one answer at a time, so each answer must free room for
  // exactly one more request (too few stalls the fetch into its silence,
  // too many overfills the window).
  auto peer = StartPeer(contents, [](FakePeer& server) {
    if (server.Received() == kFiles) {
      server.AnswerAll();
    } else if (server.Quiet() && server.Held().size() >= kWindow) {
      const qo::MsgGetRequest request = server.Take();
      server.Reply(request, server.Slice(request));
    }
  });

  EXPECT_TRUE(Fetcher().Fetch(batch));
  peer->Stop();
  EXPECT_EQ(peer->MostHeld(), kWindow);
  EXPECT_EQ(peer->Requests().size(), kFiles);
  for (const auto& file : files) EXPECT_EQ(file->Outcome(), "ready") << file->RemotePath();
}

TEST_F(FetcherTest, EmptyFilesAreNeverAskedForAndEndReadyAndEmpty) {
  TestFile empty(temp_, "empty", "empty", "");
  TestFile small(temp_, "small", "small", "some data");
  TestFile unfoldered(temp_, "newdir/empty", "newdir/empty", "");  // its folder does not exist yet
  auto peer = StartPeer({{"small", "some data"}});

  EXPECT_TRUE(Fetcher().Fetch({&empty, &small, &unfoldered}));
  peer->Stop();
  EXPECT_EQ(peer->Requests(), (std::vector<Asked>{{"small", 0, 9}}));
  EXPECT_EQ(small.Outcome(), "ready");
  for (const TestFile* file : {&empty, &unfoldered}) {
    SCOPED_TRACE(file->RemotePath());
    EXPECT_EQ(file->Outcome(), "ready");
    struct stat info {};
    ASSERT_EQ(::stat(file->TempPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
  }
}

// Two fetches of one file at once: the second finds the first one's
// temporary file and fails that file alone; the first writer's bytes are
// neither truncated nor mixed with the second's.
TEST_F(FetcherTest, ATemporaryFileOfAnotherWriterFailsThatFileAndIsLeftAlone) {
  const std::string first = "the first writer's bytes";
  const std::string second = "another version";
  TestFile writing(temp_, "same", "same", first);
  const int held = writing.CreateTemp();
  ASSERT_GE(held, 0);
  ASSERT_EQ(::pwrite(held, first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
  TestFile same(temp_, "same", "same", second);
  TestFile other(temp_, "other", "other", second);
  auto peer = StartPeer({{"same", second}, {"other", second}});

  EXPECT_TRUE(Fetcher().Fetch({&same, &other}));
  peer->Stop();
  EXPECT_EQ(peer->Requests(), (std::vector<Asked>{{"other", 0, static_cast<int32_t>(second.size())}}));
  EXPECT_EQ(same.Outcome(), "failed");
  EXPECT_EQ(other.Outcome(), "ready");
  EXPECT_EQ(test::ReadFile(writing.TempPath()), first);
}

TEST_F(FetcherTest, DuplicateAndUnaskedRepliesAreIgnored) {
  const std::string content = Bytes(5 * kMiB / 2, 2);
  TestFile file(temp_, "f", "f", content);
  // Right after the first part, while the later ones are still due: the
  // same part again with other bytes, and a stretch never asked for.
  auto peer = StartPeer({{"f", content}}, [](FakePeer& server) {
    while (!server.Held().empty()) {
      const qo::MsgGetRequest request = server.Take();
      server.Reply(request, server.Slice(request));
      if (request.part().offset() != 0) continue;
      server.Reply(request, std::string(static_cast<size_t>(request.part().length()), 'x'));
      qo::MsgGetRequest unasked = request;
      unasked.mutable_part()->set_offset(4096);
      unasked.mutable_part()->set_length(4096);
      server.Reply(unasked, std::string(4096, 'y'));
    }
  });

  EXPECT_TRUE(Fetcher().Fetch({&file}));
  peer->Stop();
  EXPECT_EQ(peer->Requests().size(), 3U);
  EXPECT_EQ(file.Outcome(), "ready");
  EXPECT_TRUE(test::ReadFile(file.TempPath()) == content);
}

TEST_F(FetcherTest, SilentPeerEndsTheFetch) {
  const std::map<std::string, std::string> contents = {
      {"done", Bytes(1000, 3)}, {"half", Bytes(2 * kMiB, 4)}, {"mute", Bytes(10, 5)}};
  TestFile done(temp_, "done", "done", contents.at("done"));
  TestFile half(temp_, "half", "half", contents.at("half"));
  TestFile mute(temp_, "mute", "mute", contents.at("mute"));
  auto peer = StartPeer(contents, [](FakePeer& server) {
    for (size_t i = 0; i < server.Held().size();) {
      const qo::MsgGetRequest& request = server.Held()[i];
      if (request.path() == "done" || (request.path() == "half" && request.part().offset() == 0)) {
        const qo::MsgGetRequest taken = server.Take(i);
        server.Reply(taken, server.Slice(taken));
      } else {
        ++i;
      }
    }
  });

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Fetcher(300).Fetch({&done, &half, &mute}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  peer->Stop();
  EXPECT_EQ(peer->Requests().size(), 4U);
  EXPECT_EQ(done.Outcome(), "ready");
  EXPECT_EQ(half.Outcome(), "failed");
  EXPECT_EQ(mute.Outcome(), "failed");
}

// A bad middle part of "bad" (2.5 MiB); "good" in the same batch is unharmed.
struct BadPartCase {
  const char* name;
  bool zeros;   // the content is all zero bytes
  bool refuse;  // MsgGetError instead of the part, else one byte changed
};

class FetcherBadPartTest : public FetcherTest, public ::testing::WithParamInterface<BadPartCase> {};

TEST_P(FetcherBadPartTest, FailsOnlyThatFile) {
  const BadPartCase& param = GetParam();
  const std::string bad = param.zeros ? std::string(5 * kMiB / 2, '\0') : Bytes(5 * kMiB / 2, 6);
  const std::string good = Bytes(1000, 7);
  TestFile badFile(temp_, "bad", "bad", bad);
  TestFile goodFile(temp_, "good", "good", good);
  const bool refuse = param.refuse;
  auto peer = StartPeer({{"bad", bad}, {"good", good}}, [refuse](FakePeer& server) {
    while (!server.Held().empty()) {
      const qo::MsgGetRequest request = server.Take();
      std::string data = server.Slice(request);
      if (request.path() == "bad" && request.part().offset() == kMiB) {
        if (refuse) {
          server.Refuse(request, qo::ZE_BAD_PART);
          continue;
        }
        data[100] = static_cast<char>(data[100] ^ 1);
      }
      server.Reply(request, data);
    }
  });

  EXPECT_TRUE(Fetcher().Fetch({&badFile, &goodFile}));
  peer->Stop();
  EXPECT_EQ(peer->Requests().size(), 4U);  // a refused part is not asked again
  EXPECT_EQ(badFile.Outcome(), "failed");
  EXPECT_EQ(goodFile.Outcome(), "ready");
}

INSTANTIATE_TEST_SUITE_P(Fetcher, FetcherBadPartTest,
                         ::testing::Values(BadPartCase{"OneByteChanged", false, false},
                                           // The hole left reads as zeros: only the refusal can fail it.
                                           BadPartCase{"RefusedPartOfZeros", true, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Counts what the fetcher took in.
class ReceivedBytes final : public CTransferMonitor {
 public:
  void BytesReceived(int64_t bytes) override { total += bytes; }
  int64_t total = 0;
};

TEST_F(FetcherTest, AFrameFarLargerThanAnyAnswerIsDroppedUnread) {
  TestFile file(temp_, "f", "f", "data");
  auto peer = StartPeer({{"f", "data"}}, [](FakePeer& server) {
    while (!server.Held().empty()) server.Reply(server.Take(), std::string(8 * kMiB, 'z'));
  });
  ReceivedBytes received;
  FetchLimits limits;
  limits.silenceMs = 300;
  CFileFetcher fetcher(Peer(self_->deviceUuid), &received, limits);

  EXPECT_TRUE(fetcher.Fetch({&file}));
  peer->Stop();
  EXPECT_EQ(received.total, 0);
  EXPECT_EQ(file.Outcome(), "failed");
}

TEST_F(FetcherTest, UnknownPeerIsRefused) {
  TestFile file(temp_, "f", "f", "data");
  EXPECT_FALSE(Fetcher(2000, protocol::NewUuid()).Fetch({&file}));
}

TEST_F(FetcherTest, ShutdownNoticeEndsTheFetch) {
  TestFile file(temp_, "mute", "mute", "data");
  auto peer = StartPeer({{"mute", "data"}}, [](FakePeer&) {});
  CFileFetcher fetcher = Fetcher(20000);
  auto fetched = std::async(std::launch::async, [&] { return fetcher.Fetch({&file}); });
  // A subscriber that joins late misses a notice: repeat it until heard.
  const auto start = std::chrono::steady_clock::now();
  while (fetched.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    exit_->SendFrame(nullptr, 0, false);
  }
  EXPECT_FALSE(fetched.get());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace morvex::sync
