#include "protocol/SslUtils.h"

#include <glog/logging.h>
#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <mutex>

namespace morvex::protocol::ssl {
namespace {

struct BioFree {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* context) const noexcept { EVP_PKEY_CTX_free(context); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* context) const noexcept { EVP_CIPHER_CTX_free(context); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(s.data()); }

std::string BioContents(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

// Parses a DER key. Public keys are SubjectPublicKeyInfo; private keys are
// PKCS#1 RSAPrivateKey.
PkeyPtr ParseDer(const std::string& der, bool isPrivate) {
  if (der.empty()) return nullptr;
  const unsigned char* cursor = Bytes(der);
  EVP_PKEY* key = isPrivate ? d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &cursor, static_cast<long>(der.size()))
                            : d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size()));
  if (key == nullptr || cursor != Bytes(der) + der.size()) {
    EVP_PKEY_free(key);
    return nullptr;
  }
  return PkeyPtr(key);
}

// The parsed keys of the DER texts seen lately. Bounded: a peer cannot grow
// it without limit; when full it starts over.
SharedPkey CachedDer(const std::string& der, bool isPrivate) {
  static constexpr size_t kMaxKeys = 256;
  static std::mutex mutex;
  static std::map<std::pair<bool, std::string>, SharedPkey> cache;  // guarded by mutex
  if (der.empty()) return nullptr;
  auto entry = std::make_pair(isPrivate, der);
  {
    std::lock_guard lock(mutex);
    if (auto it = cache.find(entry); it != cache.end()) return it->second;
  }
  PkeyPtr parsed = ParseDer(der, isPrivate);
  if (!parsed) return nullptr;
  SharedPkey key(parsed.release(), PkeyFree{});
  std::lock_guard lock(mutex);
  if (cache.size() >= kMaxKeys) cache.clear();
  cache.emplace(std::move(entry), key);
  return key;
}

std::string PublicDer(EVP_PKEY* key) {
  unsigned char* out = nullptr;
  const int length = i2d_PUBKEY(key, &out);
  if (length <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(length));
  OPENSSL_free(out);
  return der;
}

std::string PrivateDer(EVP_PKEY* key) {
  // i2d_PrivateKey writes the type-specific form: PKCS#1 for RSA.
  unsigned char* out = nullptr;
  const int length = i2d_PrivateKey(key, &out);
  if (length <= 0) return {};
  std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(length));
  OPENSSL_clear_free(out, static_cast<size_t>(length));
  return der;
}

// One PKCS#1 v1.5 RSA operation through an EVP context.
using PkeyInit = int (*)(EVP_PKEY_CTX*);
using PkeyRun = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);
bool RsaOperation(EVP_PKEY* key, PkeyInit init, PkeyRun run, const std::string& in, std::string& out) {
  if (key == nullptr) return false;
  PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
  if (!context || init(context.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) <= 0) {
    return false;
  }
  size_t length = 0;
  if (run(context.get(), nullptr, &length, Bytes(in), in.size()) <= 0) return false;
  out.resize(length);
  if (run(context.get(), Bytes(out), &length, Bytes(in), in.size()) <= 0) return false;
  out.resize(length);
  return true;
}

bool AesOperation(bool encrypt, const std::string& key, const std::string& in, std::string& out) {
  if (key.size() != kAesKeySize) return false;
  CipherCtxPtr context(EVP_CIPHER_CTX_new());
  static const unsigned char kZeroIv[16] = {};
  if (!context || EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, Bytes(key), kZeroIv, encrypt ? 1 : 0) != 1) {
    return false;
  }
  out.resize(in.size() + 16);
  int written = 0;
  int last = 0;
  if (EVP_CipherUpdate(context.get(), Bytes(out), &written, Bytes(in), static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(context.get(), Bytes(out) + written, &last) != 1) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(written + last));
  return true;
}

}  // namespace

KeyPairDer GenerateKeyPair(int bits, unsigned exponent) {
  PkeyCtxPtr context(EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr));
  BIGNUM* e = BN_new();
  EVP_PKEY* key = nullptr;
  const bool ok = context && e != nullptr && BN_set_word(e, exponent) == 1 && EVP_PKEY_keygen_init(context.get()) > 0 &&
                  EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), bits) > 0 &&
                  EVP_PKEY_CTX_set1_rsa_keygen_pubexp(context.get(), e) > 0 && EVP_PKEY_keygen(context.get(), &key) > 0;
  BN_free(e);
  PkeyPtr owned(key);
  if (!ok || !owned) return {};
  return {PublicDer(owned.get()), PrivateDer(owned.get())};
}

std::string PemToDerPublic(const std::string& pem) {
  if (pem.empty()) return {};
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  PkeyPtr key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  return key ? PublicDer(key.get()) : std::string();
}

