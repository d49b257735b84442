// `generate`: writes a complete keyboard section from a list of characters
// and the keys that type them. The program takes byte n from the first line
// after the header that contains the digits of n anywhere, so the lines are
// ordered such that no line before n's own contains those digits; every byte
// gets a line, so no earlier table can leak through.
//
// List format, one character a line (blank lines and lines starting with "#"
// are skipped):   CHARACTER  KEY  [shift|altgr]
//   CHARACTER  the character itself ("a", "é", "€"), U+XXXX, or 0xHH for a raw byte value
//   KEY        a virtual-key name (VK_A, VK_OEM_1, VK_RETURN), a hex code 0xHH, or "none"
#include <algorithm>
#include <cstdio>
#include <queue>

#include "keymap/cp1252.h"
#include "platform/services.h"
#include "platform/text.h"
#include "tools/commands.h"
#include "tools/key_names.h"
#include "tools/text_conversion.h"

namespace {

enum class Modifier { kNone, kShift, kAltGr };

struct Assignment {
    std::uint16_t virtualKey = 0;
    Modifier modifier = Modifier::kNone;
    int listLine = 0;  // 0: not in the list
};

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool ParseHex(std::string_view digits, std::uint32_t limit, std::uint32_t& value) {
    if (digits.empty() || digits.size() > 6) return false;
    value = 0;
    for (char c : digits) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return false;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value <= limit;
}

// The byte a CHARACTER token stands for, or an error text.
int ParseCharacter(std::string_view token, std::string& error) {
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        std::uint32_t byte;
        if (ParseHex(token.substr(2), 0xFF, byte)) return static_cast<int>(byte);
        error = "'" + std::string(token) + "' is not a byte value 0x00 to 0xFF";
        return -1;
    }
    char32_t character = 0;
    if (token.size() > 2 && (token[0] == 'U' || token[0] == 'u') && token[1] == '+') {
        std::uint32_t code;
        if (!ParseHex(token.substr(2), 0x10FFFF, code)) {
            error = "'" + std::string(token) + "' is not a character code";
            return -1;
        }
        character = code;
    } else {
        std::u16string units = FromUtf8(token);
        bool pair = units.size() == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF;
        if (units.size() != 1 && !pair) {
            error = "'" + std::string(token) +
                    "' is not one character (write U+XXXX or 0xHH for a byte value)";
            return -1;
        }
        character = pair ? 0x10000 + ((units[0] - 0xD800u) << 10) + (units[1] - 0xDC00u) : units[0];
    }
    int byte = Cp1252FromUnicode(character);
    if (byte < 0) error = "'" + std::string(token) + "' has no byte in Windows-1252";
    return byte;
}

bool ParseKey(std::string_view token, std::uint16_t& key, std::string& error) {
    if (Lower(token) == "none") {
        key = 0;
        return true;
    }
    std::uint32_t code;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        if (ParseHex(token.substr(2), 0xFF, code)) {
            key = static_cast<std::uint16_t>(code);
            return true;
        }
        error = "'" + std::string(token) + "' is not a virtual-key code 0x00 to 0xFF";
        return false;
    }
    std::string upper(token);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    key = VirtualKeyFromName(upper);
    if (key == 0) error = "'" + std::string(token) + "' is not a virtual-key name or 0xHH code";
    return key != 0;
}

// A line of the list as the parse needs it: its first tokens and how many
// there are. A line is never held whole, so a list of any size, or a line of
// any length, is read in bounded memory.
struct ListLine {
    int number = 0;
    std::vector<std::string> tokens;  // the first three
    std::size_t count = 0;
};

