// `check`: finds every place where the program would read a settings file
// differently from how it looks. Keys are found by containment anywhere in a
// line and the search runs past the next section, so a table that looks right
// can type the wrong keys; this shows each such line before a user does.
//
// The file is streamed, never held: every lookup the program makes is "the
// first piece after the section's first header that contains this text", so
// remembering, per section and per key, the first piece that matched is all a
// lookup needs, and memory stays a few pieces per key whatever the file's
// size. The matching is the engine's own (LineHasHeader, LineHasKey,
// TakeKeysFoundIn, TakeSettingValue, ApplyKeyValue), and every value found is
// compared with what ReadSettingValue itself returns, so this tool cannot
// quietly drift from the program.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "keymap/active_layout.h"
#include "keymap/key_table.h"
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

std::u16string_view ViewOf(const char16_t* text) {
    std::u16string_view v(text);
    if (!v.empty() && v.back() == u'\n') v.remove_suffix(1);
    return v;
}

bool IsHeaderText(const char16_t* text, std::u16string& name) {
    std::u16string_view v = ViewOf(text);
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

bool IsCommentText(const char16_t* text) {
    std::u16string t = Trimmed(ViewOf(text));
    return !t.empty() && t[0] == u'#';
}

bool IsBlankText(const char16_t* text) {
    return Trimmed(ViewOf(text)).empty();
}

// A key line as a person reads it: KEY = VALUE, with the "=" before any comment.
bool KeyOfText(const char16_t* text, std::u16string& key) {
    if (IsCommentText(text)) return false;
    std::u16string_view v = ViewOf(text);
    std::size_t eq = v.find(u'=');
    std::size_t hash = v.find(u'#');
    if (eq == std::u16string_view::npos || (hash != std::u16string_view::npos && hash < eq)) {
        return false;
    }
    key = Trimmed(v.substr(0, eq));
    return true;
}

// A piece of spaces and line ends only: it holds no header, key or number,
// so no lookup can stop at it and no tracker needs to see it. Most pieces of
// a large file are like that.
bool IsBlankPiece(const char16_t* text) {
    for (; *text != 0; ++text)
        if (!IsBlankChar(*text)) return false;
    return true;
}

bool Contains(const char16_t* text, const char16_t* needle) {
    return platform::StrStr(text, needle) != nullptr;
}

// A piece kept for the messages about it, once a lookup has stopped there.
struct Kept {
    std::u16string text;
    int line = 0;
    int part = 0;

    std::string Label() const { return LineLabel(line, part); }
    bool Is(int otherLine, int otherPart) const { return line == otherLine && part == otherPart; }
};

// A piece as the pass hands it to each tracker.
struct Piece {
    const char16_t* text;
    int line;
    int part;

    std::string Label() const { return LineLabel(line, part); }
};

Kept KeepPiece(const Piece& piece) {
    return {piece.text, piece.line, piece.part};
}

// What ReadSettingValue hands back when its search stops at `located` (null:
// nowhere), with the capacity every caller in the program passes.
int ExpectedRead(const Kept* located, std::u16string& value) {
    value = kAbsentValue;
    if (located == nullptr) return 1;
    char16_t line[kTextCapacity];
    platform::StrCopy(line, kTextCapacity, located->text.c_str());
    if (!TakeSettingValue(line)) return 1;
    value = line;
    return 0;
}

// Findings kept until their turn: the output lists them by kind and section,
// not in the order the pass meets them.
struct Findings {
    std::string text;
    int count = 0;

    void Add(const std::string& message) {
        text += message;
        text += '\n';
        ++count;
    }
    void AddAt(const std::string& where, const std::string& message) {
        Add(where + ": " + message);
    }
};

// One section as every lookup into it sees the file: where it starts, where
// its own lines end, and for each byte value the first piece after the start
// that contains its number (the table load's and every read's answer).
class SectionTracker {
  public:
    SectionTracker(std::u16string name, bool headerOnly)
        : name_(std::move(name)), headerOnly_(headerOnly) {
        // A header text that does not fit the engine's buffer is never found.
        headerFits_ = BuildSectionHeader(header_, name_.c_str());
        std::fill(std::begin(at_), std::end(at_), -1);
    }

    void NeedBytes() { headerOnly_ = false; }
    bool HeaderOnly() const { return headerOnly_; }
    // Whether `text` holds this section's header text.
    bool IsStartedBy(const char16_t* text) const {
        return headerFits_ && LineHasHeader(text, header_);
    }
    bool Started() const { return started_; }
    const Kept& Start() const { return start_; }
    void Feed(const Piece& piece);
    // Appends this section's findings in their order.
    void Report(const std::u16string& path, Findings& out, bool& disagreed, ToolOutput& io) const;

  private:
    std::string Label() const { return "[" + ToUtf8(name_) + "] "; }

    struct Read {
        Kept piece;
        bool valueFound = false;
        std::u16string value;
        KeyTableEntry loaded{};      // over an empty entry
        KeyTableEntry overMarked{};  // over the marker entry
        bool afterEnd = false;       // the piece lies past the section's own lines
    };

    std::u16string name_;
    bool headerOnly_;
    bool headerFits_ = false;
    char16_t header_[kTextCapacity];
    bool started_ = false;
    Kept start_;
    bool seenHeader_ = false;
    bool ended_ = false;
    Findings heads_;  // where the section starts, and its later headers
    Findings body_;   // its own lines that no lookup reads or that lack "="
    bool settled_[kKeyTableSize] = {};
    int unsettled_ = kKeyTableSize;
    int at_[kKeyTableSize];  // index into reads_, -1 when no piece has the number
    int ownLine_[kKeyTableSize] = {};
    int ownPart_[kKeyTableSize] = {};
    std::vector<Read> reads_;  // at most one per byte value
};

// An entry no load can produce (Shift and AltGr both set): an entry still
// holding it was left undefined, one with both flags and a new key kept the
// earlier flags.
constexpr KeyTableEntry kMarker{1, 1, 0xFFFF};

void SectionTracker::Feed(const Piece& piece) {
    const char16_t* text = piece.text;
    if (!started_) {
        if (!headerFits_ || !LineHasHeader(text, header_)) return;
        started_ = true;
        start_ = KeepPiece(piece);
        std::u16string h;
        seenHeader_ = IsHeaderText(text, h) && h == name_;
        if (!seenHeader_) {
            heads_.AddAt(start_.Label(), Label() + "the section starts at this line " +
                                             Quoted(text) +
                                             ", the first that contains its header text");
        }
        return;
    }
    if (headerOnly_) return;
    std::u16string h;
    const bool isHeader = IsHeaderText(text, h);
    if (isHeader && h == name_) {
        // Headers of this section after the one it starts at add nothing:
        // their lines are read as part of the first.
        if (seenHeader_) {
            heads_.AddAt(piece.Label(),
                         Label() +
                             "a second header of this section: the program never starts "
                             "the section here");
        }
        seenHeader_ = true;
    }
    if (!ended_ && isHeader && h != name_) ended_ = true;

    std::uint8_t keys[kKeyTableSize];
    const int count = unsettled_ > 0 ? TakeKeysFoundIn(text, settled_, keys) : 0;
    if (count > 0) {
        unsettled_ -= count;
        Read read;
        read.piece = KeepPiece(piece);
        read.valueFound = ExpectedRead(&read.piece, read.value) == 0;
        read.afterEnd = ended_;
        // What LoadKeyTable makes of the value, as it applies it to each byte.
        char16_t scratch[kTextCapacity];
        read.loaded = KeyTableEntry{};
        platform::StrCopy(scratch, kTextCapacity, read.value.c_str());
        ApplyKeyValue(read.loaded, scratch);
        read.overMarked = kMarker;
        platform::StrCopy(scratch, kTextCapacity, read.value.c_str());
        ApplyKeyValue(read.overMarked, scratch);
        reads_.push_back(std::move(read));
        for (int i = 0; i < count; ++i) at_[keys[i]] = static_cast<int>(reads_.size()) - 1;
    }
    if (ended_) return;

    std::u16string key;
    if (KeyOfText(text, key)) {
        const int n = ByteValueOf(key);
        if (n >= 0 && ownLine_[n] == 0) {
            ownLine_[n] = piece.line;
            ownPart_[n] = piece.part;
        }
        if (isHeader || count > 0) return;
        const std::string why = n < 0 ? Quoted(key) + " is not a byte value 0 to 255"
                                : at_[n] >= 0
                                    ? "byte " + std::to_string(n) + " is read from " +
                                          reads_[static_cast<std::size_t>(at_[n])].piece.Label()
                                    : "byte " + std::to_string(n) + " is not found";
        body_.AddAt(piece.Label(),
                    Label() + "key line " + Quoted(text) + " is never read (" + why + ")");
    } else if (!isHeader && !IsBlankText(text) && !IsCommentText(text)) {
        const bool inComment = platform::StrChr(text, u'=') != nullptr;
        body_.AddAt(piece.Label(),
                    Label() + "line without \"=\"" +
                        (inComment ? std::string(" (its \"=\" is inside the comment)") : "") +
                        ": " + Quoted(text));
    }
}

// Whether ReadSettingValue finds what this tool found; a lookup that found
// nothing is not asked again, as that read would run through the whole file.
bool AgreesWithEngine(const std::u16string& path, const std::u16string& section,
                      const char16_t* key, const Kept& located, ToolOutput& io) {
    std::u16string expected;
    const int expectedResult = ExpectedRead(&located, expected);
    char16_t actual[kTextCapacity];
    const int result = ReadSettingValue(section.c_str(), key, kAbsentValue, actual,
                                        kTextCapacity, path.c_str());
    if (result == expectedResult && expected == actual) return true;
    Note(io, "internal error: for [" + ToUtf8(section) + "] " + ToUtf8(key) + " this tool reads " +
                 located.Label() + " giving " + Quoted(expected) + ", the engine gives " +
                 Quoted(actual));
    return false;
}

void SectionTracker::Report(const std::u16string& path, Findings& out, bool& disagreed,
                            ToolOutput& io) const {
    const std::string label = "[" + ToUtf8(name_) + "] ";
    if (!started_) {
        out.Add(label + "no line contains " + Quoted(u"[" + name_ + u"]") +
                ": loading this table changes nothing");
        return;
    }
    out.text += heads_.text;
    out.count += heads_.count;

    // Bytes no line names, one finding per effect: a table with most bytes
    // missing gives a few lines, not hundreds.
    std::map<std::string, std::vector<int>> notFound;
    for (int n = 0; n < kKeyTableSize; ++n) {
        const std::u16string key = Decimal(n);
        const std::string byte = label + "byte " + std::to_string(n);
        const Read* read = at_[n] >= 0 ? &reads_[static_cast<std::size_t>(at_[n])] : nullptr;
        const KeyTableEntry loaded = read != nullptr ? read->loaded : KeyTableEntry{};
        const KeyTableEntry overMarked = read != nullptr ? read->overMarked : kMarker;
        const bool undefined = SameEntry(overMarked, kMarker);
        const bool keptFlags = !undefined && overMarked.shift == 1 && overMarked.altGr == 1;
        std::string effect = undefined   ? "it keeps the entry of a table loaded before"
                             : keptFlags ? "it keeps the Shift/AltGr of a table loaded before"
                             : loaded.virtualKey == 0 ? "it types nothing"
                                                      : "it types " + DescribeKey(loaded);
        if (read == nullptr) {
            notFound[effect].push_back(n);
            continue;
        }
        const Kept& at = read->piece;
        if (!AgreesWithEngine(path, name_, key.c_str(), at, io)) disagreed = true;
        const bool hasOwn = ownLine_[n] != 0;
        if (!hasOwn || !at.Is(ownLine_[n], ownPart_[n])) {
            std::string message = byte + " is read from this line " + Quoted(at.text);
            message += hasOwn ? ", not from its key line " + std::to_string(ownLine_[n])
                              : ", which is not its key line";
            if (read->afterEnd) message += " (a line of a later section)";
            out.AddAt(at.Label(), message + "; " + effect);
            continue;
        }
        const std::u16string& value = read->value;
        if (undefined || keptFlags) {
            std::string why = !read->valueFound       ? "the line has no value"
                              : value == kAbsentValue ? "the value ERROR counts as absent"
                              : value[0] == u','      ? "the value starts with \",\""
                              : keptFlags             ? "nothing follows the \",\""
                                                      : "the line gives no value";
            out.AddAt(at.Label(), byte + ": " + why + ", so " + effect);
            continue;
        }
        std::size_t comma = value.find(u',');
        std::u16string number = value.substr(0, comma);
        bool noKeyWord = comma == std::u16string::npos && Trimmed(number) == u"none";
        if (!IsHexText(number) && !noKeyWord) {
            out.AddAt(at.Label(),
                      byte + ": the value " + Quoted(number) + " is not a hex number; " + effect);
        }
        if (comma != std::u16string::npos) {
            char16_t rest[kTextCapacity];
            platform::StrCopy(rest, kTextCapacity, value.c_str());
            TrimSettingValue(rest, u',');
            char16_t first = rest[0];
            if (first != u's' && first != u'S' && first != u'a' && first != u'A') {
                out.AddAt(at.Label(), byte + ": unknown modifier " + Quoted(rest) +
                                          " (not Shift or AltGr), so " + effect);
            }
        }
        if (const char* why = UntypableKey(loaded.virtualKey)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(loaded.virtualKey));
            out.AddAt(at.Label(), byte + ": key " + code + " is " + why);
        }
    }
    for (const auto& [effect, bytes] : notFound) {
        if (bytes.size() == 1) {
            out.Add(label + "byte " + std::to_string(bytes[0]) +
                    ": no line after the header contains \"" + std::to_string(bytes[0]) +
                    "\", so " + effect);
            continue;
        }
        std::string they = effect;
        if (they.rfind("it keeps", 0) == 0) they = "they keep" + they.substr(8);
        if (they.rfind("it types", 0) == 0) they = "they type" + they.substr(8);
        out.Add(label + "bytes " + ByteRanges(bytes) +
                ": no line after the header contains their number, so " + they);
    }
    out.text += body_.text;
    out.count += body_.count;
}

