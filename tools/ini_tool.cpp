// Shared pieces of quorvel-ini: text conversion, the line reader, names of
// bytes and virtual keys, and the bridge to the engine's process-wide records.
#include "tools/ini_tool.h"

#include <cstdio>
#include <cstring>

#include "platform/services.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "settings/text_file.h"

std::string ToUtf8(std::u16string_view text) {
    std::u16string terminated(text);
    // A unit becomes at most three bytes (a pair of units at most four).
    std::string bytes(terminated.size() * 3 + 1, '\0');
    std::ptrdiff_t n = platform::EncodeUtf8(
        terminated.c_str(), reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string units(text.size() + 1, u'\0');
    std::ptrdiff_t n = platform::DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()),
                                            text.size(), units.data(), units.size());
    units.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return units;
}

std::u16string Decimal(int value) {
    char16_t text[16];
    platform::FormatDecimal(text, 16, value);
    return text;
}

void Note(ToolOutput& io, std::string_view message) {
    io.err += "quorvel-ini: ";
    io.err += message;
    io.err += '\n';
}

int UsageError(ToolOutput& io, std::string_view message) {
    Note(io, message);
    io.err += "Try 'quorvel-ini --help'.\n";
    return kUsageError;
}

namespace {

ToolOutput* engineMessages = nullptr;

// The engine reports only a failed replace of the settings file, with the
// decimal error code as its whole text.
void ReportEngineMessage(const char16_t* text) {
    std::string line =
        "quorvel-ini: the settings file could not be replaced: error " + ToUtf8(text) + "\n";
    if (engineMessages != nullptr) {
        engineMessages->err += line;
    } else {
        std::fputs(line.c_str(), stderr);
    }
}

}  // namespace

void RouteEngineMessagesTo(ToolOutput* io) {
    engineMessages = io;
    SetSettingsErrorReporter(&ReportEngineMessage);
}

bool ReadWholeFile(const std::u16string& path, std::string& bytes) {
    bytes.clear();
    platform::FileHandle file = platform::OpenFileForReading(path.c_str());
    if (file == platform::kInvalidFile) return false;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        std::int32_t n = platform::ReadFileBytes(file, chunk, sizeof chunk);
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    platform::CloseFile(file);
    return ok;
}

IniFile ReadIniFile(const std::u16string& path) {
    // The engine's own reader, so that pieces, line ends and undecodable bytes
    // come out exactly as the program's lookups see them.
    IniFile file;
    settings_text::TextFileReader reader;
    if (!reader.Open(path.c_str())) return file;
    file.opened = true;
    int line = 0;
    int part = 0;
    while (reader.Next()) {
        if (reader.StartsLine()) {
            ++line;
            part = 0;
        } else {
            ++part;
        }
        file.pieces.push_back({std::u16string(reader.Text()), line, part});
    }
    file.failed = reader.Failed();
    return file;
}

