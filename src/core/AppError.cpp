#include "core/AppError.h"

namespace morvex::core {
namespace {
thread_local uint32_t lastError = 0;
}

void SetLastError(uint32_t code) noexcept { lastError = code; }
uint32_t GetLastError() noexcept { return lastError; }

}  // namespace morvex::core
