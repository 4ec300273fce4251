#pragma once

#include <cstdint>

namespace morvex::core {

// A unit of work handed to another thread. Run() returns 0 on success and
// kErrorNoTarget when it has no target or its target refused.
class IRunnable {
 public:
  virtual ~IRunnable() = default;
  virtual uint32_t Run() = 0;
};

}  // namespace morvex::core
