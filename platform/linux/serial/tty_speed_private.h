// Line speeds as plain numbers, through termios2: a port offers rates such
// as 14400, 56000, 128000 or 256000 (Windows' CBR_ values) that have no Bxxx
// constant in termios. Kept apart because <asm/termbits.h> and <termios.h>
// cannot meet in one file.
#pragma once

#include <cstdint>

namespace platform::linux_backend {

// Sets both directions to `rate` bits per second, leaving the rest of the
// line as it is. 0 or an errno (EINVAL for a rate of 0).
int SetLineSpeed(int fd, std::uint32_t rate);
// The output speed the driver holds, in bits per second.
int GetLineSpeed(int fd, std::uint32_t* rate);
// Whether the rate a driver set for `requested` (its divisor rounds it) still
// talks to a device at `requested`.
bool RateAccepted(std::uint32_t requested, std::uint32_t set);

}  // namespace platform::linux_backend
