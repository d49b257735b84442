// errno turned into the Windows error codes the core acts on and the boxes
// show, for every POSIX backend: one table, read for what was being done.
#pragma once

#include <cstdint>

namespace platform::posix {

// What failed, where one errno means different things: a missing device node
// is a port that is not there (yet), which the core retries; a device gone
// during a read is a port no longer connected.
enum class ErrnoUse { File, PortOpen, PortIo };

std::uint32_t ErrorFromErrno(int error, ErrnoUse use = ErrnoUse::File);

}  // namespace platform::posix
