// Loading the keyboard table from its section of the settings file. A key is
// taken from the first line after the section's header that contains its
// decimal digits anywhere (the engine's containment rule); the load reads the
// file once and settles all 256 keys in that single pass.
#include "keymap/key_table.h"

#include "keymap/active_layout.h"

#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "settings/text_file.h"

namespace {

constexpr const char16_t* kAbsent = u"ERROR";

// Applies the value read for one byte to its entry. `value` is the text the
// reader handed back (the absent marker when there was none); it is used as
// scratch space.
void ApplyKeyValue(KeyTableEntry& entry, char16_t* value) {
    if (platform::StrCmp(value, kAbsent) == 0) return;
    if (platform::StrChr(value, u',') == nullptr) {
        entry.virtualKey = static_cast<std::uint16_t>(platform::wcstoul16(value));
        entry.shift = 0;
        entry.altGr = 0;
        return;
    }
    char16_t code[kSettingTextCapacity];
    platform::StrCopy(code, kSettingTextCapacity, value);
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

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

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

}  // namespace

void LoadKeyTable() {
    // That name chooses the layout itself, never a section.
    if (IsActiveLayoutName(SerialSettings.keyTableName)) return;
    settings_text::TextFileReader reader;
    if (!reader.Open(SettingsFilePath)) return;
    char16_t header[kSettingTextCapacity] = u"[";
    if (!platform::StrAppend(header, kSettingTextCapacity, SerialSettings.keyTableName) ||
        !platform::StrAppend(header, kSettingTextCapacity, u"]"))
        return;
    bool inSection = false;
    while (!inSection && reader.Next())
        inSection = platform::StrStr(reader.Text(), header) != nullptr;
    if (!inSection) return;

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
        char16_t value[kSettingTextCapacity];
        platform::StrCopy(value, kSettingTextCapacity, kAbsent);
        if (platform::StrChr(reader.Text(), u'=') != nullptr) {
            TrimSettingValue(reader.Text(), u'=');
            if (reader.Text()[0] != 0)
                platform::StrCopy(value, kSettingTextCapacity, reader.Text());
        }
        for (int i = 0; i < count; ++i) {
            char16_t scratch[kSettingTextCapacity];
            platform::StrCopy(scratch, kSettingTextCapacity, value);
            ApplyKeyValue(SerialSettings.keyTable[keys[i]], scratch);
        }
    }
}

void LoadKeyTableByKeyReads() {
    if (IsActiveLayoutName(SerialSettings.keyTableName)) return;
    for (int n = 0; n < kKeyTableSize; ++n) {
        char16_t key[12];
        platform::FormatDecimal(key, 12, n);
        char16_t value[kSettingTextCapacity];
        ReadSettingValue(SerialSettings.keyTableName, key, kAbsent, value, kSettingTextCapacity,
                         SettingsFilePath);
        ApplyKeyValue(SerialSettings.keyTable[n], value);
    }
}
