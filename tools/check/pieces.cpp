// The engine's answer for a piece, and the tool's agreement with it: every
// value the check reports on is one the program really reads.
#include "tools/check/pieces.h"

#include <algorithm>

#include "platform/text.h"
#include "settings/settings_file.h"
#include "tools/text_conversion.h"

namespace check {
namespace {

constexpr std::size_t kHeldBytes = 1024 * 1024;

}  // namespace

void Findings::Take(std::string_view text) {
    if (io_ != nullptr) {
        io_->out += text;
        FlushOut(*io_);
        return;
    }
    held_ += text;
    if (held_.size() < kHeldBytes || cannotSpill_) return;
    if (!spilled_) spilled_.reset(std::tmpfile());
    std::FILE* file = spilled_.get();
    if (file == nullptr || std::fwrite(held_.data(), 1, held_.size(), file) != held_.size() ||
        std::fflush(file) != 0) {
        // What the file took before stays good; the rest stays here.
        cannotSpill_ = true;
        return;
    }
    spilledBytes_ += held_.size();
    held_.clear();
}

void Findings::Append(const Findings& more) {
    if (std::FILE* file = more.spilled_.get()) {
        std::rewind(file);
        char chunk[65536];
        for (std::size_t left = more.spilledBytes_; left > 0;) {
            const std::size_t n = std::fread(chunk, 1, std::min(left, sizeof chunk), file);
            if (n == 0) break;
            Take({chunk, n});
            left -= n;
        }
        // Writing may follow reading only after a seek.
        std::fseek(file, 0, SEEK_END);
    }
    Take(more.held_);
    count += more.count;
}

int ExpectedRead(const Kept* located, std::u16string& value) {
    value = kAbsentValue;
    if (located == nullptr) return 1;
    char16_t line[kTextCapacity];
    platform::StrCopy(line, kTextCapacity, located->text.c_str());
    if (!TakeSettingValue(line)) return 1;
    value = line;
    return 0;
}

bool AgreesWithEngine(const std::u16string& path, const std::u16string& section,
                      const char16_t* key, const Kept& located, ToolOutput& io) {
    std::u16string expected;
    const int expectedResult = ExpectedRead(&located, expected);
    char16_t actual[kTextCapacity];
    const int result =
        ReadSettingValue(section.c_str(), key, kAbsentValue, actual, kTextCapacity, path.c_str());
    if (result == expectedResult && expected == actual) return true;
    Note(io, "internal error: for [" + ToUtf8(section) + "] " + ToUtf8(key) + " this tool reads " +
                 located.Label() + " giving " + Quoted(expected) + ", the engine gives " +
                 Quoted(actual));
    return false;
}

}  // namespace check
