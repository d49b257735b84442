// Dead keys as X applications read them: a dead key's keysym waits, and the
// next key's keysym composes with it through the locale's compose table (the
// one toolkits load through libxkbcommon), or through a small table of the
// Latin-1 accents when no compose table can be loaded.
#pragma once

#include <cstdint>

struct xkb_context;
struct xkb_compose_table;
struct xkb_compose_state;

namespace platform::linuxkeys {

class DeadKeys {
  public:
    DeadKeys() = default;
    DeadKeys(const DeadKeys&) = delete;
    DeadKeys& operator=(const DeadKeys&) = delete;
    ~DeadKeys() { Unload(); }

    // The compose table of the user's locale (LC_ALL, LC_CTYPE, LANG), else
    // of C.UTF-8 or en_US.UTF-8. Returns false when none loads (the built-in
    // table is used then).
    bool Load(xkb_context* context);
    void Unload();

    // What the dead key `dead` followed by `keysym` types: one character, or
    // 0 when the two do not compose.
    char32_t Compose(std::uint32_t dead, std::uint32_t keysym);

    static bool IsDeadKey(std::uint32_t keysym);
    // The accent a dead key stands for, as a character of its own.
    static char32_t Accent(std::uint32_t dead);

  private:
    xkb_compose_table* table_ = nullptr;
    xkb_compose_state* state_ = nullptr;
};

}  // namespace platform::linuxkeys
