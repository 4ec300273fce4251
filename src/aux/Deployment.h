#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvex::aux {

// Where this installation's servers and links are: the distributor's
// choice, kept out of the Config table. Read from the optional file
// "deployment.ini" in the application folder, lines "key = value" ('#' or
// ';' starts a comment, at the start of a line or after white space). Every field empty when the file is missing:
// nothing is then sent anywhere.
struct Deployment {
  std::string updateHost;      // "host[:port]", or a URL with its scheme
  std::string statisticsHost;  // the same
  std::string website;         // the about box's links
  std::string support;
};

inline constexpr const char* kDeploymentFileName = "deployment.ini";

// `unknownKeys` receives the keys the parser does not know, in order.
Deployment ParseDeployment(std::string_view text, std::vector<std::string>* unknownKeys = nullptr);

// Reads "<appDir>/deployment.ini"; an unknown key is logged as a WARNING
// once per process, since the file is read again for every check.
Deployment LoadDeployment(const std::string& appDir);

// The update's base URL: "https://<host>/linux/x64/", or the host as given
// when it names its own scheme. Empty without an update host.
std::string UpdateBaseUrl(const Deployment& deployment);

// "http://<host>" (or the host as given when it names its scheme); empty
// without a statistics host.
std::string StatisticsOrigin(const Deployment& deployment);

}  // namespace morvex::aux