// The lines the section list takes for names, and what it makes of them.
class SectionList {
  public:
    void Feed(const Piece& piece);
    const std::vector<std::u16string>& Offered() const { return offered_; }
    Findings findings;

  private:
    std::vector<std::u16string> offered_;
    int listed_ = 0;
};

void SectionList::Feed(const Piece& piece) {
    const char16_t* text = piece.text;
    if (!Contains(text, u"[")) return;
    const std::string where = piece.Label();
    std::u16string header;
    const bool isHeader = IsHeaderText(text, header);
    // The name exactly as the section list cuts it out of the line; a line
    // with "[" is left out only for containing GENERAL.
    char16_t line[kTextCapacity];
    platform::StrCopy(line, kTextCapacity, text);
    if (!TakeListedSectionName(line)) {
        if (isHeader && header != u"GENERAL") {
            findings.AddAt(where, "section " + Quoted(header) +
                                      " is not offered: its header line contains GENERAL");
        }
        return;
    }
    std::u16string name = line;
    ++listed_;
    if (listed_ > kMaxSettingSections) {
        findings.AddAt(where, "more than ten sections: the program lists only the first ten, so " +
                                  Quoted(name) + " is never offered");
        return;
    }
    if (!isHeader) {
        findings.AddAt(where,
                       "this line contains \"[\", so the section list takes it for a section "
                       "named " +
                           Quoted(name));
    }
    if (name.size() > 32) {
        findings.AddAt(where,
                       "section name " + Quoted(name) +
                           " is longer than 32 characters: it is listed cut and cannot be loaded");
    } else if (!name.empty() &&
               std::find(offered_.begin(), offered_.end(), name) == offered_.end()) {
        offered_.push_back(name);
    }
}

