// A device's profile as the service leaves it (an identity saved in its
// database, then the store closed), for morvexctl to open read-only, and
// morvexctl run on it in this process.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "config/KelmConfig.h"
#include "ctl/Commands.h"
#include "protocol/SslUtils.h"
#include "store/ContentProvider.h"
#include "support/TempDir.h"

namespace morvex::ctl::test_support {

class SavedProfileTest : public ::testing::Test {
 protected:
  // Opens the store and saves the identity "own-uuid", named "here", after
  // `configure` added to it; the store stays open for rows to be added
  // until CloseStore().
  void SaveIdentity(const std::function<void(config::CKelmConfigManager&)>& configure = {}) {
    ASSERT_TRUE(store::InitContentFramework(metadir_.Path()));
    config::CKelmConfigManager config;
    config.SetDeviceUuid("own-uuid");
    config.SetDeviceName("here");
    if (configure) configure(config);
    const protocol::ssl::KeyPairDer keys = protocol::ssl::GenerateKeyPair(1024);
    config.SetKeys(keys.publicDer, keys.privateDer);
    ASSERT_TRUE(config.Save());
  }
  static void CloseStore() { store::ShutdownContentFramework(); }
  void TearDown() override { store::ShutdownContentFramework(); }

  // morvexctl -m METADIR WORDS...: its exit status, standard output and error.
  int RunCtl(const std::vector<std::string>& words, std::string& out, std::string& err) {
    std::vector<std::string> arguments = {"morvexctl", "-m", metadir_.Path()};
    arguments.insert(arguments.end(), words.begin(), words.end());
    std::ostringstream outStream;
    std::ostringstream errStream;
    const int status = RunCommandLine(arguments, outStream, errStream);
    out = outStream.str();
    err = errStream.str();
    return status;
  }

  test::TempDir metadir_;
};

}  // namespace morvex::ctl::test_support
