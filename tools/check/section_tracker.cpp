// A keyboard section followed through the file: which piece each byte value
// is read from, and what the load makes of it, against what the section's
// own key lines say.
#include "tools/check/section_tracker.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/codes.h"
#include "platform/text.h"
#include "tools/check/line_reading.h"
#include "tools/key_names.h"
#include "tools/text_conversion.h"

namespace check {
namespace {

// An entry no load can produce (Shift and AltGr both set): an entry still
// holding it was left undefined, one with both flags and a new key kept the
// earlier flags.
constexpr KeyTableEntry kMarker{1, 1, 0xFFFF};

bool SameEntry(const KeyTableEntry& a, const KeyTableEntry& b) {
    return a.shift == b.shift && a.altGr == b.altGr && a.virtualKey == b.virtualKey;
}

// Key codes that a keystroke cannot type: a modifier pressed and released
// alone, a lock, the Windows keys, or a code above 0xFF, of which only the
// low 8 bits are sent.
const char* UntypableKey(std::uint16_t virtualKey) {
    if (virtualKey > 0xFF) return "above 0xFF: only its low 8 bits are sent";
    switch (virtualKey) {
        case platform::kVkShift:
            return "Shift, a modifier: it types nothing";
        case platform::kVkControl:
            return "Control, a modifier: it types nothing";
        case platform::kVkMenu:
            return "Alt, a modifier: it types nothing";
        case platform::kVkCapital:
            return "Caps Lock: it switches the lock and types nothing";
        case platform::kVkLWin:
        case platform::kVkRWin:
            return "a Windows key: it opens the Start menu";
        default:
            return nullptr;
    }
}

// What a key line's value leaves in a table entry that held `entry`, as
// LoadKeyTable applies it to each byte.
KeyTableEntry Applied(KeyTableEntry entry, const std::u16string& value) {
    char16_t scratch[kTextCapacity];
    platform::StrCopy(scratch, kTextCapacity, value.c_str());
    ApplyKeyValue(entry, scratch);
    return entry;
}

}  // namespace

SectionTracker::SectionTracker(std::u16string name, bool headerOnly)
    : name_(std::move(name)), headerOnly_(headerOnly) {
    // A header text that does not fit the engine's buffer is never found.
    headerFits_ = BuildSectionHeader(header_, name_.c_str());
    std::fill(std::begin(at_), std::end(at_), -1);
}

bool SectionTracker::IsStartedBy(const char16_t* text) const {
    return headerFits_ && LineHasHeader(text, header_);
}

std::string SectionTracker::Label() const {
    return "[" + ToUtf8(name_) + "] ";
}

void SectionTracker::Feed(const Piece& piece) {
    if (!started_) {
        FeedStart(piece);
        return;
    }
    if (headerOnly_) return;
    std::u16string h;
    const bool isHeader = IsHeaderText(piece.text, h);
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
    const int taken = TakeReads(piece);
    if (!ended_) CheckOwnLine(piece, isHeader, taken);
}

void SectionTracker::FeedStart(const Piece& piece) {
    if (!IsStartedBy(piece.text)) return;
    started_ = true;
    start_ = KeepPiece(piece);
    std::u16string h;
    seenHeader_ = IsHeaderText(piece.text, h) && h == name_;
    if (!seenHeader_) {
        heads_.AddAt(start_.Label(), Label() + "the section starts at this line " +
                                         Quoted(piece.text) +
                                         ", the first that contains its header text");
    }
}

// Makes the piece the read of every byte value it is the first to contain;
// returns how many it took.
int SectionTracker::TakeReads(const Piece& piece) {
    std::uint8_t keys[kKeyTableSize];
    const int count = unsettled_ > 0 ? TakeKeysFoundIn(piece.text, settled_, keys) : 0;
    if (count == 0) return 0;
    unsettled_ -= count;
    Read read;
    read.piece = KeepPiece(piece);
    read.valueFound = ExpectedRead(&read.piece, read.value) == 0;
    read.afterEnd = ended_;
    read.loaded = Applied(KeyTableEntry{}, read.value);
    read.overMarked = Applied(kMarker, read.value);
    reads_.push_back(std::move(read));
    for (int i = 0; i < count; ++i) at_[keys[i]] = static_cast<int>(reads_.size()) - 1;
    return count;
}

// A line of the section's own: where its byte's key line is, and whether a
// lookup reads it at all.
void SectionTracker::CheckOwnLine(const Piece& piece, bool isHeader, int taken) {
    const char16_t* text = piece.text;
    std::u16string key;
    if (KeyOfText(text, key)) {
        const int n = ByteValueOf(key);
        if (n >= 0 && ownLine_[n] == 0) {
            ownLine_[n] = piece.line;
            ownPart_[n] = piece.part;
        }
        if (isHeader || taken > 0) return;
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

const SectionTracker::Read* SectionTracker::ReadOf(int byte) const {
    return at_[byte] >= 0 ? &reads_[static_cast<std::size_t>(at_[byte])] : nullptr;
}

SectionTracker::Outcome SectionTracker::OutcomeOf(const Read* read) {
    Outcome o;
    o.loaded = read != nullptr ? read->loaded : KeyTableEntry{};
    const KeyTableEntry overMarked = read != nullptr ? read->overMarked : kMarker;
    o.undefined = SameEntry(overMarked, kMarker);
    o.keptFlags = !o.undefined && overMarked.shift == 1 && overMarked.altGr == 1;
    o.effect = o.undefined                ? "it keeps the entry of a table loaded before"
               : o.keptFlags              ? "it keeps the Shift/AltGr of a table loaded before"
               : o.loaded.virtualKey == 0 ? "it types nothing"
                                          : "it types " + DescribeKey(o.loaded);
    return o;
}

void SectionTracker::Report(const std::u16string& path, Findings& out, bool& disagreed,
                            ToolOutput& io) const {
    if (!started_) {
        out.Add(Label() + "no line contains " + Quoted(u"[" + name_ + u"]") +
                ": loading this table changes nothing");
        return;
    }
    out.Append(heads_);
    // Bytes no line names, one finding per effect: a table with most bytes
    // missing gives a few lines, not hundreds.
    std::map<std::string, std::vector<int>> notFound;
    for (int n = 0; n < kKeyTableSize; ++n) {
        const Read* read = ReadOf(n);
        Outcome outcome = OutcomeOf(read);
        if (read == nullptr) {
            notFound[outcome.effect].push_back(n);
            continue;
        }
        if (!AgreesWithEngine(path, name_, Decimal(n).c_str(), read->piece, io)) disagreed = true;
        ReportByte(n, *read, outcome, out);
    }
    for (const auto& [effect, bytes] : notFound) ReportNotFound(bytes, effect, out);
    out.Append(body_);
}

void SectionTracker::ReportByte(int byte, const Read& read, const Outcome& outcome,
                                Findings& out) const {
    const std::string name = Label() + "byte " + std::to_string(byte);
    const Kept& at = read.piece;
    const bool hasOwn = ownLine_[byte] != 0;
    if (!hasOwn || !at.Is(ownLine_[byte], ownPart_[byte])) {
        std::string message = name + " is read from this line " + Quoted(at.text);
        message += hasOwn ? ", not from its key line " + std::to_string(ownLine_[byte])
                          : ", which is not its key line";
        if (read.afterEnd) message += " (a line of a later section)";
        out.AddAt(at.Label(), message + "; " + outcome.effect);
        return;
    }
    if (outcome.undefined || outcome.keptFlags) {
        const std::u16string& value = read.value;
        std::string why = !read.valueFound        ? "the line has no value"
                          : value == kAbsentValue ? "the value ERROR counts as absent"
                          : value[0] == u','      ? "the value starts with \",\""
                          : outcome.keptFlags     ? "nothing follows the \",\""
                                                  : "the line gives no value";
        out.AddAt(at.Label(), name + ": " + why + ", so " + outcome.effect);
        return;
    }
    ReportKeyValue(name, read, outcome, out);
}

// The value of a byte's own key line, read as a person would write it: a hex
// key, a known modifier, a key that types something.
void SectionTracker::ReportKeyValue(const std::string& byte, const Read& read,
                                    const Outcome& outcome, Findings& out) const {
    const Kept& at = read.piece;
    const std::u16string& value = read.value;
    std::size_t comma = value.find(u',');
    std::u16string number = value.substr(0, comma);
    bool noKeyWord = comma == std::u16string::npos && Trimmed(number) == u"none";
    if (!IsHexText(number) && !noKeyWord) {
        out.AddAt(at.Label(), byte + ": the value " + Quoted(number) + " is not a hex number; " +
                                  outcome.effect);
    }
    if (comma != std::u16string::npos) {
        char16_t rest[kTextCapacity];
        platform::StrCopy(rest, kTextCapacity, value.c_str());
        TrimSettingValue(rest, u',');
        char16_t first = rest[0];
        if (first != u's' && first != u'S' && first != u'a' && first != u'A') {
            out.AddAt(at.Label(), byte + ": unknown modifier " + Quoted(rest) +
                                      " (not Shift or AltGr), so " + outcome.effect);
        }
    }
    if (const char* why = UntypableKey(outcome.loaded.virtualKey)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%02X",
                      static_cast<unsigned>(outcome.loaded.virtualKey));
        out.AddAt(at.Label(), byte + ": key " + code + " is " + why);
    }
}

void SectionTracker::ReportNotFound(const std::vector<int>& bytes, const std::string& effect,
                                    Findings& out) const {
    if (bytes.size() == 1) {
        out.Add(Label() + "byte " + std::to_string(bytes[0]) +
                ": no line after the header contains \"" + std::to_string(bytes[0]) + "\", so " +
                effect);
        return;
    }
    std::string they = effect;
    if (they.rfind("it keeps", 0) == 0) they = "they keep" + they.substr(8);
    if (they.rfind("it types", 0) == 0) they = "they type" + they.substr(8);
    out.Add(Label() + "bytes " + ByteRanges(bytes) +
            ": no line after the header contains their number, so " + they);
}

}  // namespace check
