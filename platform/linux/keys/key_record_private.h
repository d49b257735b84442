// What a run changes on the X server while it types (keys held down on the
// XTEST keyboard, spare key codes bound, Caps Lock switched off for a line),
// kept in a small file in the runtime folder as it happens, so that the next
// run can give back what a run killed in the middle of a line left behind.
#pragma once

#include <cstdint>

#include "platform/linux/keys/key_layout_private.h"

namespace platform::linuxkeys {

class KeyRecord {
  public:
    KeyRecord() = default;
    KeyRecord(const KeyRecord&) = delete;
    KeyRecord& operator=(const KeyRecord&) = delete;
    ~KeyRecord() { Close(); }

    // Takes the record for this process, first undoing on its display what a
    // run that ended without closing left in it. False when a live run holds
    // it (a second instance about to give way): nothing is recorded then.
    bool Claim(const char* displayName);
    void Close();

    // Each is written before the server can see the change it stands for, so
    // that a run killed in between leaves at worst a release or an unbinding
    // too many, which changes nothing.
    void KeyDown(KeyCode code, bool down);
    // lower and upper 0: unbound.
    void Bound(KeyCode code, std::uint32_t lower, std::uint32_t upper);
    void CapsLockPressed();
    // Every binding forgotten (the server's keymap replaced them).
    void Unbound();
    // Nothing left to give back: the output closed in order, and what Caps
    // Lock is now is what the scans meant it to be.
    void Clear();

    // The file's contents: fixed size, written in place through a shared mapping.
    static constexpr int kMaxBound = 16;
    struct Contents {
        char magic[8];
        char display[120];
        std::uint8_t down[256];
        struct {
            std::uint32_t code, lower, upper;
        } bound[kMaxBound];
        // Our Caps Lock presses, of which an odd number leaves it switched.
        std::uint32_t capsLockPresses;
    };

  private:
    Contents* contents_ = nullptr;
    int fd_ = -1;
};

}  // namespace platform::linuxkeys
