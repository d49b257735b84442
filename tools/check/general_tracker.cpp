// The general settings as the check sees them: the line each key is read
// from, and a value the load would replace by its default.
#include "tools/check/general_tracker.h"

#include "keymap/scan_text.h"
#include "platform/text.h"
#include "settings/settings_file.h"
#include "tools/check/line_reading.h"
#include "tools/text_conversion.h"

namespace check {
namespace {

constexpr char16_t kGeneral[] = u"GENERAL";

}  // namespace

const char* AcceptedValues(GeneralKey id) {
    switch (id) {
        case GeneralKey::kCom:
            return "a port from 1 to 256";
        case GeneralKey::kBaudRate:
            return "one of the rates the dialog offers";
        case GeneralKey::kData:
            return "5 to 8";
        case GeneralKey::kParity:
            return "NONE, ODD, EVEN, MARK or SPACE (letter case counts)";
        case GeneralKey::kStop:
            return "1, 1.5 or 2";
        case GeneralKey::kScanAim:
            return "KEEP or STRIP";
        case GeneralKey::kSendMode:
            return "KEYS, UNICODE or SCANCODES (letter case counts)";
        default:
            break;
    }
    return "";
}

GeneralTracker::GeneralTracker() {
    BuildSectionHeader(header_, kGeneral);
}

const Kept* GeneralTracker::KeytableLine() const {
    const Key& k = keys_[static_cast<std::size_t>(GeneralKey::kKeyTable)];
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
    for (std::size_t i = 0; i < std::size(kGeneralSettings); ++i) {
        const char16_t* name = kGeneralSettings[i].key;
        Key& k = keys_[i];
        if (!k.located && LineHasKey(text, name)) {
            k.located = true;
            k.at = KeepPiece(piece);
            k.afterEnd = ended_;
        }
        // The program's own rule, so that both name the same lines.
        if (!ended_ && k.ownLine == 0 && IsOwnKeyLine(text, name)) {
            k.ownLine = piece.line;
            k.ownPart = piece.part;
        }
    }
}

void GeneralTracker::Report(const std::u16string& path, Findings& out, bool& disagreed,
                            ToolOutput& io) const {
    for (std::size_t i = 0; i < std::size(kGeneralSettings); ++i) {
        const GeneralSetting& setting = kGeneralSettings[i];
        const Key& k = keys_[i];
        if (!k.located) continue;
        if (!AgreesWithEngine(path, kGeneral, setting.key, k.at, io)) disagreed = true;
        ReportValue(setting, k.at, out);
        const bool hasOwn = k.ownLine != 0;
        if (hasOwn && k.at.Is(k.ownLine, k.ownPart)) continue;
        std::string message =
            "[GENERAL] " + ToUtf8(setting.key) + " is read from this line " + Quoted(k.at.text);
        message += hasOwn ? ", not from its key line " + std::to_string(k.ownLine)
                          : ", which is not its key line";
        if (k.afterEnd) message += " (a line of a later section)";
        // A save replaces the line a read finds, but never beyond GENERAL.
        if (!k.afterEnd && setting.save != GeneralSave::kNever) {
            message += "; saving the settings replaces this line";
        }
        out.AddAt(k.at.Label(), message);
    }
}

// A value the program reads but replaces by its default at the next Start
// (the rule is the load's own), or a stroke delay cut to 16 bits.
void GeneralTracker::ReportValue(const GeneralSetting& setting, const Kept& located,
                                 Findings& out) const {
    std::u16string value;
    if (ExpectedRead(&located, value) != 0 || value == kAbsentValue) return;
    const std::string label = "[GENERAL] " + ToUtf8(setting.key) + " = " + Quoted(value);
    if (setting.rule == GeneralRule::kScanText || setting.rule == GeneralRule::kScanReplace) {
        // Fixed storage: a check can meet any number of values.
        static ScanReplacement parsed;
        ScanTextError error;
        const bool ok = setting.rule == GeneralRule::kScanText
                            ? ParseScanText(value.c_str(), parsed.to, error)
                            : ParseScanReplacement(value.c_str(), parsed, error);
        if (!ok) {
            out.AddAt(located.Label(), label + " at character " + std::to_string(error.column) +
                                           ": " + error.reason +
                                           "; the program ignores this setting");
        }
        return;
    }
    const GeneralValue taken = InterpretGeneralValue(setting, value.c_str());
    if (setting.rule == GeneralRule::kAnyNumber) {
        const std::int32_t number = platform::wtoi(value.c_str());
        if (number < 0 || number > 0xFFFF) {
            out.AddAt(located.Label(), label + " is outside 0 to 65535: the program pauses " +
                                           std::to_string(taken.value) +
                                           " ms after every key event");
        }
        return;
    }
    if (!taken.defaulted) return;
    if (setting.save == GeneralSave::kNever) {
        // Only the file sets it, so nothing is saved over the wrong value.
        out.AddAt(located.Label(), label + " is not " + AcceptedValues(setting.id) +
                                       ": the program uses " +
                                       ToUtf8(setting.choices[taken.value]));
        return;
    }
    char16_t buffer[kTextCapacity];
    const char16_t* used = GeneralValueText(setting, taken.value, buffer);
    if (used == nullptr && setting.rule == GeneralRule::kListPosition &&
        taken.value < setting.choiceCount)
        used = setting.choices[taken.value];
    // A key the program never writes keeps its line as it is.
    const char* kept =
        setting.save == GeneralSave::kNever ? "" : " and saves that at the next Start";
    out.AddAt(located.Label(), label + " is not " + AcceptedValues(setting.id) +
                                   ": the program uses " + ToUtf8(used != nullptr ? used : u"") +
                                   kept);
}

}  // namespace check
