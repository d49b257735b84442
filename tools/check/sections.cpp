// Following each keyboard section from where it is named, in one pass over
// the file where that is exact and in a second one where it is not.
#include "tools/check/sections.h"

#include "platform/text.h"
#include "tools/check/line_reading.h"
#include "tools/ini_lines.h"

namespace check {

SectionTracker* Sections::FromStart(const std::u16string& name, bool headerOnly) {
    auto& slot = trackers_[name];
    // One the pass still feeds stays alive; the name now means the new one.
    if (slot) retired_.push_back(std::move(slot));
    slot = std::make_unique<SectionTracker>(name, headerOnly);
    return slot.get();
}

void Sections::FromHere(const std::u16string& name, bool headerOnly) {
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

void Sections::Feed(const Piece& piece) {
    for (SectionTracker* tracker : now_) tracker->Feed(piece);
    if (platform::StrChr(piece.text, u'[') == nullptr) return;
    if (bracketed_.size() < kKeptBracketed) {
        bracketed_.push_back(KeepPiece(piece));
    } else {
        overflowed_ = true;
    }
}

bool Sections::SecondPass(const std::u16string& path) {
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

}  // namespace check
