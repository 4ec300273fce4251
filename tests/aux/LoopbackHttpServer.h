#pragma once

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace morvex::test {

// A small HTTP(S) server in a python3 child process, listening on
// 127.0.0.1 only, serving the files of its own folder. Every request's
// agent and path are recorded; every path under "/app.php/" is answered
// "ok" (the statistics host); a file named "<x>.truncated" is answered
// with a Content-Length larger than the file and the connection dropped.
// With `https`, it serves a self-signed certificate for 127.0.0.1 made with
// openssl, which CaFile() names for the client.
class LoopbackHttpServer {
 public:
  explicit LoopbackHttpServer(bool https = false);
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;
  ~LoopbackHttpServer();

  bool Running() const { return port_ > 0; }
  // "http://127.0.0.1:<port>" or "https://..."
  std::string Origin() const;
  std::string Authority() const;  // "127.0.0.1:<port>"
  const std::string& CaFile() const { return caFile_; }
  // A file served at "/<name>".
  void Put(const std::string& name, const std::string& content) const;
  // "<agent> <path>" per request, oldest first.
  std::vector<std::string> Requests() const;

 private:
  TempDir dir_;
  bool https_;
  std::string caFile_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace morvex::test
