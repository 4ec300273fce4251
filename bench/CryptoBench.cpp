// Cost of the cryptography one protected message pays: an RSA private and
// public operation on each side plus AES over the body, against MD5 and
// SHA-1 over the same bytes as references. Run: build/bin/crypto_bench
#include <benchmark/benchmark.h>

#include "Morvex.pb.h"
#include "protocol/ProtectedMsg.h"
#include "protocol/SslUtils.h"

namespace {

using namespace morvex::protocol::ssl;

const KeyPairDer& Keys() {
  static const KeyPairDer keys = GenerateKeyPair();
  return keys;
}

void BM_Sign(benchmark::State& state) {
  const RsaKey key("", Keys().privateDer);
  const std::string body(static_cast<size_t>(state.range(0)), 'b');
  std::string signature;
  for (auto _ : state) benchmark::DoNotOptimize(key.Sign(body, signature));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sign)->Arg(0)->Arg(1 << 20);

void BM_Verify(benchmark::State& state) {
  const std::string body(static_cast<size_t>(state.range(0)), 'b');
  std::string signature;
  RsaKey("", Keys().privateDer).Sign(body, signature);
  const RsaKey key(Keys().publicDer, "");
  for (auto _ : state) benchmark::DoNotOptimize(key.Verify(signature, body));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Verify)->Arg(0)->Arg(1 << 20);

void BM_WrapKey(benchmark::State& state) {
  const RsaKey key(Keys().publicDer, "");
  const AesCipher cipher;
  std::string wrapped;
  for (auto _ : state) benchmark::DoNotOptimize(key.Encrypt(cipher.Key(), wrapped));
}
BENCHMARK(BM_WrapKey);

void BM_UnwrapKey(benchmark::State& state) {
  const AesCipher cipher;
  std::string wrapped;
  RsaKey(Keys().publicDer, "").Encrypt(cipher.Key(), wrapped);
  const RsaKey key("", Keys().privateDer);
  std::string plain;
  for (auto _ : state) benchmark::DoNotOptimize(key.Decrypt(wrapped, plain));
}
BENCHMARK(BM_UnwrapKey);

void BM_AesEncrypt(benchmark::State& state) {
  const AesCipher cipher;
  const std::string body(static_cast<size_t>(state.range(0)), 'b');
  std::string out;
  for (auto _ : state) benchmark::DoNotOptimize(cipher.Encrypt(body, out));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AesEncrypt)->Arg(1 << 20);

void BM_Md5Reference(benchmark::State& state) {
  const std::string body(static_cast<size_t>(state.range(0)), 'b');
  for (auto _ : state) benchmark::DoNotOptimize(Md5(body));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5Reference)->Arg(1 << 20);

// Both ends of one protected message over an inproc pair: sign, encrypt,
// send, receive, decrypt, look up the key and verify.
class BenchKeys : public morvex::protocol::IKeyManager {
 public:
  std::string GetPrivateKey() override { return Keys().privateDer; }
  std::string GetPublicKey(const std::string&, bool) override { return Keys().publicDer; }
};

void BM_ProtectedRoundTrip(benchmark::State& state) {
  using namespace morvex::protocol;
  ZmqContext context;
  ZmqSocket pull(context, ZMQ_PULL);
  ZmqSocket push(context, ZMQ_PUSH);
  pull.Bind("inproc://bench");
  push.Connect("inproc://bench");
  BenchKeys keys;
  CMsgSender sender(push, "00000000-0000-4000-8000-000000000001", Keys().privateDer, Keys().publicDer);
  qo::MsgGetResponse body;
  body.set_transfer(1);
  body.set_tree_uuid("t");
  body.set_path("/p");
  body.mutable_part()->set_offset(0);
  body.mutable_part()->set_length(static_cast<int32_t>(state.range(0)));
  body.set_part_data(std::string(static_cast<size_t>(state.range(0)), 'd'));
  for (auto _ : state) {
    sender.Send(qo::MC_GET_RESPONSE, &body, false);
    CInMsg received(keys);
    if (!received.Recv(pull, false, 1000)) state.SkipWithError("receive failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ProtectedRoundTrip)->Arg(0)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