// GENERAL as the program's general reads see it: each key's value is the
// first piece after the header that contains the key's name.
class GeneralTracker {
  public:
    GeneralTracker() { BuildSectionHeader(header_, u"GENERAL"); }
    void Feed(const Piece& piece);
    bool Started() const { return started_; }
    // The piece KEYTABLE is read from, or null.
    const Kept* KeytableLine() const {
        const Key& k = keys_[std::size(kGeneralKeys) - 1];
        return k.located ? &k.at : nullptr;
    }
    void Report(const std::u16string& path, Findings& out, bool& disagreed, ToolOutput& io) const;

  private:
    struct Key {
        bool located = false;
        Kept at;
        bool afterEnd = false;
        int ownLine = 0;
        int ownPart = 0;
    };
    void ReportValue(const char16_t* key, const Kept& located, Findings& out) const;

    char16_t header_[kTextCapacity];
    bool started_ = false;
    bool ended_ = false;
    Key keys_[std::size(kGeneralKeys)];
};

void GeneralTracker::Feed(const Piece& piece) {
    const char16_t* text = piece.text;
    if (!started_) {
        started_ = LineHasHeader(text, header_);
        return;
    }
    std::u16string h;
    if (!ended_ && IsHeaderText(text, h) && h != u"GENERAL") ended_ = true;
    std::u16string own;
    const bool hasKey = !ended_ && KeyOfText(text, own);
    for (std::size_t i = 0; i < std::size(kGeneralKeys); ++i) {
        Key& k = keys_[i];
        if (!k.located && LineHasKey(text, kGeneralKeys[i])) {
            k.located = true;
            k.at = KeepPiece(piece);
            k.afterEnd = ended_;
        }
        if (hasKey && k.ownLine == 0 && own == kGeneralKeys[i]) {
            k.ownLine = piece.line;
            k.ownPart = piece.part;
        }
    }
}

