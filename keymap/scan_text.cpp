// The scan-shaping value language: what a user writes in a SCAN_ setting,
// turned into the characters and keys the reception thread types.
#include "keymap/scan_text.h"

#include <cstdio>

#include "keymap/cp1252.h"

using namespace platform;

namespace {

struct NamedScanKey {
    const char* name;
    std::uint8_t virtualKey;
};

constexpr NamedScanKey kScanKeys[] = {
    {"Enter", kVkReturn},  {"Tab", kVkTab},        {"Esc", kVkEscape},    {"Escape", kVkEscape},
    {"Space", kVkSpace},   {"Backspace", kVkBack}, {"Delete", kVkDelete}, {"Del", kVkDelete},
    {"Insert", kVkInsert}, {"Ins", kVkInsert},     {"Home", kVkHome},     {"End", kVkEnd},
    {"PgUp", kVkPrior},    {"PgDn", kVkNext},      {"Up", kVkUp},         {"Down", kVkDown},
    {"Left", kVkLeft},     {"Right", kVkRight},
};

struct NamedModifier {
    const char* name;
    std::uint8_t bit;
};

constexpr NamedModifier kModifiers[] = {
    {"Ctrl", kScanCtrl}, {"Alt", kScanAlt}, {"Shift", kScanShift}, {"Win", kScanWin}};

// A chord names a character key by the character it carries on the US
// layout: that is where Ctrl+] and its kin come from.
struct PunctuationKey {
    char16_t character;
    std::uint8_t virtualKey;
};
constexpr PunctuationKey kPunctuationKeys[] = {
    {u';', kVkOem1},      {u'=', kVkOemPlus}, {u',', kVkOemComma}, {u'-', kVkOemMinus},
    {u'.', kVkOemPeriod}, {u'/', kVkOem2},    {u'`', kVkOem3},     {u'[', kVkOem4},
    {u'\\', kVkOem5},     {u']', kVkOem6},    {u'\'', kVkOem7}};

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr int kMaxBraceLength = 40;

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// Whether the `length` units at `text` spell `name`, letter case aside.
bool SameName(const char16_t* text, int length, const char* name) {
    int i = 0;
    for (; i < length && name[i] != 0; ++i)
        if (Upper(text[i]) != Upper(static_cast<char16_t>(name[i]))) return false;
    return i == length && name[i] == 0;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// The key a chord's last part names: a key name, F1 to F24, or one
// character; 0 when none.
std::uint8_t KeyOfName(const char16_t* text, int length) {
    for (const NamedScanKey& key : kScanKeys)
        if (SameName(text, length, key.name)) return key.virtualKey;
    if (length >= 2 && length <= 3 && Upper(text[0]) == u'F') {
        int number = 0;
        for (int i = 1; i < length; ++i) {
            if (text[i] < u'0' || text[i] > u'9') return 0;
            number = number * 10 + (text[i] - u'0');
        }
        if (number >= 1 && number <= 24) return static_cast<std::uint8_t>(kVkF1 + number - 1);
        return 0;
    }
    if (length != 1) return 0;
    const char16_t c = Upper(text[0]);
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return static_cast<std::uint8_t>(c);
    for (const PunctuationKey& key : kPunctuationKeys)
        if (key.character == c) return key.virtualKey;
    return 0;
}

class Parser {
  public:
    Parser(ScanText& out, ScanTextError& error) : out_(out), error_(error) {
        out_.set = false;
        out_.count = 0;
        error_ = {0, nullptr};
    }

    bool Fail(int column, const char* reason) {
        error_ = {column, reason};
        out_.set = false;
        out_.count = 0;
        return false;
    }

    void Add(ScanItemKind kind, std::uint8_t code, std::uint8_t modifiers) {
        out_.items[out_.count++] = {kind, code, modifiers};
    }

    // Parses text[0..length); `columnBase` is the column of text[0].
    bool Run(const char16_t* text, int length, int columnBase) {
        for (int i = 0; i < length;) {
            const int column = columnBase + i;
            const char16_t c = text[i];
            if (c == u'}')
                return Fail(column, "a '}' with no '{' before it (write {}} for a brace)");
            if (c != u'{') {
                if (c >= 0xD800 && c <= 0xDFFF)
                    return Fail(column, "a character that Windows-1252 does not have");
                const int byte = Cp1252FromUnicode(c);
                if (byte < 0) return Fail(column, "a character that Windows-1252 does not have");
                Add(ScanItemKind::kCharacter, static_cast<std::uint8_t>(byte), 0);
                ++i;
                continue;
            }
            // A brace's literal forms, {{} and {}}.
            if (i + 2 < length && (text[i + 1] == u'{' || text[i + 1] == u'}') &&
                text[i + 2] == u'}') {
                Add(ScanItemKind::kCharacter, static_cast<std::uint8_t>(text[i + 1]), 0);
                i += 3;
                continue;
            }
            int end = i + 1;
            while (end < length && text[end] != u'}' && text[end] != u'{') ++end;
            if (end >= length || text[end] != u'}')
                return Fail(column, "a '{' with no '}' after it (write {{} for a brace)");
            if (end - i - 1 > kMaxBraceLength) return Fail(column, "an unknown key name in braces");
            if (!Brace(text + i + 1, end - i - 1, column)) return false;
            i = end + 1;
        }
        out_.set = true;
        return true;
    }

  private:
    // The inside of one pair of braces.
    bool Brace(const char16_t* text, int length, int column) {
        if (SameName(text, length, "None")) return true;
        if (length == 4 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
            const int high = HexDigit(text[2]);
            const int low = HexDigit(text[3]);
            if (high < 0 || low < 0) return Fail(column, "{0xHH} needs two hexadecimal digits");
            Add(ScanItemKind::kCharacter, static_cast<std::uint8_t>(high * 16 + low), 0);
            return true;
        }
        std::uint8_t modifiers = 0;
        int start = 0;
        // "Ctrl+]": every part before the last '+' is a modifier; a '+' right
        // at the end is the key itself only when nothing follows it.
        for (int i = 0; i < length; ++i) {
            if (text[i] != u'+' || i == start) continue;
            std::uint8_t bit = 0;
            for (const NamedModifier& modifier : kModifiers)
                if (SameName(text + start, i - start, modifier.name)) bit = modifier.bit;
            if (bit == 0)
                return Fail(column, "an unknown modifier (Ctrl, Alt, Shift and Win are known)");
            modifiers = static_cast<std::uint8_t>(modifiers | bit);
            start = i + 1;
        }
        if (start >= length) return Fail(column, "a chord with no key after its last '+'");
        const std::uint8_t key = KeyOfName(text + start, length - start);
        if (key == 0) {
            return Fail(column,
                        "an unknown key name in braces (Enter, Tab, Esc, Space, Backspace, "
                        "Delete, Insert, Home, End, PgUp, PgDn, Up, Down, Left, Right, F1 to "
                        "F24, a letter, a digit, one of ;=,-./`[\\]' or 0xHH)");
        }
        Add(ScanItemKind::kKey, key, modifiers);
        return true;
    }

    ScanText& out_;
    ScanTextError& error_;
};

int Length(const char16_t* text) {
    int n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

bool ParseScanText(const char16_t* text, ScanText& out, ScanTextError& error) {
    Parser parser(out, error);
    const int length = Length(text);
    if (length >= kTextCapacity)
        return parser.Fail(kTextCapacity, "a value longer than 259 characters");
    return parser.Run(text, length, 1);
}

bool ParseScanReplacement(const char16_t* text, ScanReplacement& out, ScanTextError& error) {
    out.set = false;
    out.fromLength = 0;
    const int length = Length(text);
    int arrow = -1;
    for (int i = 0; i + 1 < length; ++i) {
        if (text[i] == u'=' && text[i + 1] == u'>') {
            arrow = i;
            break;
        }
    }
    Parser to(out.to, error);
    if (length >= kTextCapacity)
        return to.Fail(kTextCapacity, "a value longer than 259 characters");
    if (arrow < 0) return to.Fail(1, "no '=>' between the bytes to replace and their replacement");
    if (arrow == 0) return to.Fail(1, "nothing to replace before '=>'");
    // The bytes to replace are parsed as a text of their own, then must be
    // characters only: a key is something typed, not something received.
    if (!Parser(out.to, error).Run(text, arrow, 1)) return false;
    if (out.to.count == 0) return to.Fail(1, "nothing to replace before '=>'");
    if (out.to.count > kMaxReplacedBytes)
        return to.Fail(1, "more than 8 bytes to replace before '=>'");
    for (int i = 0; i < out.to.count; ++i) {
        const ScanItem& item = out.to.items[i];
        if (item.kind != ScanItemKind::kCharacter)
            return to.Fail(1, "a key before '=>': only characters and {0xHH} bytes are received");
        if (item.code == kCarriageReturn)
            return to.Fail(1, "a carriage return before '=>': it ends the scan (use SCAN_CR)");
        out.from[i] = item.code;
    }
    out.fromLength = static_cast<std::uint8_t>(out.to.count);
    if (!Parser(out.to, error).Run(text + arrow + 2, length - arrow - 2, arrow + 3)) {
        out.fromLength = 0;
        return false;
    }
    out.set = true;
    return true;
}

void DescribeScanKey(const ScanItem& item, char (&buffer)[32]) {
    buffer[0] = 0;
    int n = 0;
    for (const NamedModifier& modifier : kModifiers)
        if ((item.modifiers & modifier.bit) != 0)
            n += std::snprintf(buffer + n, sizeof buffer - static_cast<std::size_t>(n), "%s+",
                               modifier.name);
    const char* name = nullptr;
    for (const NamedScanKey& key : kScanKeys)
        if (key.virtualKey == item.code && name == nullptr) name = key.name;
    const std::size_t room = sizeof buffer - static_cast<std::size_t>(n);
    if (name != nullptr) {
        std::snprintf(buffer + n, room, "%s", name);
    } else if (item.code >= kVkF1 && item.code <= kVkF24) {
        std::snprintf(buffer + n, room, "F%d", item.code - kVkF1 + 1);
    } else {
        char character = 0;
        if ((item.code >= '0' && item.code <= '9') || (item.code >= 'A' && item.code <= 'Z'))
            character = static_cast<char>(item.code);
        for (const PunctuationKey& key : kPunctuationKeys)
            if (key.virtualKey == item.code) character = static_cast<char>(key.character);
        if (character != 0) {
            std::snprintf(buffer + n, room, "%c", character);
        } else {
            std::snprintf(buffer + n, room, "0x%02X", item.code);
        }
    }
}
