#include "aux/Deployment.h"

#include <glog/logging.h>

#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

namespace morvex::aux {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool HasScheme(const std::string& host) { return host.find("://") != std::string::npos; }

std::string WithoutTrailingSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

}  // namespace

Deployment ParseDeployment(std::string_view text, std::vector<std::string>* unknownKeys) {
  Deployment deployment;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[') continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    std::string_view rawValue = line.substr(equals + 1);
    // A comment may follow a value after white space ("host  # main").
    for (size_t i = 1; i < rawValue.size(); ++i) {
      if ((rawValue[i] == '#' || rawValue[i] == ';') && IsBlank(rawValue[i - 1])) {
        rawValue = rawValue.substr(0, i);
        break;
      }
    }
    const std::string value(Trim(rawValue));
    if (key == "update_host") {
      deployment.updateHost = value;
    } else if (key == "statistics_host") {
      deployment.statisticsHost = value;
    } else if (key == "website") {
      deployment.website = value;
    } else if (key == "support") {
      deployment.support = value;
    } else if (unknownKeys != nullptr) {
      unknownKeys->emplace_back(key);
    }
  }
  return deployment;
}

Deployment LoadDeployment(const std::string& appDir) {
  std::ifstream file(appDir + "/" + kDeploymentFileName);
  if (!file) return {};
  std::ostringstream text;
  text << file.rdbuf();
  std::vector<std::string> unknown;
  Deployment deployment = ParseDeployment(text.str(), &unknown);
  static std::mutex mutex;
  static std::set<std::string> warned;
  const std::lock_guard lock(mutex);
  for (const std::string& key : unknown) {
    if (warned.insert(key).second) {
      LOG(WARNING) << "Unknown key '" << key << "' in " << kDeploymentFileName << " ignored";
    }
  }
  return deployment;
}

std::string UpdateBaseUrl(const Deployment& deployment) {
  if (deployment.updateHost.empty()) return {};
  if (HasScheme(deployment.updateHost)) return WithoutTrailingSlash(deployment.updateHost) + "/";
  return "https://" + deployment.updateHost + "/linux/x64/";
}

std::string StatisticsOrigin(const Deployment& deployment) {
  if (deployment.statisticsHost.empty()) return {};
  if (HasScheme(deployment.statisticsHost)) return WithoutTrailingSlash(deployment.statisticsHost);
  return "http://" + deployment.statisticsHost;
}

}  // namespace morvex::aux
