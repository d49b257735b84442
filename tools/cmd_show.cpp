// `show`: the table a section really gives, in human terms, so that a table
// can be proof-read against the keyboard it is meant for.
#include <cstdio>

#include "keymap/active_layout.h"
#include "keymap/key_table.h"
#include "tools/byte_names.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/ini_lines.h"
#include "tools/key_names.h"
#include "tools/text_conversion.h"

namespace {

// The byte's number and character, padded by characters (not bytes) so the
// next column lines up.
std::string ByteColumns(int n) {
    char head[32];
    std::snprintf(head, sizeof head, "%3d 0x%02X ", n, static_cast<unsigned>(n));
    std::string character = ByteCharacterName(static_cast<std::uint8_t>(n));
    std::size_t width = 0;
    for (unsigned char c : character) width += (c & 0xC0) != 0x80 ? 1 : 0;
    character.append(width < 12 ? 12 - width : 1, ' ');
    return head + character;
}

std::string DescribeStroke(const KeyStroke& stroke) {
    return DescribeKey({stroke.shift, stroke.altGr, stroke.virtualKey});
}

// What every byte types on the layout of the focused window, and how.
int ShowActiveLayout(ToolOutput& io) {
    const platform::KeyboardLayout layout = ActiveKeyboardLayout();
    if (layout == 0)
        Note(io, "no keyboard layout is known here: every character would go as itself");
    const LayoutPlans& plans = PlansForLayout(layout);
    int counts[4] = {};
    for (int n = 0; n < kKeyTableSize; ++n) {
        const KeystrokePlan& plan = plans.plans[n];
        ++counts[static_cast<int>(plan.kind)];
        switch (plan.kind) {
            case PlanKind::kNothing:
                continue;
            case PlanKind::kKey:
                io.out += ByteColumns(n) + DescribeStroke(plan.key) + "\n";
                break;
            case PlanKind::kDeadKey:
                io.out += ByteColumns(n) + "dead key " + DescribeStroke(plan.dead) + ", then " +
                          DescribeStroke(plan.key) + "\n";
                break;
            case PlanKind::kCharacter: {
                char code[16];
                std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(plan.character));
                io.out += ByteColumns(n) + "the character itself " + code + "\n";
                break;
            }
        }
    }
    char summary[160];
    std::snprintf(summary, sizeof summary,
                  "layout %08llX: %d bytes by one key, %d by a dead key, %d as the character "
                  "itself, %d type nothing",
                  static_cast<unsigned long long>(layout), counts[1], counts[2], counts[3],
                  counts[0]);
    io.out += std::string(summary) + "\n";
    return 0;
}

}  // namespace

int RunShow(const ToolArgs& args, ToolOutput& io) {
    if (args.size() != 2) return UsageError(io, "show needs FILE SECTION");
    if (!SetSettingsPath(args[0], io)) return kUsageError;
    if (IsUnfitFile(args[0], io)) return kUsageError;
    if (IsActiveLayoutName(args[1].c_str())) return ShowActiveLayout(io);
    // Only whether it opens: the table is the engine's own load, and the
    // file is never held.
    IniPieceReader file;
    if (file.Open(args[0])) {
        file.Close();
    } else {
        Note(io, "cannot open " + ToUtf8(args[0]) + "; the table stays empty");
    }
    KeyTableEntry zero[kKeyTableSize] = {};
    KeyTableEntry table[kKeyTableSize];
    LoadTableFrom(zero, {args[1]}, table);
    int keys = 0;
    for (int n = 0; n < kKeyTableSize; ++n) {
        if (table[n].virtualKey == 0) continue;
        io.out += ByteColumns(n) + DescribeKey(table[n]) + "\n";
        ++keys;
    }
    if (keys == 0) Note(io, "section '" + ToUtf8(args[1]) + "' gives no byte a key");
    return 0;
}
