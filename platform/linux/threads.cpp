// Linux: only the calling thread's last error code, which the file code
// reports through. Threads, events and timing are not written yet.
#include "platform/services.h"

namespace platform {

namespace {
thread_local std::uint32_t lastError = 0;
}

std::uint32_t GetLastError() { return lastError; }
void SetLastError(std::uint32_t code) { lastError = code; }

}  // namespace platform
