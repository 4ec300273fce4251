// Cost of the cryptography one protected message pays: an RSA private and
// public operation on each side plus AES over the body, against MD5 and
// SHA-1 over the same bytes as references. Run: build/bin/crypto_bench
#include <benchmark/benchmark.h>

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

}  // namespace

BENCHMARK_MAIN();
