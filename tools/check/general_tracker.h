// GENERAL as the program's general reads see it: each key's value is the
// first piece after the header that contains the key's name.
#pragma once

#include <iterator>
#include <string>

#include "settings/general_settings.h"
#include "tools/check/pieces.h"
#include "tools/tool_output.h"

namespace check {

// What a GENERAL key accepts, in the words of a message about a value it
// rejects ("KEEP or STRIP"); empty for a key that takes any text.
const char* AcceptedValues(GeneralKey id);

class GeneralTracker {
  public:
    GeneralTracker();
    void Feed(const Piece& piece);
    bool Started() const { return started_; }
    // The piece KEYTABLE is read from, or null.
    const Kept* KeytableLine() const;
    void Report(const std::u16string& path, Findings& out, bool& disagreed, ToolOutput& io) const;

  private:
    struct Key {
        bool located = false;
        Kept at;
        bool afterEnd = false;
        int ownLine = 0;
        int ownPart = 0;
    };
    void ReportValue(const GeneralSetting& setting, const Kept& located, Findings& out) const;

    char16_t header_[kTextCapacity];
    bool started_ = false;
    bool ended_ = false;
    Key keys_[std::size(kGeneralSettings)];
};

}  // namespace check