// Cuts the list's bytes into lines of tokens as they arrive: lines end at LF,
// a CR before the LF is dropped, tokens are separated by spaces and tabs, a
// byte-order mark at the start is skipped, and a line whose first token starts
// with "#" is skipped whole.
class ListTokenizer {
  public:
    template <class Take>
    void Feed(std::string_view bytes, Take&& take) {
        if (!checkedMark_) {
            // The mark is only known once three bytes (or the end) are in.
            start_.append(bytes);
            if (start_.size() < 3) return;
            FeedStart(take);
            return;
        }
        for (char c : bytes) FeedByte(c, take);
    }
    template <class Take>
    void Finish(Take&& take) {
        if (!checkedMark_) FeedStart(take);
        crPending_ = false;
        EndLine(take);
    }

  private:
    template <class Take>
    void FeedStart(Take& take) {
        checkedMark_ = true;
        std::string_view bytes(start_);
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        for (char c : bytes) FeedByte(c, take);
        start_.clear();
        start_.shrink_to_fit();
    }
    template <class Take>
    void FeedByte(char c, Take& take) {
        if (crPending_) {
            crPending_ = false;
            if (c == '\n') {
                EndLine(take);
                return;
            }
            TokenByte('\r');
        }
        if (c == '\n') {
            EndLine(take);
        } else if (c == '\r') {
            crPending_ = true;
        } else if (c == ' ' || c == '\t') {
            inToken_ = false;
        } else {
            TokenByte(c);
        }
    }
    void TokenByte(char c) {
        if (comment_) return;
        if (!inToken_) {
            inToken_ = true;
            if (line_.count == 0 && c == '#') comment_ = true;
            ++line_.count;
            if (line_.tokens.size() < 3) line_.tokens.emplace_back();
        }
        if (!comment_ && line_.count <= 3) line_.tokens.back() += c;
    }
    template <class Take>
    void EndLine(Take& take) {
        ++line_.number;
        if (line_.count > 0 && !comment_) take(line_);
        line_.tokens.clear();
        line_.count = 0;
        inToken_ = false;
        comment_ = false;
    }

    bool checkedMark_ = false;
    std::string start_;
    bool crPending_ = false;
    bool inToken_ = false;
    bool comment_ = false;
    ListLine line_;
};

// Takes one line of the list into the table; false (with a note) when it is wrong.
bool ParseListLine(const ListLine& line, Assignment (&table)[kKeyTableSize], ToolOutput& io) {
    const std::vector<std::string>& tokens = line.tokens;
    auto fail = [&](const std::string& message) {
        Note(io, "list line " + std::to_string(line.number) + ": " + message);
        // Nothing is on the output stream before the list is read whole.
        FlushErr(io);
        return false;
    };
    if (line.count < 2 || line.count > 3) return fail("expected CHARACTER KEY [shift|altgr]");
    std::string error;
    int byte = ParseCharacter(tokens[0], error);
    Assignment a;
    if (byte < 0 || !ParseKey(tokens[1], a.virtualKey, error)) return fail(error);
    if (tokens.size() == 3) {
        std::string modifier = Lower(tokens[2]);
        if (modifier == "shift") {
            a.modifier = Modifier::kShift;
        } else if (modifier == "altgr") {
            a.modifier = Modifier::kAltGr;
        } else {
            return fail("'" + tokens[2] + "' is not shift or altgr");
        }
    }
    if (table[byte].listLine != 0) {
        return fail("byte " + std::to_string(byte) + " is already given on list line " +
                    std::to_string(table[byte].listLine));
    }
    a.listLine = line.number;
    table[byte] = a;
    return true;
}

// A comment naming the character makes the table readable; it is left out
// where it would add digits (which other lookups would find) or a "["
// (which the section list would take for a section).
std::u16string CharacterComment(int byte) {
    char16_t c = Cp1252ToUnicode(static_cast<std::uint8_t>(byte));
    bool graphic = (byte > 0x20 && byte < 0x7F) || (byte >= 0x80 && byte != 0xA0 && byte != 0xAD);
    if (!graphic || c == 0 || (c >= u'0' && c <= u'9') || c == u'[') return {};
    return std::u16string(u"  # ") + c;
}

