// The keystroke output that keyboard.cpp keeps, as the layout calls
// (layout.cpp) reach it: the same output the keystrokes go to, under its lock.
#pragma once

namespace platform {
namespace linuxkeys {
class KeyOutput;
}

// Holds the output's lock for as long as this lives; the output opens if
// need be.
class KeyboardOutputAccess {
  public:
    KeyboardOutputAccess();
    ~KeyboardOutputAccess();
    KeyboardOutputAccess(const KeyboardOutputAccess&) = delete;
    KeyboardOutputAccess& operator=(const KeyboardOutputAccess&) = delete;

    // Null when no output opens.
    linuxkeys::KeyOutput* output() const { return output_; }
    // True once for each opening of the output: the first character left
    // out shows a message, the others pass silently.
    bool FirstCharacterLeftOut();

  private:
    linuxkeys::KeyOutput* output_;
};

}  // namespace platform
