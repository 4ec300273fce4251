#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvex::aux {

// One GET request through libcurl. Certificates are always checked for
// https:// URLs; `caFile` replaces the system's authorities (tests use a
// certificate they made).
struct HttpOptions {
  std::string agent;
  long connectTimeoutMs = 0;  // 0: libcurl's default
  long timeoutMs = 0;         // the whole transfer; 0: no limit
  bool direct = false;        // no proxy, whatever the environment says
  std::string caFile;
};

struct HttpResult {
  bool ok = false;               // complete, with a 2xx status
  long status = 0;               // the HTTP status, 0 without an answer
  int64_t declaredLength = -1;   // Content-Length, -1 when not sent
  int64_t received = 0;          // body bytes delivered to the sink
};

// Delivers the body to `sink` piece by piece; a sink returning false stops
// the transfer (the result is then not ok).
using BodySink = std::function<bool(std::string_view piece)>;
HttpResult HttpGet(const std::string& url, const HttpOptions& options, const BodySink& sink);

// The first `maxBytes` of the body; the rest is read and dropped.
HttpResult HttpGetText(const std::string& url, const HttpOptions& options, size_t maxBytes, std::string& body);

}  // namespace morvex::aux
