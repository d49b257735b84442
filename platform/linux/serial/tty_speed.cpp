// termios2 speeds: a rate with a Bxxx code goes as that code (what every
// driver understands), any other as BOTHER with the number.
#include "platform/linux/serial/tty_speed_private.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace platform::linux_backend {

namespace {

struct BaudCode {
    std::uint32_t rate;
    unsigned int code;
};

constexpr BaudCode kBaudCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

int SetLineSpeed(int fd, std::uint32_t rate) {
    if (rate == 0) return EINVAL;  // B0 would hang the line up
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
    unsigned int code = BOTHER;
    for (const BaudCode& b : kBaudCodes) {
        if (b.rate == rate) code = b.code;
    }
    // The input speed follows the output speed (CIBAUD 0).
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    int r;
    do {
        r = ::ioctl(fd, TCSETS2, &t);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
}

// A UART samples each bit in its middle and resynchronises on every start
// bit, so the two ends may differ by about 2% over a character's ten bits.
bool RateAccepted(std::uint32_t requested, std::uint32_t set) {
    const std::int64_t off = static_cast<std::int64_t>(set) - requested;
    return (off < 0 ? -off : off) * 50 <= static_cast<std::int64_t>(requested);
}

int GetLineSpeed(int fd, std::uint32_t* rate) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return errno;
    *rate = t.c_ospeed;
    return 0;
}

}  // namespace platform::linux_backend
