// The record of what a run changed on the X server, and undoing what a run
// that died left in it.
#include "platform/linux/keys/key_record_private.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/linux/threads/sync_objects_private.h"
#include "platform/posix/private_files.h"

namespace platform::linuxkeys {
namespace {

constexpr char kMagic[8] = "QVKEYS1";

// On the display it names, when that is ours: releases the keys, unbinds the codes that still
// hold what was bound, and presses Caps Lock once if it was left switched.
void UndoLeftBehind(const KeyRecord::Contents& left, const char* ourDisplay) {
    if (std::memcmp(left.magic, kMagic, sizeof kMagic) != 0) return;
    char name[sizeof left.display + 1] = {};
    std::memcpy(name, left.display, sizeof left.display);
    // Only the display this run types on: a record naming another one is
    // not acted on there, whoever wrote it.
    if (ourDisplay == nullptr || std::strcmp(name, ourDisplay) != 0) return;
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return;
    int event = 0, error = 0, major = 0, minor = 0;
    const bool xtest = XTestQueryExtension(display, &event, &error, &major, &minor);
    for (int code = 0; code < 256 && xtest; ++code)
        if (left.down[code] != 0) XTestFakeKeyEvent(display, static_cast<unsigned>(code), False, 0);
    for (const auto& bound : left.bound) {
        if (bound.lower == 0 || bound.code < 8 || bound.code > 255) continue;
        int perCode = 0;
        KeySym* now = XGetKeyboardMapping(display, static_cast<::KeyCode>(bound.code), 1, &perCode);
        const bool ours =
            now != nullptr && perCode >= 2 && now[0] == bound.lower && now[1] == bound.upper;
        if (now != nullptr) XFree(now);
        if (!ours) continue;
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(display, static_cast<int>(bound.code), 2, none, 1);
    }
    if (xtest && left.capsLockPresses % 2 != 0) {
        const ::KeyCode capsLock = XKeysymToKeycode(display, XK_Caps_Lock);
        if (capsLock != 0) {
            XTestFakeKeyEvent(display, capsLock, True, 0);
            XTestFakeKeyEvent(display, capsLock, False, 0);
        }
    }
    XSync(display, False);
    XCloseDisplay(display);
}

}  // namespace

bool KeyRecord::Claim(const char* displayName) {
    if (contents_ != nullptr) return true;
    const std::string folder = linux_backend::InstanceLockDirectory();
    if (folder.empty()) return false;
    // The folder is ours and nobody else can write it, so the file cannot be
    // swapped or truncated under the mapping (no SIGBUS); one of another
    // kind or size is replaced before it is read.
    const int fd = posix::OpenPrivateFile(folder + "/quorvelce-keys", sizeof(Contents));
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    struct stat st {};
    Contents left{};
    if (::fstat(fd, &st) == 0 && st.st_size == static_cast<off_t>(sizeof left) &&
        ::pread(fd, &left, sizeof left, 0) == static_cast<ssize_t>(sizeof left))
        UndoLeftBehind(left, displayName);
    void* mapped = MAP_FAILED;
    if (::ftruncate(fd, sizeof(Contents)) == 0)
        mapped = ::mmap(nullptr, sizeof(Contents), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    contents_ = static_cast<Contents*>(mapped);
    std::memset(contents_, 0, sizeof(Contents));
    std::memcpy(contents_->magic, kMagic, sizeof kMagic);
    if (displayName != nullptr)
        std::strncpy(contents_->display, displayName, sizeof contents_->display - 1);
    return true;
}

void KeyRecord::Close() {
    if (contents_ != nullptr) ::munmap(contents_, sizeof(Contents));
    if (fd_ >= 0) ::close(fd_);
    contents_ = nullptr;
    fd_ = -1;
}

void KeyRecord::KeyDown(KeyCode code, bool down) {
    if (contents_ != nullptr) contents_->down[code] = down ? 1 : 0;
}

void KeyRecord::Bound(KeyCode code, std::uint32_t lower, std::uint32_t upper) {
    if (contents_ == nullptr) return;
    int free = -1;
    for (int i = 0; i < kMaxBound; ++i) {
        auto& slot = contents_->bound[i];
        if (slot.lower != 0 && slot.code == code) {
            slot.lower = lower, slot.upper = upper;
            return;
        }
        if (slot.lower == 0 && free < 0) free = i;
    }
    if (free >= 0 && lower != 0) contents_->bound[free] = {code, lower, upper};
}

void KeyRecord::CapsLockPressed() {
    if (contents_ != nullptr) ++contents_->capsLockPresses;
}

void KeyRecord::Clear() {
    if (contents_ == nullptr) return;
    for (std::uint8_t& down : contents_->down) down = 0;
    Unbound();
    contents_->capsLockPresses = 0;
}

void KeyRecord::Unbound() {
    if (contents_ == nullptr) return;
    for (auto& slot : contents_->bound) slot = {0, 0, 0};
}

}  // namespace platform::linuxkeys
