// `check`: finds every place where the program would read a settings file
// differently from how it looks. Keys are found by containment anywhere in a
// line and the search runs past the next section, so a table that looks right
// can type the wrong keys; this shows each such line before a user does.
//
// Where a key is read from is worked out here, line by line, because the
// engine only hands back values; every value found that way is compared with
// what ReadSettingValue itself returns, and the entries are what LoadKeyTable
// itself loads, so this tool cannot quietly drift from the program.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "keymap/active_layout.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/ini_lines.h"
#include "tools/key_names.h"
#include "tools/text_conversion.h"

namespace {

constexpr const char16_t* kGeneralKeys[] = {u"STROKE_DELAY", u"COM",  u"BAUDRATE", u"PARITY",
                                            u"DATA",         u"STOP", u"KEYTABLE"};

bool IsBlankChar(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string Trimmed(std::u16string_view text) {
    std::size_t a = 0;
    std::size_t b = text.size();
    while (a < b && IsBlankChar(text[a])) ++a;
    while (b > a && IsBlankChar(text[b - 1])) --b;
    return std::u16string(text.substr(a, b - a));
}

bool IsHexText(std::u16string_view text) {
    std::u16string t = Trimmed(text);
    if (!t.empty() && (t[0] == u'-' || t[0] == u'+')) t.erase(0, 1);
    std::size_t i = 0;
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) i = 2;
    if (i == t.size()) return false;
    for (; i < t.size(); ++i) {
        char16_t c = t[i];
        bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!hex) return false;
    }
    return true;
}

