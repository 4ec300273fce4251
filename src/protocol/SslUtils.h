#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

namespace morvex::protocol {

// The cryptography of the message envelope and of discovery, on byte
// strings (std::string used as a byte container). Every result is the same
// byte for byte as the other platforms' services produce:
// - RSA keys: 2048 bits, public exponent 3; public keys as DER
//   SubjectPublicKeyInfo ("PUBLIC KEY"), private keys as DER PKCS#1
//   ("RSA PRIVATE KEY");
// - signature: PKCS#1 v1.5 type-1 private-key operation over the raw 16-byte
//   MD5 digest (no DigestInfo);
// - key wrapping: PKCS#1 v1.5 encryption;
// - body cipher: AES-128-CBC, zero IV, PKCS#7 padding.
// A key that does not parse makes the operation fail; nothing here aborts.
namespace ssl {

inline constexpr size_t kDigestSize = 16;
inline constexpr size_t kAesKeySize = 16;

struct PkeyFree {
  void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using SharedPkey = std::shared_ptr<EVP_PKEY>;

struct KeyPairDer {
  std::string publicDer;
  std::string privateDer;
};
// A new key pair; empty strings when generation failed.
KeyPairDer GenerateKeyPair(int bits = 2048, unsigned exponent = 3);

// Format conversions; an input that does not convert (and an empty input)
// gives an empty output.
std::string PemToDerPublic(const std::string& pem);
std::string DerToPemPublic(const std::string& der);
std::string PemToDerPrivate(const std::string& pem);
std::string DerToPemPrivate(const std::string& der);
// The public half of a private key, DER SubjectPublicKeyInfo.
std::string PublicDerOfPrivate(const std::string& privateDer);

std::string Md5(const std::string& data);
std::string RandomBytes(size_t count);
// The discovery key: EVP_BytesToKey(AES-128-CBC, SHA-1, no salt, 2
// iterations) over the password bytes; empty when it cannot be derived.
std::string DeriveTokenKey(const std::string& token);

// One RSA key made from a public DER, a private DER, or both (the private
// one wins). Parsed keys are kept in a small process-wide cache: turning
// DER into a usable key costs more than the RSA operation itself, and a
// device uses the same few keys for every message. Parsed keys are
// immutable and OpenSSL lets threads use one concurrently.
class RsaKey {
 public:
  RsaKey(const std::string& publicDer, const std::string& privateDer);
  bool Valid() const { return key_ != nullptr; }
  bool HasPrivate() const { return hasPrivate_; }

  // Signature of MD5(data); false when the key cannot sign.
  bool Sign(const std::string& data, std::string& signature) const;
  // The PKCS#1 type-1 private-key operation over `raw` itself (at most
  // 245 bytes for a 2048-bit key), and its inverse with the public key.
  bool PrivateEncrypt(const std::string& raw, std::string& out) const;
  bool PublicDecrypt(const std::string& in, std::string& raw) const;
  // True only when the signature recovers to exactly MD5(data): 16 bytes,
  // nothing more. Logs "Failed to rsa decrypt digest" when it does not
  // decrypt at all.
  bool Verify(const std::string& signature, const std::string& data) const;
  bool Encrypt(const std::string& plain, std::string& cipher) const;  // public key
  bool Decrypt(const std::string& cipher, std::string& plain) const;  // private key

 private:
  SharedPkey key_;
  bool hasPrivate_ = false;
};

// AES-128-CBC with a zero IV; one whole-buffer operation per call.
class AesCipher {
 public:
  AesCipher();                                  // a fresh random key
  explicit AesCipher(std::string key);          // the given key (16 bytes)
  const std::string& Key() const { return key_; }
  bool Encrypt(const std::string& plain, std::string& cipher) const;
  bool Decrypt(const std::string& cipher, std::string& plain) const;

 private:
  std::string key_;
};

}  // namespace ssl
}  // namespace morvex::protocol
