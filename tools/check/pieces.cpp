// The engine's answer for a piece, and the tool's agreement with it: every
// value the check reports on is one the program really reads.
#include "tools/check/pieces.h"

#include "platform/text.h"
#include "settings/settings_file.h"
#include "tools/text_conversion.h"

namespace check {

int ExpectedRead(const Kept* located, std::u16string& value) {
    value = kAbsentValue;
    if (located == nullptr) return 1;
    char16_t line[kTextCapacity];
    platform::StrCopy(line, kTextCapacity, located->text.c_str());
    if (!TakeSettingValue(line)) return 1;
    value = line;
    return 0;
}

bool AgreesWithEngine(const std::u16string& path, const std::u16string& section,
                      const char16_t* key, const Kept& located, ToolOutput& io) {
    std::u16string expected;
    const int expectedResult = ExpectedRead(&located, expected);
    char16_t actual[kTextCapacity];
    const int result =
        ReadSettingValue(section.c_str(), key, kAbsentValue, actual, kTextCapacity, path.c_str());
    if (result == expectedResult && expected == actual) return true;
    Note(io, "internal error: for [" + ToUtf8(section) + "] " + ToUtf8(key) + " this tool reads " +
                 located.Label() + " giving " + Quoted(expected) + ", the engine gives " +
                 Quoted(actual));
    return false;
}

}  // namespace check
