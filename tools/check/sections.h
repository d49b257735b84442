// The keyboard sections the check follows. A section is usually named (offered
// by the list, or by KEYTABLE) partway through the file; following it from
// there is exact when no piece before can hold its header, and the pieces that
// could (those with "[") are kept, up to a limit, to tell. A section for which
// that cannot be told is followed by a second pass from the start.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/check/pieces.h"
#include "tools/check/section_tracker.h"

namespace check {

class Sections {
  public:
    // Follows `name` from the start of the file (a section named on the
    // command line, or one left for the second pass).
    SectionTracker* FromStart(const std::u16string& name, bool headerOnly);
    // Follows `name` from the current piece, or from the start in the second
    // pass when a piece before this one may hold its header.
    void FromHere(const std::u16string& name, bool headerOnly);
    void Feed(const Piece& piece);
    // The trackers the first pass could not follow, now over the whole file;
    // false when the file cannot be opened again.
    bool SecondPass(const std::u16string& path);

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

}  // namespace check
