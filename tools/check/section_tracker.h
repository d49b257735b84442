// One keyboard section as every lookup into it sees the file, followed piece
// by piece, and the findings about each of its byte values.
#pragma once

#include <string>
#include <vector>

#include "keymap/key_table.h"
#include "settings/settings_file.h"
#include "tools/check/pieces.h"
#include "tools/tool_output.h"

namespace check {

// Where the section starts, where its own lines end, and for each byte value
// the first piece after the start that contains its number (the table load's
// and every read's answer).
class SectionTracker {
  public:
    SectionTracker(std::u16string name, bool headerOnly);

    void NeedBytes() { headerOnly_ = false; }
    bool HeaderOnly() const { return headerOnly_; }
    // Whether `text` holds this section's header text.
    bool IsStartedBy(const char16_t* text) const;
    bool Started() const { return started_; }
    const Kept& Start() const { return start_; }
    void Feed(const Piece& piece);
    // Appends this section's findings in their order.
    void Report(const std::u16string& path, Findings& out, bool& disagreed, ToolOutput& io) const;

  private:
    struct Read {
        Kept piece;
        bool valueFound = false;
        std::u16string value;
        KeyTableEntry loaded{};      // over an empty entry
        KeyTableEntry overMarked{};  // over the marker entry
        bool afterEnd = false;       // the piece lies past the section's own lines
    };
    // What loading a byte's line leaves in its entry, in words.
    struct Outcome {
        KeyTableEntry loaded;
        bool undefined;  // the entry keeps whatever a table loaded before left
        bool keptFlags;  // a new key, but the earlier Shift/AltGr
        std::string effect;
    };

    std::string Label() const;
    void FeedStart(const Piece& piece);
    int TakeReads(const Piece& piece);
    void CheckOwnLine(const Piece& piece, bool isHeader, int taken);
    const Read* ReadOf(int byte) const;
    static Outcome OutcomeOf(const Read* read);
    void ReportByte(int byte, const Read& read, const Outcome& outcome, Findings& out) const;
    void ReportKeyValue(const std::string& byte, const Read& read, const Outcome& outcome,
                        Findings& out) const;
    void ReportNotFound(const std::vector<int>& bytes, const std::string& effect,
                        Findings& out) const;

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

}  // namespace check
