// Loading the keyboard table from its section of the settings file. A key is
// taken from the first line after the section's header that contains its
// decimal digits anywhere (the engine's containment rule); the load reads the
// file once and settles all 256 keys in that single pass.
#include "keymap/key_table.h"

#include "keymap/active_layout.h"
#include "keymap/cp1252.h"
#include "platform/services.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "settings/text_file.h"

KeyTableEntry KeyTable[kKeyTableSize];

void ApplyKeyValue(KeyTableEntry& entry, char16_t* value) {
    if (platform::StrCmp(value, kAbsentValue) == 0) return;
    if (platform::StrChr(value, u',') == nullptr) {
        entry.virtualKey = static_cast<std::uint16_t>(platform::wcstoul16(value));
        entry.shift = 0;
        entry.altGr = 0;
        return;
    }
    char16_t code[kTextCapacity];
    platform::StrCopy(code, kTextCapacity, value);
    CutSettingText(code, u',');
    if (code[0] == 0) return;  // nothing before the ",": the entry stays
    entry.virtualKey = static_cast<std::uint16_t>(platform::wcstoul16(code));
    TrimSettingValue(value, u',');
    switch (value[0]) {
        case 0:
            break;  // "," and nothing after it: the modifiers stay
        case u'a':
        case u'A':
            entry.shift = 0;
            entry.altGr = 1;
            break;
        case u's':
        case u'S':
            entry.shift = 1;
            entry.altGr = 0;
            break;
        default:
            entry.shift = 0;
            entry.altGr = 0;
            entry.virtualKey = 0;
            break;
    }
}

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

// Collects the byte values 0 to 255 whose "%d" text occurs in `text` and that
// `settled` does not hold yet, and marks them settled.
int TakeKeysFoundIn(const char16_t* text, bool* settled, std::uint8_t* keys) {
    int count = 0;
    auto take = [&](int n) {
        if (settled[n]) return;
        settled[n] = true;
        keys[count++] = static_cast<std::uint8_t>(n);
    };
    for (; *text != 0; ++text) {
        if (!IsDigit(*text)) continue;
        int n = *text - u'0';
        take(n);
        if (n == 0) continue;  // "%d" never puts a leading zero
        for (int more = 1; more < 3 && IsDigit(text[more]); ++more) {
            n = n * 10 + (text[more] - u'0');
            if (n > 255) break;
            take(n);
        }
    }
    return count;
}

namespace {

void LoadKeyTableEntries() {
    settings_text::TextFileReader reader;
    if (!reader.Open(SettingsFilePath) || !SeekSection(reader, SerialSettings.keyTableName)) return;

    // Each piece after the header is the key line of every byte value whose
    // digits it contains and that no earlier piece has claimed.
    bool settled[kKeyTableSize] = {};
    int unsettled = kKeyTableSize;
    while (unsettled > 0 && reader.Next()) {
        std::uint8_t keys[kKeyTableSize];
        int count = TakeKeysFoundIn(reader.Text(), settled, keys);
        if (count == 0) continue;
        unsettled -= count;
        // What ReadSettingValue would hand back for this line.
        char16_t value[kTextCapacity];
        platform::StrCopy(value, kTextCapacity,
                          TakeSettingValue(reader.Text()) ? reader.Text() : kAbsentValue);
        for (int i = 0; i < count; ++i) {
            char16_t scratch[kTextCapacity];
            platform::StrCopy(scratch, kTextCapacity, value);
            ApplyKeyValue(KeyTable[keys[i]], scratch);
        }
    }
}

}  // namespace

void LoadKeyTable() {
    // That name chooses the layout itself, never a section.
    if (IsActiveLayoutName(SerialSettings.keyTableName)) return;
    LoadKeyTableEntries();
    PassKeyHints();
}

void PassKeyHints() {
    platform::KeyHint hints[kKeyTableSize];
    std::size_t count = 0;
    for (int b = 0; b < kKeyTableSize; ++b) {
        const KeyTableEntry& entry = KeyTable[b];
        const char16_t character = Cp1252ToUnicode(static_cast<std::uint8_t>(b));
        if (entry.virtualKey == 0 || entry.virtualKey > 0xFF || character == 0) continue;
        hints[count++] = {static_cast<std::uint8_t>(entry.virtualKey), entry.shift == 1,
                          entry.altGr == 1, character};
    }
    platform::SetKeyHints(hints, count);
}