std::string DerToPemPublic(const std::string& der) {
  PkeyPtr key = ParseDer(der, false);
  if (!key) return {};
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (PEM_write_bio_PUBKEY(bio.get(), key.get()) != 1) return {};
  return BioContents(bio.get());
}

std::string PemToDerPrivate(const std::string& pem) {
  if (pem.empty()) return {};
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return {};
  return PrivateDer(key.get());
}

std::string DerToPemPrivate(const std::string& der) {
  PkeyPtr key = ParseDer(der, true);
  if (!key) return {};
  // "RSA PRIVATE KEY" (PKCS#1), unencrypted, through the OpenSSL 3 encoder.
  OSSL_ENCODER_CTX* encoder =
      OSSL_ENCODER_CTX_new_for_pkey(key.get(), OSSL_KEYMGMT_SELECT_KEYPAIR, "PEM", "type-specific", nullptr);
  if (encoder == nullptr) return {};
  unsigned char* out = nullptr;
  size_t length = 0;
  const bool ok = OSSL_ENCODER_to_data(encoder, &out, &length) == 1;
  OSSL_ENCODER_CTX_free(encoder);
  if (!ok) return {};
  std::string pem(reinterpret_cast<char*>(out), length);
  OPENSSL_clear_free(out, length);
  return pem;
}

std::string PublicDerOfPrivate(const std::string& privateDer) {
  PkeyPtr key = ParseDer(privateDer, true);
  return key ? PublicDer(key.get()) : std::string();
}

std::string Md5(const std::string& data) {
  std::string digest(kDigestSize, '\0');
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), Bytes(digest), &length, EVP_md5(), nullptr) != 1) return {};
  return digest;
}

std::string RandomBytes(size_t count) {
  std::string bytes(count, '\0');
  if (RAND_bytes(Bytes(bytes), static_cast<int>(count)) != 1) return {};
  return bytes;
}

std::string DeriveTokenKey(const std::string& token) {
  std::string key(static_cast<size_t>(EVP_CIPHER_get_key_length(EVP_aes_128_cbc())), '\0');
  const int length = EVP_BytesToKey(EVP_aes_128_cbc(), EVP_sha1(), nullptr, Bytes(token),
                                    static_cast<int>(token.size()), 2, Bytes(key), nullptr);
  if (length != static_cast<int>(kAesKeySize)) return {};
  return key;
}

RsaKey::RsaKey(const std::string& publicDer, const std::string& privateDer) {
  if (!privateDer.empty()) {
    key_ = CachedDer(privateDer, true);
    hasPrivate_ = key_ != nullptr;
  }
  if (!key_ && !publicDer.empty()) key_ = CachedDer(publicDer, false);
}

bool RsaKey::Sign(const std::string& data, std::string& signature) const {
  const std::string digest = Md5(data);
  return !digest.empty() && PrivateEncrypt(digest, signature);
}

bool RsaKey::PrivateEncrypt(const std::string& raw, std::string& out) const {
  return hasPrivate_ && RsaOperation(key_.get(), EVP_PKEY_sign_init, EVP_PKEY_sign, raw, out);
}

bool RsaKey::PublicDecrypt(const std::string& in, std::string& raw) const {
  return RsaOperation(key_.get(), EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover, in, raw);
}

bool RsaKey::Verify(const std::string& signature, const std::string& data) const {
  std::string recovered;
  if (!PublicDecrypt(signature, recovered)) {
    LOG(ERROR) << "Failed to rsa decrypt digest";
    return false;
  }
  // Exactly the digest: accepting a longer recovered block whose first 16
  // bytes match would let anyone forge signatures for exponent-3 keys.
  return recovered.size() == kDigestSize && CRYPTO_memcmp(recovered.data(), Md5(data).data(), kDigestSize) == 0;
}

bool RsaKey::Encrypt(const std::string& plain, std::string& cipher) const {
  return RsaOperation(key_.get(), EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, plain, cipher);
}

bool RsaKey::Decrypt(const std::string& cipher, std::string& plain) const {
  return hasPrivate_ && RsaOperation(key_.get(), EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, cipher, plain);
}

AesCipher::AesCipher() : key_(RandomBytes(kAesKeySize)) {}
AesCipher::AesCipher(std::string key) : key_(std::move(key)) {}

bool AesCipher::Encrypt(const std::string& plain, std::string& cipher) const {
  return AesOperation(true, key_, plain, cipher);
}

bool AesCipher::Decrypt(const std::string& cipher, std::string& plain) const {
  return AesOperation(false, key_, cipher, plain);
}

}  // namespace morvex::protocol::ssl
