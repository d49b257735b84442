// A small X client for the tests: a focused window that reads the key
// presses it receives and turns them into characters with the server's own
// keymap, as an application would.
#pragma once

#include <cstddef>
#include <string>

struct _XDisplay;

class XKeyReader {
  public:
    // Opens a window on `display` and gives it the focus.
    explicit XKeyReader(const std::string& display);
    ~XKeyReader();
    XKeyReader(const XKeyReader&) = delete;
    XKeyReader& operator=(const XKeyReader&) = delete;

    bool ok() const { return display_ != nullptr; }
    // The characters of the key presses received since the last call, once at
    // least `expected` have arrived (or after two seconds).
    std::u32string Read(std::size_t expected);
    // Whether the server has any key down.
    bool AnyKeyDown();

  private:
    void Drain(std::u32string& typed);

    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
};
