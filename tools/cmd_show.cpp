// `show`: the table a section really gives, in human terms, so that a table
// can be proof-read against the keyboard it is meant for.
#include <cstdio>

#include "keymap/key_table.h"
#include "tools/commands.h"
#include "tools/cp1252.h"
#include "tools/engine_bridge.h"
#include "tools/ini_lines.h"
#include "tools/key_names.h"
#include "tools/text_conversion.h"

int RunShow(const ToolArgs& args, ToolOutput& io) {
    if (args.size() != 2) return UsageError(io, "show needs FILE SECTION");
    if (!SetSettingsPath(args[0], io)) return kUsageError;
    IniFile file = ReadIniFile(args[0]);
    if (!file.opened) Note(io, "cannot open " + ToUtf8(args[0]) + "; the table stays empty");
    KeyTableEntry zero[kKeyTableSize] = {};
    KeyTableEntry table[kKeyTableSize];
    LoadTableFrom(zero, {args[1]}, table);
    int keys = 0;
    for (int n = 0; n < kKeyTableSize; ++n) {
        if (table[n].virtualKey == 0) continue;
        char head[32];
        std::snprintf(head, sizeof head, "%3d 0x%02X ", n, static_cast<unsigned>(n));
        std::string character = ByteCharacterName(static_cast<std::uint8_t>(n));
        // Pad by characters, not bytes, so the key column lines up.
        std::size_t width = 0;
        for (unsigned char c : character) width += (c & 0xC0) != 0x80 ? 1 : 0;
        character.append(width < 12 ? 12 - width : 1, ' ');
        io.out += head + character + DescribeKey(table[n]) + "\n";
        ++keys;
    }
    if (keys == 0) Note(io, "section '" + ToUtf8(args[1]) + "' gives no byte a key");
    return 0;
}
