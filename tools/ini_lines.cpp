// Reads a settings file through the engine's own reader, so that pieces, line
// ends and undecodable bytes come out exactly as the program's lookups see them.
#include "tools/ini_lines.h"

#include "settings/text_file.h"
#include "tools/text_conversion.h"

bool IniPieceReader::Open(const std::u16string& path) {
    line_ = part_ = 0;
    return reader_.Open(path.c_str());
}

bool IniPieceReader::Next() {
    if (!reader_.Next()) return false;
    if (reader_.StartsLine()) {
        ++line_;
        part_ = 0;
    } else {
        ++part_;
    }
    return true;
}

std::string LineLabel(int line, int part) {
    std::string label = "line " + std::to_string(line);
    if (part > 0) label += ", part " + std::to_string(part + 1);
    return label;
}

std::string Quoted(std::u16string_view text) {
    if (!text.empty() && text.back() == u'\n') text.remove_suffix(1);
    std::u16string shown;
    for (char16_t c : text) {
        if (c == 0) break;  // the engine's texts end at a null character
        if (c < 0x20 || c == 0x7F) {
            static const char16_t hex[] = u"0123456789ABCDEF";
            shown += u"\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        } else {
            shown += c;
        }
    }
    std::string quoted = "\"";
    quoted += ToUtf8(shown);
    quoted += '"';
    return quoted;
}
