#pragma once

// What the fuzz targets share: reading structured values off the fuzzer's
// bytes, the fixed keys the seeds were made with, a temporary tree, and a
// check that turns a broken property into a crash the fuzzer keeps.

#include <glog/logging.h>
#include <google/protobuf/stubs/logging.h>
#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "protocol/SslUtils.h"

#ifndef MORVEX_FUZZ_DIR
#error "MORVEX_FUZZ_DIR must name tests/fuzz"
#endif

// A property that must hold for every input; a failure aborts, which the
// fuzzer reports and keeps as a crashing input.
#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (false)

namespace morvex::fuzz {

// Takes values off the front of the input; past the end every value is
// empty or zero, so any input is a valid sequence of values.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | static_cast<uint16_t>(Byte()) << 8);
  }
  uint32_t U32() {
    const uint32_t low = U16();
    return low | static_cast<uint32_t>(U16()) << 16;
  }
  std::string Bytes(size_t count) {
    count = std::min(count, size_ - std::min(pos_, size_));
    std::string out(reinterpret_cast<const char*>(data_ + pos_), count);
    pos_ += count;
    return out;
  }
  // A length-prefixed (16-bit, little-endian) chunk.
  std::string Chunk() { return Bytes(U16()); }
  std::string Rest() { return Bytes(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Writes a length-prefixed chunk as ByteReader::Chunk reads it (for seeds).
inline void AppendChunk(std::string& out, const std::string& chunk) {
  const size_t size = std::min<size_t>(chunk.size(), 0xffff);
  out += static_cast<char>(size & 0xff);
  out += static_cast<char>(size >> 8);
  out.append(chunk, 0, size);
}

// The two fixed RSA keys (1024 bits, exponent 3) of the fuzz targets: the
// receiving device's own key and one known peer's. Small keys keep each RSA
// step cheap; the code under test takes any size.
inline std::string FuzzPrivateKey(const char* name) {
  std::ifstream file(std::string(MORVEX_FUZZ_DIR) + "/keys/" + name + ".pem");
  std::stringstream pem;
  pem << file.rdbuf();
  const std::string der = protocol::ssl::PemToDerPrivate(pem.str());
  if (der.empty()) {
    std::fprintf(stderr, "cannot read the fuzz key %s\n", name);
    std::abort();
  }
  return der;
}

// Keeps the logs of refused input quiet (a line per input would cost more
// than the input); MORVEX_FUZZ_LOG=1 shows them.
inline void QuietLogs() {
  if (std::getenv("MORVEX_FUZZ_LOG") != nullptr) return;
  FLAGS_minloglevel = google::GLOG_FATAL;
  google::protobuf::SetLogHandler(nullptr);  // "missing required fields" for most inputs
}

// A directory made for this process and removed with everything in it when
// the process ends.
class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/morvex-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) std::abort();
    path_ = made;
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace morvex::fuzz