// The key code in hex as it is usually written ("41"), or, with `negated`, as
// a negative number whose low 16 bits are the same code ("-FFBF" for 41): the
// program keeps only the low 16 bits of what it parses, and the negated form
// often has no decimal digits where the usual one has some, which is what
// breaks a circle of lines that contain each other's numbers.
std::u16string KeyCode(std::uint16_t virtualKey, bool negated) {
    char hex[16];
    if (negated) {
        std::snprintf(hex, sizeof hex, "-%X", static_cast<unsigned>(0x10000u - virtualKey));
    } else {
        // No leading zero: a "0" would be found by the lookup of byte 0.
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(virtualKey));
    }
    return FromUtf8(hex);
}

std::u16string KeyLine(int byte, const Assignment& a, bool negated) {
    std::u16string line = Decimal(byte) + u" = ";
    if (a.virtualKey == 0) return line + u"none";
    line += KeyCode(a.virtualKey, negated);
    if (a.modifier == Modifier::kShift) line += u",Shift";
    if (a.modifier == Modifier::kAltGr) line += u",AltGr";
    return line + CharacterComment(byte);
}

// Orders the lines so that each byte's own line comes before every other line
// containing its digits: a line must follow the lines of all numbers found
// inside it. Among the lines free to go next the shortest number comes first,
// which keeps the table close to the familiar ascending order. Returns false
// when lines contain each other's numbers in a circle; `stuck` then lists them.
bool OrderLines(const std::vector<std::u16string>& lines, std::vector<int>& order,
                std::vector<int>& stuck) {
    const int count = static_cast<int>(lines.size());
    std::vector<std::vector<int>> after(count);
    std::vector<int> waitingFor(count, 0);
    for (int k = 0; k < count; ++k) {
        for (int n = 0; n < count; ++n) {
            if (n != k && platform::StrStr(lines[k].c_str(), Decimal(n).c_str()) != nullptr) {
                after[n].push_back(k);
                ++waitingFor[k];
            }
        }
    }
    auto later = [](int a, int b) {
        std::size_t la = Decimal(a).size();
        std::size_t lb = Decimal(b).size();
        return la != lb ? la > lb : a > b;
    };
    std::priority_queue<int, std::vector<int>, decltype(later)> ready(later);
    for (int k = 0; k < count; ++k) {
        if (waitingFor[k] == 0) ready.push(k);
    }
    order.clear();
    while (!ready.empty()) {
        int n = ready.top();
        ready.pop();
        order.push_back(n);
        for (int k : after[n]) {
            if (--waitingFor[k] == 0) ready.push(k);
        }
    }
    stuck.clear();
    for (int k = 0; k < count; ++k) {
        if (waitingFor[k] > 0) stuck.push_back(k);
    }
    return stuck.empty();
}

bool ValidSectionName(const std::u16string& name, std::string& why) {
    if (name.empty())
        why = "the section name is empty";
    else if (name.size() > static_cast<std::size_t>(platform::kSectionNameLength))
        why = "the section name is longer than " + std::to_string(platform::kSectionNameLength) +
              " characters";
    else if (name.find_first_of(u"[]#") != std::u16string::npos)
        why = "the section name contains '[', ']' or '#'";
    else if (name.find(u"GENERAL") != std::u16string::npos)
        why = "a section name containing GENERAL is never listed";
    else if (name.find(u'\n') != std::u16string::npos)
        why = "the section name contains a line feed";
    return why.empty();
}

// Raw bytes of a file, a chunk at a time, for the list; false when it cannot
// be read.
template <class Use>
bool ReadFileInChunks(const std::u16string& path, Use&& use) {
    platform::FileHandle file = platform::OpenFileForReading(path.c_str());
    if (file == platform::kInvalidFile) return false;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        std::int32_t n = platform::ReadFileBytes(file, chunk, sizeof chunk);
        if (n < 0) ok = false;
        if (n <= 0) break;
        use(std::string_view(chunk, static_cast<std::size_t>(n)));
    }
    platform::CloseFile(file);
    return ok;
}

