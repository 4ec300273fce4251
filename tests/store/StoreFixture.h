#pragma once

#include <gtest/gtest.h>

#include "store/ContentResolver.h"
#include "support/TempDir.h"

namespace morvex::store {

// A real database in a fresh metadir, opened through the process's provider
// the way the service opens it.
class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InitContentFramework(metadir_.Path())) << MainProvider().InitError(); }
  void TearDown() override { ShutdownContentFramework(); }

  CContentResolver& Resolver() { return CContentResolver::Instance(); }
  CSQLite& Db() { return MainProvider().Database(); }
  std::string DbPath() const { return metadir_ / "Morvex/Morvex.db"; }
  int Count(const CUri& uri, const char* where = nullptr) {
    return Resolver().QueryInt(uri, "COUNT(*)", -1, CSelection::FromClause(where ? where : ""));
  }

  test::TempDir metadir_;
};

}  // namespace morvex::store
