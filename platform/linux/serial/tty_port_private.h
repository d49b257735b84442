// A serial port on a Linux tty (termios), shaped to what a reader thread needs:
// an exclusive open, raw 8-bit input, a wait that another thread's Close wakes
// at once, and a pulled cable that fails the wait instead of spinning.
// Results are errno values (0 on success); the seam maps them to its codes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace platform::linux_backend {

enum class Parity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : std::uint8_t { One, OneAndHalf, Two };

struct LineSettings {
    std::uint32_t baudRate = 9600;
    std::uint8_t dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
};

// Modem lines, as TIOCM_* bits.
struct ModemLines {
    static constexpr int kDtr = 0x002;
    static constexpr int kRts = 0x004;
    static constexpr int kCts = 0x020;
    static constexpr int kDcd = 0x040;
    static constexpr int kRing = 0x080;
    static constexpr int kDsr = 0x100;
};

class TtyPort {
  public:
    // Opens `path` exclusively (TIOCEXCL, and flock for root, whom TIOCEXCL
    // does not stop) in raw mode with no flow control. On failure returns null
    // and sets *error: ENOENT and friends for a missing device, EACCES, EBUSY
    // when another open holds it, ENOTTY when it is no terminal.
    static std::unique_ptr<TtyPort> Open(const char* path, int* error);

    ~TtyPort();
    TtyPort(const TtyPort&) = delete;
    TtyPort& operator=(const TtyPort&) = delete;

    // Sets the line and reads it back: EINVAL for a value termios cannot
    // express or one the driver did not keep. A pseudo-terminal has no line,
    // and the kernel keeps it at 8 bits without parity whatever is asked; there
    // the character framing is accepted as asked, the rest is still checked.
    int Apply(const LineSettings& settings);
    int Current(LineSettings* settings);

    // Blocks until a byte is there (0), the port is closed from another
    // thread (ECANCELED), or the line fails (EIO for a hang-up or a pulled
    // cable, which stays failed: the port must be closed and opened again).
    int WaitForInput();
    // Reads up to `size` bytes into `buffer`, waiting at most `timeoutMs`
    // (negative: no limit) for them; with `anyByteEnds` it returns as soon as
    // at least one byte is there. Errors as WaitForInput; bytes read before a
    // failure are still reported with 0.
    int Read(void* buffer, std::size_t size, std::int64_t timeoutMs, bool anyByteEnds,
             std::size_t* got);

    // TIOCMBIS / TIOCMBIC / TIOCMGET; a pseudo-terminal answers ENOTTY.
    int SetModemLines(int lines, bool on);
    int GetModemLines(int* lines);

    // Makes every pending and later call return ECANCELED, waits until the
    // calls inside have left, then closes the descriptor. Safe from any thread;
    // only the first call does the work (later ones return EBADF).
    int Close();

    // How often a wait or read came back from poll: a pulled cable must not
    // keep a reader looping.
    std::uint32_t PollWakeups() const { return pollWakeups_.load(std::memory_order_relaxed); }

  private:
    TtyPort(int fd, int wake, bool pseudoTerminal);
    bool Enter();
    void Leave();
    // Polls the port and the wake descriptor: 0 when the port is readable,
    // ETIMEDOUT, ECANCELED, EIO, or poll's errno.
    int PollInput(int timeoutMs);

    friend class PortCall;

    const int fd_;
    const int wake_;  // eventfd written by Close
    const bool pseudoTerminal_;
    std::mutex mutex_;
    std::condition_variable left_;
    int users_ = 0;
    bool closing_ = false;
    std::atomic<std::uint32_t> pollWakeups_{0};
    // The byte whose arrival ended a wait, handed back by the next read.
    // Waits and reads come from one reader thread at a time.
    bool hasByte_ = false;
    unsigned char byte_ = 0;
};

}  // namespace platform::linux_backend
