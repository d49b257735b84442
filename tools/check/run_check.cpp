// `check`: finds every place where the program would read a settings file
// differently from how it looks. Keys are found by containment anywhere in a
// line and the search runs past the next section, so a table that looks right
// can type the wrong keys; this shows each such line before a user does.
//
// The file is streamed, never held: every lookup the program makes is "the
// first piece after the section's first header that contains this text", so
// remembering, per section and per key, the first piece that matched is all a
// lookup needs, and memory stays a few pieces per key whatever the file's
// size. The matching is the engine's own (LineHasHeader, LineHasKey,
// TakeKeysFoundIn, TakeSettingValue, ApplyKeyValue), and every value found is
// compared with what ReadSettingValue itself returns, so this tool cannot
// quietly drift from the program. Nor is the report held: findings wait for
// their turn in bounded memory (pieces.h) and go out as the report is made.
#include "keymap/active_layout.h"
#include "platform/codes.h"
#include "settings/general_settings.h"
#include "settings/text_file.h"
#include "tools/check/general_tracker.h"
#include "tools/check/line_reading.h"
#include "tools/check/section_list.h"
#include "tools/check/sections.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/text_conversion.h"

namespace check {
namespace {

// Everything one check follows through the file.
struct Check {
    std::u16string path;
    std::vector<std::u16string> sections;  // the keyboard sections to report on
    bool wholeFile = false;
    Sections tracked;
    SectionList list;
    GeneralTracker general;
    // Lines the program reads in more than one piece: reported last, so that
    // files without any keep their report as it was.
    Findings longLines;
    // The table the program starts with, which must exist: KEYTABLE's value,
    // as the general settings cut it.
    std::u16string table;
    bool tableNamed = false;

    void NameTable() {
        tableNamed = true;
        ExpectedRead(general.KeytableLine(), table);
        if (table.size() > static_cast<std::size_t>(platform::kSectionNameLength))
            table.resize(platform::kSectionNameLength);
        if (!IsActiveLayoutName(table.c_str())) tracked.FromHere(table, true);
    }

    void Feed(const Piece& piece) {
        const std::size_t offered = list.Offered().size();
        list.Feed(piece);
        if (wholeFile) {
            for (std::size_t i = offered; i < list.Offered().size(); ++i) {
                const std::u16string& name = list.Offered()[i];
                if (name != u"GENERAL") tracked.FromHere(name, IsActiveLayoutName(name.c_str()));
            }
        }
        general.Feed(piece);
        if (!tableNamed && general.KeytableLine() != nullptr) NameTable();
        tracked.Feed(piece);
    }
};

// Both passes over the file; false (with a note) when it cannot be read.
bool FollowFile(Check& check, ToolOutput& io) {
    IniPieceReader reader;
    if (!reader.Open(check.path)) {
        Note(io,
             "cannot open " + ToUtf8(check.path) + "; the program would run with defaults only");
        return false;
    }
    while (reader.Next()) {
        const char16_t* text = reader.Text();
        // The second piece of a line, unless it is only the line's end.
        if (reader.Part() == 1 && text[0] != 0 && text[0] != u'\n') {
            check.longLines.AddAt(
                LineLabel(reader.Line(), 0),
                "longer than the " + std::to_string(settings_text::kPieceUnits) +
                    " characters the program reads of a line at once: it reads the rest as "
                    "lines of their own, so a value there is cut and the rest may be taken for "
                    "other keys");
        }
        if (IsBlankPiece(text)) continue;
        check.Feed({reader.Text(), reader.Line(), reader.Part()});
    }
    // No KEYTABLE line: the program reads "ERROR", and looks for that section.
    if (check.general.Started() && !check.tableNamed) check.NameTable();
    reader.Close();
    if (!check.tracked.SecondPass(check.path)) {
        Note(io, "cannot open " + ToUtf8(check.path) + " again");
        return false;
    }
    if (check.wholeFile) check.sections = check.list.Offered();
    return true;
}

void ReportGeneral(const Check& check, Findings& out, bool& disagreed, ToolOutput& io) {
    if (!check.general.Started()) {
        // A file checked as a whole must have GENERAL; named sections alone
        // may be a table meant to be pasted into one.
        if (check.wholeFile) {
            out.Add(
                "no line contains \"[GENERAL]\": every general setting takes its default and "
                "KEYTABLE reads as \"ERROR\", so the program loads no keyboard table");
        }
        return;
    }
    check.general.Report(check.path, out, disagreed, io);
    const std::u16string& table = check.table;
    if (IsActiveLayoutName(table.c_str()) || check.tracked.At(table).Started()) return;
    std::string message = "KEYTABLE names " + Quoted(table) + ", but no line contains " +
                          Quoted(u"[" + table + u"]") +
                          ": the program starts with an empty keyboard table";
    if (const Kept* keytableLine = check.general.KeytableLine()) {
        out.AddAt(keytableLine->Label(), "[GENERAL] " + message);
    } else {
        out.Add("[GENERAL] no KEYTABLE line, so " + message);
    }
}

// Returns how many keyboard tables were reported on.
std::size_t ReportTables(const Check& check, Findings& out, bool& disagreed, ToolOutput& io) {
    std::size_t tables = 0;
    for (const std::u16string& section : check.sections) {
        if (section == u"GENERAL") continue;
        const SectionTracker& tracker = check.tracked.At(section);
        if (IsActiveLayoutName(section.c_str())) {
            // A section named like the active keyboard layout, which no load reads.
            const std::string message = "[" + ToUtf8(section) +
                                        "] is not a table: that name chooses the active "
                                        "keyboard layout, and the program never reads this "
                                        "section";
            if (tracker.Started()) {
                out.AddAt(tracker.Start().Label(), message);
            } else {
                out.Add(message);
            }
            continue;
        }
        tracker.Report(check.path, out, disagreed, io);
        ++tables;
    }
    return tables;
}

}  // namespace
}  // namespace check

int RunCheck(const ToolArgs& args, ToolOutput& io) {
    using namespace check;
    if (args.empty()) return UsageError(io, "check needs FILE [SECTION...]");
    Check check;
    check.path = args[0];
    if (!SetSettingsPath(check.path, io)) return kUsageError;
    if (IsUnfitFile(check.path, io)) return kUsageError;
    if (IsFolderNotFile(check.path, io)) return 1;
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    check.sections.assign(args.begin() + 1, args.end());
    check.wholeFile = check.sections.empty();
    for (const std::u16string& section : check.sections) {
        // GENERAL is no keyboard table; its keys are checked on their own.
        if (section == u"GENERAL") continue;
        check.tracked.AddToFirstPass(
            check.tracked.FromStart(section, IsActiveLayoutName(section.c_str())));
    }
    if (!FollowFile(check, io)) return 1;

    // From here on nothing stops the report, so it goes out as it is made.
    Findings out(io);
    out.Append(check.list.findings);
    bool disagreed = false;
    ReportGeneral(check, out, disagreed, io);
    const std::size_t tables = ReportTables(check, out, disagreed, io);
    out.Append(check.longLines);
    if (disagreed) return kInternalError;
    if (out.count == 0) {
        Note(io, ToUtf8(check.path) +
                     ": nothing found (keyboard sections checked: " + std::to_string(tables) + ")");
        return 0;
    }
    return 1;
}