// Reads the list, from standard input for "-", into the table as it arrives;
// false (with a note) when the file cannot be read or a line is wrong.
bool ReadList(const std::u16string& source, Assignment (&table)[kKeyTableSize], ToolOutput& io) {
    bool ok = true;
    ListTokenizer tokenizer;
    auto take = [&](const ListLine& line) { ok = ParseListLine(line, table, io) && ok; };
    auto use = [&](std::string_view bytes) { tokenizer.Feed(bytes, take); };
    if (source == u"-") {
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) use({chunk, n});
    } else if (!ReadFileInChunks(source, use)) {
        Note(io, "cannot read the list " + ToUtf8(source));
        return false;
    }
    tokenizer.Finish(take);
    return ok;
}

// Every byte's line, in an order where each is found by its own lookup; false
// (with a note) when lines contain each other's numbers in a circle.
bool OrderedLines(const Assignment (&table)[kKeyTableSize], std::vector<std::u16string>& lines,
                  std::vector<int>& order, ToolOutput& io) {
    std::vector<bool> negated(kKeyTableSize, false);
    for (int n = 0; n < kKeyTableSize; ++n) lines.push_back(KeyLine(n, table[n], false));
    std::vector<int> stuck;
    // Where lines hold each other's numbers in a circle, write the key codes
    // of the lines involved in the other form, one at a time, for as long as
    // that frees lines.
    for (bool progress = true; !OrderLines(lines, order, stuck) && progress;) {
        progress = false;
        const std::size_t before = stuck.size();
        for (int n : std::vector<int>(stuck)) {
            if (negated[n] || table[n].virtualKey == 0) continue;
            std::u16string usual = lines[n];
            lines[n] = KeyLine(n, table[n], true);
            std::vector<int> tryOrder;
            std::vector<int> tryStuck;
            OrderLines(lines, tryOrder, tryStuck);
            if (tryStuck.size() < before) {
                negated[n] = true;
                progress = true;
                break;
            }
            lines[n] = usual;
        }
    }
    if (stuck.empty()) return true;
    std::string names;
    for (int n : stuck) names += (names.empty() ? "" : ", ") + std::to_string(n);
    Note(io, "no order of lines lets every byte find its own line: the lines of bytes " + names +
                 " contain each other's numbers; give one of them another key");
    return false;
}

// The order is what makes the table work; proven before it is written out.
bool EachByteFindsItsLine(const std::vector<std::u16string>& lines, const std::vector<int>& order,
                          ToolOutput& io) {
    for (int n = 0; n < kKeyTableSize; ++n) {
        std::u16string key = Decimal(n);
        for (int k : order) {
            if (platform::StrStr(lines[k].c_str(), key.c_str()) == nullptr) continue;
            if (k != n) {
                Note(io, "internal error: byte " + std::to_string(n) +
                             " would be read from the "
                             "line of byte " +
                             std::to_string(k));
                return false;
            }
            break;
        }
    }
    return true;
}

}  // namespace

int RunGenerate(const ToolArgs& args, ToolOutput& io) {
    if (args.size() != 2) return UsageError(io, "generate needs SECTION LIST");
    std::string why;
    if (!ValidSectionName(args[0], why)) return UsageError(io, why);
    Assignment table[kKeyTableSize];
    if (!ReadList(args[1], table, io)) return 1;
    std::vector<std::u16string> lines;
    std::vector<int> order;
    if (!OrderedLines(table, lines, order, io)) return 1;
    if (!EachByteFindsItsLine(lines, order, io)) return kInternalError;
    io.out += "# Keyboard table written by quorvel-ini generate: every byte has its own line,\n";
    io.out += "# placed so that the program finds it first. Check edits with quorvel-ini check.\n";
    io.out += "[" + ToUtf8(args[0]) + "]\n";
    for (int k : order) io.out += ToUtf8(lines[k]) + "\n";
    return 0;
}
