// Reading the keyboard configuration from the environment or from
// /etc/default/keyboard, a shell file of KEY="value" lines.
#include "platform/linux/keys/keyboard_names_private.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::linuxkeys {
namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != 0;
}

void CopyField(char* destination, std::size_t capacity, const char* source) {
    std::snprintf(destination, capacity, "%s", source == nullptr ? "" : source);
}

}  // namespace

KeyboardNames ReadKeyboardNames(const char* file) {
    KeyboardNames names;
    if (IsSet(std::getenv("XKB_DEFAULT_LAYOUT"))) {
        CopyField(names.layout, sizeof names.layout, std::getenv("XKB_DEFAULT_LAYOUT"));
        CopyField(names.variant, sizeof names.variant, std::getenv("XKB_DEFAULT_VARIANT"));
        CopyField(names.model, sizeof names.model, std::getenv("XKB_DEFAULT_MODEL"));
        CopyField(names.options, sizeof names.options, std::getenv("XKB_DEFAULT_OPTIONS"));
        return names;
    }
    if (std::FILE* in = file != nullptr ? std::fopen(file, "r") : nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, in) != nullptr) {
            // KEY="value" or KEY=value, as the shell reads it.
            char* equals = std::strchr(line, '=');
            if (equals == nullptr || line[0] == '#') continue;
            *equals = 0;
            char* value = equals + 1;
            value[std::strcspn(value, "\r\n")] = 0;
            std::size_t length = std::strlen(value);
            if (length >= 2 && (value[0] == '"' || value[0] == '\'') &&
                value[length - 1] == value[0]) {
                value[length - 1] = 0;
                ++value;
            }
            if (std::strcmp(line, "XKBLAYOUT") == 0)
                CopyField(names.layout, sizeof names.layout, value);
            if (std::strcmp(line, "XKBVARIANT") == 0)
                CopyField(names.variant, sizeof names.variant, value);
            if (std::strcmp(line, "XKBMODEL") == 0)
                CopyField(names.model, sizeof names.model, value);
            if (std::strcmp(line, "XKBOPTIONS") == 0)
                CopyField(names.options, sizeof names.options, value);
        }
        std::fclose(in);
    }
    if (names.layout[0] == 0) CopyField(names.layout, sizeof names.layout, "us");
    return names;
}

}  // namespace platform::linuxkeys
