#pragma once

namespace morvex::test {
// True when the test process runs in a network namespace of its own.
bool InPrivateNetwork();
}  // namespace morvex::test
