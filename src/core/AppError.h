#pragma once

#include <cstdint>

namespace morvex::core {

// Application codes returned in-process: a runnable's result and a store
// transaction's outcome.
inline constexpr uint32_t kErrorNoTarget = 0xE0000001;  // runnable without target, or refused
inline constexpr uint32_t kErrorDatabase = 0xE0000005;

}  // namespace morvex::core
