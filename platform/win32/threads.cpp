// Windows threads, events and timing.
// The seam comes before <windows.h>: its constants share names with Windows macros.
#include "platform/services.h"

#include <windows.h>

namespace platform {

std::uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(std::uint32_t code) { ::SetLastError(code); }

}  // namespace platform