std::string LineLabel(const IniPiece& piece) {
    std::string label = "line " + std::to_string(piece.line);
    if (piece.part > 0) label += ", part " + std::to_string(piece.part + 1);
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

namespace {

// 0x80 to 0x9F of Windows-1252; 0 marks the undefined bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr const char* kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

char16_t Cp1252ToUnicode(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
    return byte;
}

int UnicodeToCp1252(char32_t character) {
    for (int b = 0; b < 256; ++b) {
        char16_t c = Cp1252ToUnicode(static_cast<std::uint8_t>(b));
        if (c != 0 && c == character) return b;
    }
    return character == 0 ? 0 : -1;
}

std::string ByteCharacterName(std::uint8_t byte) {
    if (byte < 0x20) return kControlNames[byte];
    if (byte == 0x20) return "SPACE";
    if (byte == 0x7F) return "DEL";
    if (byte == 0xA0) return "NBSP";
    if (byte == 0xAD) return "SHY";
    char16_t c = Cp1252ToUnicode(byte);
    if (c == 0) return "(undefined)";
    return ToUtf8(std::u16string(1, c));
}

namespace {

struct NamedKey {
    std::uint16_t code;
    const char* name;
};

// clang-format off
constexpr NamedKey kKeyNames[] = {
    {0x01, "VK_LBUTTON"}, {0x02, "VK_RBUTTON"}, {0x03, "VK_CANCEL"}, {0x04, "VK_MBUTTON"},
    {0x05, "VK_XBUTTON1"}, {0x06, "VK_XBUTTON2"}, {0x08, "VK_BACK"}, {0x09, "VK_TAB"},
    {0x0C, "VK_CLEAR"}, {0x0D, "VK_RETURN"}, {0x10, "VK_SHIFT"}, {0x11, "VK_CONTROL"},
    {0x12, "VK_MENU"}, {0x13, "VK_PAUSE"}, {0x14, "VK_CAPITAL"}, {0x15, "VK_KANA"},
    {0x17, "VK_JUNJA"}, {0x18, "VK_FINAL"}, {0x19, "VK_KANJI"}, {0x1B, "VK_ESCAPE"},
    {0x1C, "VK_CONVERT"}, {0x1D, "VK_NONCONVERT"}, {0x1E, "VK_ACCEPT"}, {0x1F, "VK_MODECHANGE"},
    {0x20, "VK_SPACE"}, {0x21, "VK_PRIOR"}, {0x22, "VK_NEXT"}, {0x23, "VK_END"},
    {0x24, "VK_HOME"}, {0x25, "VK_LEFT"}, {0x26, "VK_UP"}, {0x27, "VK_RIGHT"},
    {0x28, "VK_DOWN"}, {0x29, "VK_SELECT"}, {0x2A, "VK_PRINT"}, {0x2B, "VK_EXECUTE"},
    {0x2C, "VK_SNAPSHOT"}, {0x2D, "VK_INSERT"}, {0x2E, "VK_DELETE"}, {0x2F, "VK_HELP"},
    {0x5B, "VK_LWIN"}, {0x5C, "VK_RWIN"}, {0x5D, "VK_APPS"}, {0x5F, "VK_SLEEP"},
    {0x6A, "VK_MULTIPLY"}, {0x6B, "VK_ADD"}, {0x6C, "VK_SEPARATOR"}, {0x6D, "VK_SUBTRACT"},
    {0x6E, "VK_DECIMAL"}, {0x6F, "VK_DIVIDE"}, {0x90, "VK_NUMLOCK"}, {0x91, "VK_SCROLL"},
    {0xA0, "VK_LSHIFT"}, {0xA1, "VK_RSHIFT"}, {0xA2, "VK_LCONTROL"}, {0xA3, "VK_RCONTROL"},
    {0xA4, "VK_LMENU"}, {0xA5, "VK_RMENU"}, {0xA6, "VK_BROWSER_BACK"},
    {0xA7, "VK_BROWSER_FORWARD"}, {0xA8, "VK_BROWSER_REFRESH"}, {0xA9, "VK_BROWSER_STOP"},
    {0xAA, "VK_BROWSER_SEARCH"}, {0xAB, "VK_BROWSER_FAVORITES"}, {0xAC, "VK_BROWSER_HOME"},
    {0xAD, "VK_VOLUME_MUTE"}, {0xAE, "VK_VOLUME_DOWN"}, {0xAF, "VK_VOLUME_UP"},
    {0xB0, "VK_MEDIA_NEXT_TRACK"}, {0xB1, "VK_MEDIA_PREV_TRACK"}, {0xB2, "VK_MEDIA_STOP"},
    {0xB3, "VK_MEDIA_PLAY_PAUSE"}, {0xB4, "VK_LAUNCH_MAIL"}, {0xB5, "VK_LAUNCH_MEDIA_SELECT"},
    {0xB6, "VK_LAUNCH_APP1"}, {0xB7, "VK_LAUNCH_APP2"}, {0xBA, "VK_OEM_1"},
    {0xBB, "VK_OEM_PLUS"}, {0xBC, "VK_OEM_COMMA"}, {0xBD, "VK_OEM_MINUS"},
    {0xBE, "VK_OEM_PERIOD"}, {0xBF, "VK_OEM_2"}, {0xC0, "VK_OEM_3"}, {0xDB, "VK_OEM_4"},
    {0xDC, "VK_OEM_5"}, {0xDD, "VK_OEM_6"}, {0xDE, "VK_OEM_7"}, {0xDF, "VK_OEM_8"},
    {0xE2, "VK_OEM_102"}, {0xE5, "VK_PROCESSKEY"}, {0xE7, "VK_PACKET"}, {0xF6, "VK_ATTN"},
    {0xF7, "VK_CRSEL"}, {0xF8, "VK_EXSEL"}, {0xF9, "VK_EREOF"}, {0xFA, "VK_PLAY"},
    {0xFB, "VK_ZOOM"}, {0xFD, "VK_PA1"}, {0xFE, "VK_OEM_CLEAR"},
};
// clang-format on

// Digits, letters, numeric pad and function keys follow a pattern rather
// than the table above.
std::string PatternKeyName(std::uint16_t code) {
    if ((code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5A)) {
        return std::string("VK_") + static_cast<char>(code);
    }
    if (code >= 0x60 && code <= 0x69) return "VK_NUMPAD" + std::to_string(code - 0x60);
    if (code >= 0x70 && code <= 0x87) return "VK_F" + std::to_string(code - 0x70 + 1);
    return {};
}

}  // namespace

std::string VirtualKeyName(std::uint16_t code) {
    for (const NamedKey& key : kKeyNames) {
        if (key.code == code) return key.name;
    }
    return PatternKeyName(code);
}

std::uint16_t VirtualKeyFromName(std::string_view name) {
    for (std::uint16_t code = 1; code < 0xFF; ++code) {
        if (VirtualKeyName(code) == name) return code;
    }
    return 0;
}

bool SetSettingsPath(const std::u16string& path, ToolOutput& io) {
    if (path.size() + 1 > static_cast<std::size_t>(kSettingTextCapacity)) {
        Note(io, "the path is longer than the program's 259-character path buffer");
        return false;
    }
    platform::StrCopy(SettingsFilePath, kSettingTextCapacity, path.c_str());
    return true;
}

void LoadTableFrom(const KeyTableEntry* start, const std::vector<std::u16string>& sections,
                   KeyTableEntry* result) {
    std::memcpy(KeyTable, start, sizeof KeyTable);
    for (const std::u16string& section : sections) {
        platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, section.c_str());
        LoadKeyTable();
    }
    std::memcpy(result, KeyTable, sizeof KeyTable);
}
