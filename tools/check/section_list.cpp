// The section list as ListSettingSections builds it, line by line, with a
// finding for each line a person would read otherwise.
#include "tools/check/section_list.h"

#include <algorithm>

#include "platform/codes.h"
#include "platform/text.h"
#include "settings/settings_file.h"
#include "tools/check/line_reading.h"

namespace check {

void SectionList::Feed(const Piece& piece) {
    const char16_t* text = piece.text;
    if (platform::StrStr(text, u"[") == nullptr) return;
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
    if (name.size() > static_cast<std::size_t>(platform::kSectionNameLength)) {
        findings.AddAt(where, "section name " + Quoted(name) + " is longer than " +
                                  std::to_string(platform::kSectionNameLength) +
                                  " characters: it is listed cut and cannot be loaded");
    } else if (!name.empty() &&
               std::find(offered_.begin(), offered_.end(), name) == offered_.end()) {
        offered_.push_back(name);
    }
}

}  // namespace check
