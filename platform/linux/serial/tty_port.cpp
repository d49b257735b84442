// termios serial port: exclusive open, raw line, waits on poll with an eventfd
// beside the port so that a close from another thread wakes them (closing the
// descriptor alone does not wake a poll on it).
#include "platform/linux/serial/tty_port_private.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>

#include "platform/linux/serial/tty_speed_private.h"

namespace platform::linux_backend {

namespace {

// Unix98 pseudo-terminal slaves (devpts) have majors 136 to 143.
bool IsPtySlave(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned int number = major(st.st_rdev);
    return number >= 136 && number <= 143;
}

// Raw 8-bit input with no flow control and no modem-line dependence. VMIN 1
// makes a non-blocking read say EAGAIN when nothing waits, so that a read of
// 0 means the line hung up. Parity errors are not checked (INPCK off): the
// byte passes through, as a Windows driver hands it on.
void MakeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

int SetAttributes(int fd, const termios& t) {
    int r;
    do {
        r = ::tcsetattr(fd, TCSANOW, &t);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
}

}  // namespace

// Counts a call in for as long as it runs, so that Close waits for it to
// leave before the descriptor goes.
class PortCall {
  public:
    explicit PortCall(TtyPort& port) : port_(port), entered_(port.Enter()) {}
    ~PortCall() {
        if (entered_) port_.Leave();
    }
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;
    bool Entered() const { return entered_; }

  private:
    TtyPort& port_;
    const bool entered_;
};

std::unique_ptr<TtyPort> TtyPort::Open(const char* path, int* error) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    auto fail = [&](int code) -> std::unique_ptr<TtyPort> {
        ::close(fd);
        *error = code;
        return nullptr;
    };
    if (!::isatty(fd)) return fail(ENOTTY);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    ::ioctl(fd, TIOCEXCL);