void GeneralTracker::Report(const std::u16string& path, Findings& out, bool& disagreed,
                            ToolOutput& io) const {
    for (std::size_t i = 0; i < std::size(kGeneralKeys); ++i) {
        const char16_t* key = kGeneralKeys[i];
        const Key& k = keys_[i];
        if (!k.located) continue;
        if (!AgreesWithEngine(path, u"GENERAL", key, k.at, io)) disagreed = true;
        ReportValue(key, k.at, out);
        const bool hasOwn = k.ownLine != 0;
        if (hasOwn && k.at.Is(k.ownLine, k.ownPart)) continue;
        std::string message =
            "[GENERAL] " + ToUtf8(key) + " is read from this line " + Quoted(k.at.text);
        message += hasOwn ? ", not from its key line " + std::to_string(k.ownLine)
                          : ", which is not its key line";
        if (k.afterEnd) message += " (a line of a later section)";
        // A save replaces the line a read finds, but never beyond GENERAL.
        if (!k.afterEnd && std::u16string(key) != u"STROKE_DELAY") {
            message += "; saving the settings replaces this line";
        }
        out.AddAt(k.at.Label(), message);
    }
}

// A value the program reads but replaces by its default at the next Start
// (the rule is LoadGeneralSettings' own), or a stroke delay cut to 16 bits.
void GeneralTracker::ReportValue(const char16_t* key, const Kept& located, Findings& out) const {
    std::u16string value;
    if (ExpectedRead(&located, value) != 0 || value == kAbsentValue) return;
    const std::string label = "[GENERAL] " + ToUtf8(key) + " = " + Quoted(value);
    const GeneralValue taken = InterpretGeneralValue(key, value.c_str());
    const std::u16string name = key;
    if (name == u"STROKE_DELAY") {
        const std::int32_t number = platform::wtoi(value.c_str());
        if (number < 0 || number > 0xFFFF) {
            out.AddAt(located.Label(), label + " is outside 0 to 65535: the program pauses " +
                                           std::to_string(taken.value) +
                                           " ms after every key event");
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
    out.AddAt(located.Label(), label + " is not " + allowed + ": the program uses " + used +
                                   " and saves that at the next Start");
}

// The sections the pass follows. A section is usually named (offered by the
// list, or by KEYTABLE) partway through the file; following it from there is
// exact when no piece before can hold its header, and the pieces that could
// (those with "[") are kept, up to a limit, to tell. A section for which that
// cannot be told is followed by a second pass from the start.
class Sections {
  public:
    // Follows `name` from the start of the file (a section named on the
    // command line, or one left for the second pass).
    SectionTracker* FromStart(const std::u16string& name, bool headerOnly) {
        auto& slot = trackers_[name];
        // One the pass still feeds stays alive; the name now means the new one.
        if (slot) retired_.push_back(std::move(slot));
        slot = std::make_unique<SectionTracker>(name, headerOnly);
        return slot.get();
    }

    // Follows `name` from the current piece, or from the start in the second
    // pass when a piece before this one may hold its header.
    void FromHere(const std::u16string& name, bool headerOnly) {
        auto found = trackers_.find(name);
        if (found != trackers_.end()) {
            SectionTracker& tracker = *found->second;
            if (headerOnly || !tracker.HeaderOnly()) return;
            // Nothing after the header was missed while there was none.
            if (!tracker.Started()) {
                tracker.NeedBytes();
                return;
            }
        }
        SectionTracker* tracker = FromStart(name, headerOnly);
        bool earlier = overflowed_;
        for (const Kept& kept : bracketed_)
            earlier = earlier || tracker->IsStartedBy(kept.text.c_str());
        (earlier ? later_ : now_).push_back(tracker);
    }

    void Feed(const Piece& piece) {
        for (SectionTracker* tracker : now_) tracker->Feed(piece);
        if (platform::StrChr(piece.text, u'[') == nullptr) return;
        if (bracketed_.size() < kKeptBracketed) {
            bracketed_.push_back(KeepPiece(piece));
        } else {
            overflowed_ = true;
        }
    }

    // The trackers the first pass could not follow, now over the whole file.
    bool SecondPass(const std::u16string& path) {
        if (later_.empty()) return true;
        IniPieceReader reader;
        if (!reader.Open(path)) return false;
        while (reader.Next()) {
            if (IsBlankPiece(reader.Text())) continue;
            const Piece piece{reader.Text(), reader.Line(), reader.Part()};
            for (SectionTracker* tracker : later_) tracker->Feed(piece);
        }
        return true;
    }

    const SectionTracker& At(const std::u16string& name) const { return *trackers_.at(name); }
    void AddToFirstPass(SectionTracker* tracker) { now_.push_back(tracker); }

  private:
    static constexpr std::size_t kKeptBracketed = 64;
    std::map<std::u16string, std::unique_ptr<SectionTracker>> trackers_;
    std::vector<std::unique_ptr<SectionTracker>> retired_;
    std::vector<SectionTracker*> now_;
    std::vector<SectionTracker*> later_;
    std::vector<Kept> bracketed_;
    bool overflowed_ = false;
};

}  // namespace

int RunCheck(const ToolArgs& args, ToolOutput& io) {
    if (args.empty()) return UsageError(io, "check needs FILE [SECTION...]");
    const std::u16string& path = args[0];
    if (!SetSettingsPath(path, io)) return kUsageError;
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    std::vector<std::u16string> sections(args.begin() + 1, args.end());
    const bool wholeFile = sections.empty();

    Sections tracked;
    for (const std::u16string& section : sections) {
        // GENERAL is no keyboard table; its keys are checked on their own.
        if (section == u"GENERAL") continue;
        tracked.AddToFirstPass(tracked.FromStart(section, IsActiveLayoutName(section.c_str())));
    }
    SectionList list;
    GeneralTracker general;
    IniPieceReader reader;
    if (!reader.Open(path)) {
        Note(io, "cannot open " + ToUtf8(path) + "; the program would run with defaults only");
        return 1;
    }
    // The table the program starts with must exist: KEYTABLE's value, as the
    // general settings cut it.
    std::u16string table;
    bool tableNamed = false;
    auto nameTable = [&]() {
        tableNamed = true;
        ExpectedRead(general.KeytableLine(), table);
        if (table.size() > 32) table.resize(32);
        if (!IsActiveLayoutName(table.c_str())) tracked.FromHere(table, true);
    };
    while (reader.Next()) {
        if (IsBlankPiece(reader.Text())) continue;
        const Piece piece{reader.Text(), reader.Line(), reader.Part()};
        const std::size_t offered = list.Offered().size();
        list.Feed(piece);
        if (wholeFile) {
            for (std::size_t i = offered; i < list.Offered().size(); ++i) {
                const std::u16string& name = list.Offered()[i];
                if (name != u"GENERAL") tracked.FromHere(name, IsActiveLayoutName(name.c_str()));
            }
        }
        general.Feed(piece);
        if (!tableNamed && general.KeytableLine() != nullptr) nameTable();
        tracked.Feed(piece);
    }
    // No KEYTABLE line: the program reads "ERROR", and looks for that section.
    if (general.Started() && !tableNamed) nameTable();
    reader.Close();
    if (!tracked.SecondPass(path)) {
        Note(io, "cannot open " + ToUtf8(path) + " again");
        return 1;
    }
    if (wholeFile) sections = list.Offered();

    Findings out = std::move(list.findings);
    bool disagreed = false;
    if (!general.Started()) {
        // A file checked as a whole must have GENERAL; named sections alone
        // may be a table meant to be pasted into one.
        if (wholeFile) {
            out.Add(
                "no line contains \"[GENERAL]\": every general setting takes its default and "
                "KEYTABLE reads as \"ERROR\", so the program loads no keyboard table");
        }
    } else {
        general.Report(path, out, disagreed, io);
        if (!IsActiveLayoutName(table.c_str()) && !tracked.At(table).Started()) {
            std::string message = "KEYTABLE names " + Quoted(table) + ", but no line contains " +
                                  Quoted(u"[" + table + u"]") +
                                  ": the program starts with an empty keyboard table";
            if (const Kept* keytableLine = general.KeytableLine()) {
                out.AddAt(keytableLine->Label(), "[GENERAL] " + message);
            } else {
                out.Add("[GENERAL] no KEYTABLE line, so " + message);
            }
        }
    }
    std::size_t tables = 0;
    for (const std::u16string& section : sections) {
        if (section == u"GENERAL") continue;
        const SectionTracker& tracker = tracked.At(section);
        if (IsActiveLayoutName(section.c_str())) {
            // A section named like the active keyboard layout, which no load reads.
            const std::string message = "[" + ToUtf8(section) +
                                        "] is not a table: that name chooses the active "
                                        "keyboard layout, and the program never reads this "
                                        "section";
            if (tracker.Started()) {
                out.AddAt(tracker.Start().Label(), message);
            } else {
                out.Add(message);
            }
            continue;
        }
        tracker.Report(path, out, disagreed, io);
        ++tables;
    }
    io.out += out.text;
    if (disagreed) return kInternalError;
    if (out.count == 0) {
        Note(io, ToUtf8(path) +
                     ": nothing found (keyboard sections checked: " + std::to_string(tables) + ")");
        return 0;
    }
    return 1;
}
