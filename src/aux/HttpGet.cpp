#include "aux/HttpGet.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace morvex::aux {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

struct Transfer {
  const BodySink* sink;
  int64_t received = 0;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (!(*transfer->sink)(std::string_view(data, bytes))) return 0;  // libcurl ends the transfer
  transfer->received += static_cast<int64_t>(bytes);
  return bytes;
}

}  // namespace

HttpResult HttpGet(const std::string& url, const HttpOptions& options, const BodySink& sink) {
  // libcurl's global set-up is not thread-safe; do it once for the process.
  static std::once_flag globalInit;
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  HttpResult result;
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return result;
  Transfer transfer{&sink};
  CURL* handle = easy.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  // Nothing of the answer may come from a cache.
  struct curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
  const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, curl_slist_free_all);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
  if (!options.agent.empty()) curl_easy_setopt(handle, CURLOPT_USERAGENT, options.agent.c_str());
  if (options.connectTimeoutMs > 0) curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  if (options.timeoutMs > 0) curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, options.timeoutMs);
  if (options.direct) curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
  // A server that stops sending must not hold the caller (the start-up
  // check runs before the service is up).
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.caFile.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, options.caFile.c_str());
  const CURLcode code = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &result.status);
  curl_off_t declared = -1;
  curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
  result.declaredLength = declared;
  result.received = transfer.received;
  // A body shorter than announced is CURLE_PARTIAL_FILE, not CURLE_OK.
  result.ok = code == CURLE_OK && result.status >= 200 && result.status < 300 &&
              (declared < 0 || declared == transfer.received);
  return result;
}

HttpResult HttpGetText(const std::string& url, const HttpOptions& options, size_t maxBytes, std::string& body) {
  body.clear();
  return HttpGet(url, options, [&](std::string_view piece) {
    if (body.size() < maxBytes) body.append(piece.substr(0, maxBytes - body.size()));
    return true;
  });
}

}  // namespace morvex::aux