// The decimal text of a byte value, or -1 when `key` is not one ("007" is not:
// the program looks keys up without leading zeros).
int ByteValueOf(const std::u16string& key) {
    if (key.empty() || key.size() > 3 || (key.size() > 1 && key[0] == u'0')) return -1;
    int value = 0;
    for (char16_t c : key) {
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value <= 255 ? value : -1;
}

bool SameEntry(const KeyTableEntry& a, const KeyTableEntry& b) {
    return a.shift == b.shift && a.altGr == b.altGr && a.virtualKey == b.virtualKey;
}

class Checker {
  public:
    Checker(const std::u16string& path, const IniFile& file, ToolOutput& io)
        : path_(path), file_(file), io_(io) {}

    int findings() const { return findings_; }
    bool disagreed() const { return disagreed_; }

    // Lines the section list takes for names, and what it makes of them.
    // Returns the names of the keyboard sections the program would offer.
    std::vector<std::u16string> CheckSectionList();
    void CheckGeneral(bool wholeFile);
    void CheckKeyboardSection(const std::u16string& name);
    // A section named like the active keyboard layout, which no load reads.
    void ReportLayoutSection(const std::u16string& name);

  private:
    void CheckGeneralValue(const char16_t* key, int located);
    int size() const { return static_cast<int>(file_.pieces.size()); }
    const char16_t* Text(int i) const { return file_.pieces[i].text.c_str(); }
    bool Contains(int i, const char16_t* needle) const {
        return platform::StrStr(Text(i), needle) != nullptr;
    }
    // The line a person reads as `key`'s own: its KEY = VALUE line among the
    // section's lines after `start` and before `end`; -1 when there is none.
    int OwnLine(int start, int end, const std::u16string& key) const;
    std::u16string_view View(int i) const {
        std::u16string_view v(Text(i));
        if (!v.empty() && v.back() == u'\n') v.remove_suffix(1);
        return v;
    }

    void Report(const std::string& message) {
        io_.out += message;
        io_.out += '\n';
        ++findings_;
    }
    void ReportAt(int i, const std::string& message) {
        Report(LineLabel(file_.pieces[i]) + ": " + message);
    }
    std::string Where(int i) const { return LineLabel(file_.pieces[i]); }

    int FindHeader(const std::u16string& name) const;
    int Locate(int start, const char16_t* key) const;
    int BodyEnd(int start, const std::u16string& name) const;
    int ExpectedRead(int located, std::u16string& value) const;
    void CompareWithEngine(const std::u16string& section, const char16_t* key, int located);

    bool IsCommentLine(int i) const;
    bool IsBlankLine(int i) const;
    bool KeyOf(int i, std::u16string& key) const;
    bool IsHeader(int i, std::u16string& name) const;

    const std::u16string& path_;
    const IniFile& file_;
    ToolOutput& io_;
    int findings_ = 0;
    bool disagreed_ = false;
};

// Where the engine's own search finds the section and the key.
int Checker::FindHeader(const std::u16string& name) const {
    char16_t header[kSettingTextCapacity];
    // A header text that does not fit the engine's buffer is never found.
    if (!BuildSectionHeader(header, name.c_str())) return -1;
    for (int i = 0; i < size(); ++i) {
        if (LineHasHeader(Text(i), header)) return i;
    }
    return -1;
}

int Checker::Locate(int start, const char16_t* key) const {
    for (int i = start + 1; i < size(); ++i) {
        if (LineHasKey(Text(i), key)) return i;
    }
    return -1;
}

int Checker::OwnLine(int start, int end, const std::u16string& key) const {
    std::u16string k;
    for (int i = start + 1; i < end; ++i) {
        if (KeyOf(i, k) && k == key) return i;
    }
    return -1;
}

bool Checker::IsHeader(int i, std::u16string& name) const {
    std::u16string_view v = View(i);
    std::size_t a = 0;
    while (a < v.size() && (v[a] == u' ' || v[a] == u'\t')) ++a;
    if (a == v.size() || v[a] != u'[') return false;
    std::size_t close = v.find(u']', a);
    if (close == std::u16string_view::npos || close == a + 1) return false;
    std::u16string_view inner = v.substr(a + 1, close - a - 1);
    if (inner.find(u'[') != std::u16string_view::npos) return false;
    std::u16string after = Trimmed(v.substr(close + 1));
    if (!after.empty() && after[0] != u'#') return false;
    if (after.find(u'[') != std::u16string::npos) return false;
    name = std::u16string(inner);
    return true;
}

// Where the lines that belong to a section end: at the next header of
// another section. (The program's lookups do not stop there.)
int Checker::BodyEnd(int start, const std::u16string& name) const {
    std::u16string other;
    for (int i = start + 1; i < size(); ++i) {
        if (IsHeader(i, other) && other != name) return i;
    }
    return size();
}

bool Checker::IsCommentLine(int i) const {
    std::u16string t = Trimmed(View(i));
    return !t.empty() && t[0] == u'#';
}

bool Checker::IsBlankLine(int i) const {
    return Trimmed(View(i)).empty();
}

// A key line as a person reads it: KEY = VALUE, with the "=" before any comment.
bool Checker::KeyOf(int i, std::u16string& key) const {
    if (IsCommentLine(i)) return false;
    std::u16string_view v = View(i);
    std::size_t eq = v.find(u'=');
    std::size_t hash = v.find(u'#');
    if (eq == std::u16string_view::npos || (hash != std::u16string_view::npos && hash < eq)) {
        return false;
    }
    key = Trimmed(v.substr(0, eq));
    return true;
}

// What ReadSettingValue should give when its search stops at `located`
// (-1: nowhere), with the capacity every caller in the program passes.
int Checker::ExpectedRead(int located, std::u16string& value) const {
    value = kAbsentValue;
    if (located < 0) return 1;
    char16_t line[kSettingTextCapacity];
    platform::StrCopy(line, kSettingTextCapacity, Text(located));
    if (!TakeSettingValue(line)) return 1;
    value = line;
    return 0;
}

void Checker::CompareWithEngine(const std::u16string& section, const char16_t* key, int located) {
    std::u16string expected;
    int expectedResult = ExpectedRead(located, expected);
    char16_t actual[kSettingTextCapacity];
    int result = ReadSettingValue(section.c_str(), key, kAbsentValue, actual, kSettingTextCapacity,
                                  path_.c_str());
    if (result == expectedResult && expected == actual) return;
    disagreed_ = true;
    Note(io_, "internal error: for [" + ToUtf8(section) + "] " + ToUtf8(key) + " this tool reads " +
                  (located < 0 ? std::string("no line") : Where(located)) + " giving " +
                  Quoted(expected) + ", the engine gives " + Quoted(actual));
}

std::vector<std::u16string> Checker::CheckSectionList() {
    std::vector<std::u16string> offered;
    std::vector<std::u16string> listedNames;  // as the program's list holds them
    int listed = 0;
    for (int i = 0; i < size(); ++i) {
        if (!Contains(i, u"[")) continue;
        std::u16string header;
        bool isHeader = IsHeader(i, header);
        if (Contains(i, u"GENERAL")) {
            if (isHeader && header != u"GENERAL") {
                ReportAt(i, "section " + Quoted(header) +
                                " is not offered: its header line contains GENERAL");
            }
            continue;
        }
        // The name exactly as the section list cuts it out of the line.
        char16_t line[kSettingTextCapacity];
        platform::StrCopy(line, kSettingTextCapacity, Text(i));
        TrimSettingValue(line, u'[');
        CutSettingText(line, u']');
        std::u16string name = line;
        ++listed;
        if (listed <= kMaxSettingSections) listedNames.push_back(name.substr(0, 32));
        if (listed > kMaxSettingSections) {
            ReportAt(i, "more than ten sections: the program lists only the first ten, so " +
                            Quoted(name) + " is never offered");
            continue;
        }
        if (!isHeader) {
            ReportAt(i,
                     "this line contains \"[\", so the section list takes it for a section "
                     "named " +
                         Quoted(name));
        }
        if (name.size() > 32) {
            ReportAt(i, "section name " + Quoted(name) +
                            " is longer than 32 characters: it is listed cut and cannot be loaded");
        } else if (!name.empty() &&
                   std::find(offered.begin(), offered.end(), name) == offered.end()) {
            offered.push_back(name);
        }
    }
    // The engine's own list must name the same sections, in the same order.
    ListSettingSections(path_.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    std::vector<std::u16string> engineList;
    for (int i = 0; i < SerialSettings.SettingSectionCount; ++i) {
        engineList.emplace_back(SerialSettings.SettingSectionList[i]);
    }
    if (engineList != listedNames) {
        disagreed_ = true;
        Note(io_, "internal error: the engine's section list differs from this tool's");
    }
    return offered;
}

void Checker::CheckGeneral(bool wholeFile) {
    const std::u16string general = u"GENERAL";
    int start = FindHeader(general);
    if (start < 0) {
        if (!wholeFile) return;
        Report(
            "no line contains \"[GENERAL]\": every general setting takes its default and "
            "KEYTABLE reads as \"ERROR\", so the program loads no keyboard table");
        return;
    }
    int end = BodyEnd(start, general);
    for (const char16_t* key : kGeneralKeys) {
        int located = Locate(start, key);
        CompareWithEngine(general, key, located);
        CheckGeneralValue(key, located);
        const int own = OwnLine(start, end, key);
        if (located < 0 || located == own) continue;
        std::string message =
            "[GENERAL] " + ToUtf8(key) + " is read from this line " + Quoted(Text(located));
        message += own >= 0 ? ", not from its key line " + std::to_string(file_.pieces[own].line)
                            : ", which is not its key line";
        if (located >= end) message += " (a line of a later section)";
        // A save replaces the line a read finds, but never beyond GENERAL.
        if (located < end && std::u16string(key) != u"STROKE_DELAY") {
            message += "; saving the settings replaces this line";
        }
        ReportAt(located, message);
    }
    // The table the program starts with must exist.
    std::u16string table;
    int keytableLine = Locate(start, u"KEYTABLE");
    ExpectedRead(keytableLine, table);
    if (table.size() > 32) table.resize(32);
    if (!IsActiveLayoutName(table.c_str()) && FindHeader(table) < 0) {
        std::string message = "KEYTABLE names " + Quoted(table) + ", but no line contains " +
                              Quoted(u"[" + table + u"]") +
                              ": the program starts with an empty keyboard table";
        if (keytableLine >= 0) {
            ReportAt(keytableLine, "[GENERAL] " + message);
        } else {
            Report("[GENERAL] no KEYTABLE line, so " + message);
        }
    }
}

void Checker::ReportLayoutSection(const std::u16string& name) {
    const std::string message = "[" + ToUtf8(name) +
                                "] is not a table: that name chooses the active keyboard "
                                "layout, and the program never reads this section";
    const int start = FindHeader(name);
    if (start >= 0) {
        ReportAt(start, message);
    } else {
        Report(message);
    }
}

// A value the program reads but replaces by its default at the next Start
// (the rule is LoadGeneralSettings' own), or a stroke delay cut to 16 bits.
void Checker::CheckGeneralValue(const char16_t* key, int located) {
    std::u16string value;
    if (located < 0 || ExpectedRead(located, value) != 0 || value == kAbsentValue) return;
    const std::string label = "[GENERAL] " + ToUtf8(key) + " = " + Quoted(value);
    const GeneralValue taken = InterpretGeneralValue(key, value.c_str());
    const std::u16string name = key;
    if (name == u"STROKE_DELAY") {
        const std::int32_t number = platform::wtoi(value.c_str());
        if (number < 0 || number > 0xFFFF) {
            ReportAt(located, label + " is outside 0 to 65535: the program pauses " +
                                  std::to_string(taken.value) + " ms after every key event");
        }
        return;
    }
    if (!taken.defaulted || name == u"KEYTABLE") return;
    std::string allowed;
    if (name == u"COM") allowed = "one of the ports 1 to 10";
    if (name == u"BAUDRATE") allowed = "one of the rates the dialog offers";
    if (name == u"DATA") allowed = "5 to 8";
    if (name == u"PARITY") allowed = "NONE, ODD, EVEN, MARK or SPACE (letter case counts)";
    if (name == u"STOP") allowed = "1, 1.5 or 2";
    std::string used = std::to_string(taken.value);
    if (name == u"PARITY") used = ToUtf8(kParityTexts[taken.value]);
    if (name == u"STOP") used = ToUtf8(kStopBitsTexts[taken.value]);
    ReportAt(located, label + " is not " + allowed + ": the program uses " + used +
                          " and saves that at the next Start");
}

// Key codes that a keystroke cannot type: a modifier pressed and released
// alone, a lock, the Windows keys, or a code above 0xFF, of which only the
// low 8 bits are sent.
const char* UntypableKey(std::uint16_t virtualKey) {
    if (virtualKey > 0xFF) return "above 0xFF: only its low 8 bits are sent";
    switch (virtualKey) {
        case 0x10:
            return "Shift, a modifier: it types nothing";
        case 0x11:
            return "Control, a modifier: it types nothing";
        case 0x12:
            return "Alt, a modifier: it types nothing";
        case 0x14:
            return "Caps Lock: it switches the lock and types nothing";
        case 0x5B:
        case 0x5C:
            return "a Windows key: it opens the Start menu";
        default:
            return nullptr;
    }
}

// "2–4, 7, 11–64"
std::string ByteRanges(const std::vector<int>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t j = i;
        while (j + 1 < bytes.size() && bytes[j + 1] == bytes[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(bytes[i]);
        if (j > i) text += "\u2013" + std::to_string(bytes[j]);
        i = j + 1;
    }
    return text;
}

void Checker::CheckKeyboardSection(const std::u16string& name) {
    const std::string label = "[" + ToUtf8(name) + "] ";
    int start = FindHeader(name);
    if (start < 0) {
        Report(label + "no line contains " + Quoted(u"[" + name + u"]") +
               ": loading this table changes nothing");
        return;
    }
    std::u16string header;
    if (!IsHeader(start, header) || header != name) {
        ReportAt(start, label + "the section starts at this line " + Quoted(Text(start)) +
                            ", the first that contains its header text");
    }
    int end = BodyEnd(start, name);
    // Headers of this section after the one it starts at add nothing: their
    // lines are read as part of the first.
    bool seenHeader = IsHeader(start, header) && header == name;
    for (int i = start + 1; i < size(); ++i) {
        if (!IsHeader(i, header) || header != name) continue;
        if (seenHeader) {
            ReportAt(i, label +
                            "a second header of this section: the program never starts "
                            "the section here");
        }
        seenHeader = true;
    }

    // The entries as the engine loads them, from an empty table and from one
    // whose every entry is a value no load can produce (Shift and AltGr both
    // set): an entry still holding it was left undefined, one with both flags
    // and a new key kept the earlier flags.
    const KeyTableEntry marker{1, 1, 0xFFFF};
    KeyTableEntry zero[kKeyTableSize] = {};
    KeyTableEntry marked[kKeyTableSize];
    std::fill(marked, marked + kKeyTableSize, marker);
    KeyTableEntry loaded[kKeyTableSize];
    KeyTableEntry overMarked[kKeyTableSize];
    LoadTableFrom(zero, {name}, loaded);
    LoadTableFrom(marked, {name}, overMarked);

    std::vector<int> located(kKeyTableSize);
    std::set<int> read;
    for (int n = 0; n < kKeyTableSize; ++n) {
        std::u16string key = Decimal(n);
        located[n] = Locate(start, key.c_str());
        CompareWithEngine(name, key.c_str(), located[n]);
        if (located[n] >= 0) read.insert(located[n]);
    }

    // Bytes no line names, one finding per effect: a table with most bytes
    // missing gives a few lines, not hundreds.
    std::map<std::string, std::vector<int>> notFound;
    for (int n = 0; n < kKeyTableSize; ++n) {
        const std::u16string key = Decimal(n);
        const std::string byte = label + "byte " + std::to_string(n);
        const int at = located[n];
        const bool undefined = SameEntry(overMarked[n], marker);
        const bool keptFlags = !undefined && overMarked[n].shift == 1 && overMarked[n].altGr == 1;
        std::string effect = undefined   ? "it keeps the entry of a table loaded before"
                             : keptFlags ? "it keeps the Shift/AltGr of a table loaded before"
                             : loaded[n].virtualKey == 0 ? "it types nothing"
                                                         : "it types " + DescribeKey(loaded[n]);
        if (at < 0) {
            notFound[effect].push_back(n);
            continue;
        }
        const int own = OwnLine(start, end, key);
        if (at != own) {
            std::string message = byte + " is read from this line " + Quoted(Text(at));
            message += own >= 0
                           ? ", not from its key line " + std::to_string(file_.pieces[own].line)
                           : ", which is not its key line";
            if (at >= end) message += " (a line of a later section)";
            ReportAt(at, message + "; " + effect);
            continue;
        }
        std::u16string value;
        const bool valueFound = ExpectedRead(at, value) == 0;
        if (undefined || keptFlags) {
            std::string why = !valueFound             ? "the line has no value"
                              : value == kAbsentValue ? "the value ERROR counts as absent"
                              : value[0] == u','      ? "the value starts with \",\""
                              : keptFlags             ? "nothing follows the \",\""
                                                      : "the line gives no value";
            ReportAt(at, byte + ": " + why + ", so " + effect);
            continue;
        }
        std::size_t comma = value.find(u',');
        std::u16string number = value.substr(0, comma);
        bool noKeyWord = comma == std::u16string::npos && Trimmed(number) == u"none";
        if (!IsHexText(number) && !noKeyWord) {
            ReportAt(at,
                     byte + ": the value " + Quoted(number) + " is not a hex number; " + effect);
        }
        if (comma != std::u16string::npos) {
            char16_t rest[kSettingTextCapacity];
            platform::StrCopy(rest, kSettingTextCapacity, value.c_str());
            TrimSettingValue(rest, u',');
            char16_t first = rest[0];
            if (first != u's' && first != u'S' && first != u'a' && first != u'A') {
                ReportAt(at, byte + ": unknown modifier " + Quoted(rest) +
                                 " (not Shift or AltGr), so " + effect);
            }
        }
        if (const char* why = UntypableKey(loaded[n].virtualKey)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(loaded[n].virtualKey));
            ReportAt(at, byte + ": key " + code + " is " + why);
        }
    }
    for (const auto& [effect, bytes] : notFound) {
        if (bytes.size() == 1) {
            Report(label + "byte " + std::to_string(bytes[0]) +
                   ": no line after the header contains \"" + std::to_string(bytes[0]) + "\", so " +
                   effect);
            continue;
        }
        std::string they = effect;
        if (they.rfind("it keeps", 0) == 0) they = "they keep" + they.substr(8);
        if (they.rfind("it types", 0) == 0) they = "they type" + they.substr(8);
        Report(label + "bytes " + ByteRanges(bytes) +
               ": no line after the header contains their number, so " + they);
    }

    for (int i = start + 1; i < end; ++i) {
        std::u16string key;
        if (IsHeader(i, header)) continue;
        if (KeyOf(i, key)) {
            if (read.count(i) != 0) continue;
            int n = ByteValueOf(key);
            std::string why = n < 0             ? Quoted(key) + " is not a byte value 0 to 255"
                              : located[n] >= 0 ? "byte " + std::to_string(n) + " is read from " +
                                                      Where(located[n])
                                                : "byte " + std::to_string(n) + " is not found";
            ReportAt(i, label + "key line " + Quoted(Text(i)) + " is never read (" + why + ")");
        } else if (!IsBlankLine(i) && !IsCommentLine(i)) {
            bool inComment = platform::StrChr(Text(i), u'=') != nullptr;
            ReportAt(i, label + "line without \"=\"" +
                            (inComment ? std::string(" (its \"=\" is inside the comment)") : "") +
                            ": " + Quoted(Text(i)));
        }
    }
}

}  // namespace

int RunCheck(const ToolArgs& args, ToolOutput& io) {
    if (args.empty()) return UsageError(io, "check needs FILE [SECTION...]");
    const std::u16string& path = args[0];
    if (!SetSettingsPath(path, io)) return kUsageError;
    IniFile file = ReadIniFile(path);
    if (!file.opened) {
        Note(io, "cannot open " + ToUtf8(path) + "; the program would run with defaults only");
        return 1;
    }
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    Checker checker(path, file, io);
    std::vector<std::u16string> offered = checker.CheckSectionList();
    std::vector<std::u16string> sections(args.begin() + 1, args.end());
    // A file checked as a whole must have GENERAL; named sections alone may
    // be a table meant to be pasted into one.
    checker.CheckGeneral(sections.empty());
    if (sections.empty()) sections = offered;
    std::size_t tables = 0;
    for (const std::u16string& section : sections) {
        // GENERAL is no keyboard table; its keys are checked above.
        if (section == u"GENERAL") continue;
        if (IsActiveLayoutName(section.c_str())) {
            checker.ReportLayoutSection(section);
            continue;
        }
        checker.CheckKeyboardSection(section);
        ++tables;
    }
    if (checker.disagreed()) return kInternalError;
    if (checker.findings() == 0) {
        Note(io, ToUtf8(path) +
                     ": nothing found (keyboard sections checked: " + std::to_string(tables) + ")");
        return 0;
    }
    return 1;
}
