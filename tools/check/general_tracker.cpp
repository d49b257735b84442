// The general settings as the check sees them: the line each key is read
// from, and a value the load would replace by its default.
#include "tools/check/general_tracker.h"

#include "platform/text.h"
#include "settings/settings_file.h"
#include "tools/check/line_reading.h"
#include "tools/text_conversion.h"

namespace check {
namespace {

constexpr char16_t kGeneral[] = u"GENERAL";

}  // namespace

GeneralTracker::GeneralTracker() {
    BuildSectionHeader(header_, kGeneral);
}

const Kept* GeneralTracker::KeytableLine() const {
    const Key& k = keys_[std::size(kGeneralKeys) - 1];
    return k.located ? &k.at : nullptr;
}

void GeneralTracker::Feed(const Piece& piece) {
    const char16_t* text = piece.text;
    if (!started_) {
        started_ = LineHasHeader(text, header_);
        return;
    }
    std::u16string h;
    if (!ended_ && IsHeaderText(text, h) && h != kGeneral) ended_ = true;
    std::u16string own;
    const bool hasKey = !ended_ && KeyOfText(text, own);
    for (std::size_t i = 0; i < std::size(kGeneralKeys); ++i) {
        const char16_t* name = kGeneralKeys[i];
        Key& k = keys_[i];
        if (!k.located && LineHasKey(text, name)) {
            k.located = true;
            k.at = KeepPiece(piece);
            k.afterEnd = ended_;
        }
        if (hasKey && k.ownLine == 0 && own == name) {
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
        if (!AgreesWithEngine(path, kGeneral, key, k.at, io)) disagreed = true;
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

}  // namespace check