    termios t{};
    if (::tcgetattr(fd, &t) != 0) return fail(errno);
    MakeRaw(t);
    if (const int e = SetAttributes(fd, t); e != 0) return fail(e);

    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return fail(errno);
    std::unique_ptr<TtyPort> port(new (std::nothrow) TtyPort(fd, wake, IsPtySlave(fd)));
    if (!port) {
        ::close(wake);
        return fail(ENOMEM);
    }
    *error = 0;
    return port;
}

TtyPort::TtyPort(int fd, int wake, bool pseudoTerminal)
    : fd_(fd), wake_(wake), pseudoTerminal_(pseudoTerminal) {}

TtyPort::~TtyPort() {
    Close();
}

bool TtyPort::Enter() {
    std::lock_guard lock(mutex_);
    if (closing_) return false;
    ++users_;
    return true;
}

void TtyPort::Leave() {
    std::lock_guard lock(mutex_);
    if (--users_ == 0 && closing_) left_.notify_all();
}

int TtyPort::Close() {
    std::unique_lock lock(mutex_);
    if (closing_) return EBADF;
    closing_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    left_.wait(lock, [&] { return users_ == 0; });
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(wake_);
    return 0;
}

int TtyPort::Apply(const LineSettings& s) {
    PortCall call(*this);
    if (!call.Entered()) return ECANCELED;
    if (s.baudRate == 0) return EINVAL;
    tcflag_t size;
    switch (s.dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;
    }
    tcflag_t parity = 0;
    switch (s.parity) {
        case Parity::None:
            break;
        case Parity::Odd:
            parity = PARENB | PARODD;
            break;
        case Parity::Even:
            parity = PARENB;
            break;
        case Parity::Mark:
            parity = PARENB | CMSPAR | PARODD;
            break;
        case Parity::Space:
            parity = PARENB | CMSPAR;
            break;
    }
    // A UART sends one and a half stop bits for CSTOPB at 5 data bits; at
    // other sizes there is no such setting (Windows refuses it too).
    if (s.stopBits == StopBits::OneAndHalf && s.dataBits != 5) return EINVAL;
    const tcflag_t stop = s.stopBits == StopBits::One ? 0 : CSTOPB;

    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    MakeRaw(t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= size | parity | stop;
    // The kernel takes what it can and says nothing of the rest; glibc then
    // compares parity and size and may say EINVAL when they did not stick
    // (on a pty from the second such request on). What stuck decides, below.
    if (const int e = SetAttributes(fd_, t); e != 0 && e != EINVAL) return e;
    if (const int e = SetLineSpeed(fd_, s.baudRate); e != 0) return e;

    termios back{};
    if (::tcgetattr(fd_, &back) != 0) return errno;
    tcflag_t checked = CSTOPB | CRTSCTS;
    if (!pseudoTerminal_) checked |= CSIZE | PARENB | PARODD | CMSPAR;
    if ((back.c_cflag & checked) != (t.c_cflag & checked)) return EINVAL;
    std::uint32_t rate = 0;
    if (GetLineSpeed(fd_, &rate) != 0 || !RateAccepted(s.baudRate, rate)) return EINVAL;
    if ((back.c_iflag & (IXON | IXOFF)) != 0) return EINVAL;
    return 0;
}

int TtyPort::Current(LineSettings* s) {
    PortCall call(*this);
    if (!call.Entered()) return ECANCELED;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    if (const int e = GetLineSpeed(fd_, &s->baudRate); e != 0) return e;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s->dataBits = 5;
            break;
        case CS6:
            s->dataBits = 6;
            break;
        case CS7:
            s->dataBits = 7;
            break;
        default:
            s->dataBits = 8;
            break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        s->parity = Parity::None;
    } else if (t.c_cflag & CMSPAR) {
        s->parity = (t.c_cflag & PARODD) ? Parity::Mark : Parity::Space;
    } else {
        s->parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    }
    if ((t.c_cflag & CSTOPB) == 0) {
        s->stopBits = StopBits::One;
    } else {
        s->stopBits = s->dataBits == 5 ? StopBits::OneAndHalf : StopBits::Two;
    }
    return 0;
}

int TtyPort::PollInput(int timeoutMs) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int r;
    do {
        r = ::poll(fds, 2, timeoutMs);
        pollWakeups_.fetch_add(1, std::memory_order_relaxed);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return errno;
    if (fds[1].revents != 0) return ECANCELED;
    // A hung-up line reports POLLIN with POLLHUP/POLLERR on every poll from
    // now on; it is a failure, never input.
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return EIO;
    if (r == 0) return ETIMEDOUT;
    return 0;
}

int TtyPort::WaitForInput() {
    PortCall call(*this);
    if (!call.Entered()) return ECANCELED;
    // One read for each wake-up that says "readable"; a readable port with
    // nothing to read (EAGAIN) is only possible if someone else read first,
    // and the next poll then blocks again.
    while (!hasByte_) {
        if (const int e = PollInput(-1); e != 0) return e;
        const ssize_t n = ::read(fd_, &byte_, 1);
        if (n == 1) {
            hasByte_ = true;
        } else if (n == 0) {
            return EIO;  // the line hung up
        } else if (errno != EAGAIN && errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

int TtyPort::Read(void* buffer, std::size_t size, std::int64_t timeoutMs, bool anyByteEnds,
                  std::size_t* got) {
    *got = 0;
    PortCall call(*this);
    if (!call.Entered()) return ECANCELED;
    auto* out = static_cast<unsigned char*>(buffer);
    if (size != 0 && hasByte_) {
        out[(*got)++] = byte_;
        hasByte_ = false;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (*got < size) {
        const ssize_t n = ::read(fd_, out + *got, size - *got);
        if (n > 0) {
            *got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return *got != 0 ? 0 : EIO;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return *got != 0 ? 0 : errno;
        // Nothing waiting.
        if (anyByteEnds && *got != 0) break;
        int waitMs = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            waitMs = static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30));
        }
        const int e = PollInput(waitMs);
        if (e == ETIMEDOUT) break;
        if (e != 0) return (*got != 0 && e == EIO) ? 0 : e;
    }
    return 0;
}

int TtyPort::SetModemLines(int lines, bool on) {
    PortCall call(*this);
    if (!call.Entered()) return ECANCELED;
    return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &lines) == 0 ? 0 : errno;
}

int TtyPort::GetModemLines(int* lines) {
    *lines = 0;
    PortCall call(*this);
    if (!call.Entered()) return ECANCELED;
    return ::ioctl(fd_, TIOCMGET, lines) == 0 ? 0 : errno;
}

}  // namespace platform::linux_backend
