#pragma once

#include <cstdint>

namespace morvex::core {

// Application codes kept in the thread's last-error value, the way the store
// and the parsers report why an operation returned its failure value.
inline constexpr uint32_t kErrorNoTarget = 0xE0000001;  // runnable without target, or refused
inline constexpr uint32_t kErrorBadFormat = 0xE0000004;
inline constexpr uint32_t kErrorDatabase = 0xE0000005;

void SetLastError(uint32_t code) noexcept;
uint32_t GetLastError() noexcept;

}  // namespace morvex::core
