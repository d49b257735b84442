// A small X client for the tests: a focused window that reads the key
// presses it receives and turns them into characters with the server's own
// keymap, as an application would.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct _XDisplay;
struct xkb_context;
struct xkb_compose_table;
struct xkb_compose_state;

class XKeyReader {
  public:
    // Opens a window on `display` and gives it the focus. With `compose`, dead
    // keys compose with the next key through the compose table of C.UTF-8, as
    // toolkits do; without, they type nothing.
    explicit XKeyReader(const std::string& display, bool compose = false);
    ~XKeyReader();
    XKeyReader(const XKeyReader&) = delete;
    XKeyReader& operator=(const XKeyReader&) = delete;

    bool ok() const { return display_ != nullptr; }
    // The characters of the key presses received since the last call, once at
    // least `expected` have arrived (or after two seconds).
    std::u32string Read(std::size_t expected);
    // Whether the server has any key down.
    bool AnyKeyDown();
    // Whether Caps Lock is on, and switching it as the user does.
    bool CapsLockOn();
    void SetCapsLock(bool on);
    // The key codes the server has no keysym for.
    std::vector<int> EmptyKeyCodes();

  private:
    void Drain(std::u32string& typed);

    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    xkb_context* context_ = nullptr;
    xkb_compose_table* table_ = nullptr;
    xkb_compose_state* compose_ = nullptr;
};
