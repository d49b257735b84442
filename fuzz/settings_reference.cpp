// The reference model of the settings file (see settings_reference.h). It uses
// std::u16string and plain loops on purpose: nothing here is shared with the
// engine except the UTF-8 sequence check and the number parsers of
// platform/text.h, whose own tests cover them.
#include "fuzz/settings_reference.h"

#include <array>

#include "platform/text.h"

namespace reference {
namespace {

// Appends the UTF-16 units of the valid UTF-8 sequence at `b` of `len` bytes.
void AppendSequence(std::u16string& out, const std::uint8_t* b, std::size_t len) {
    char32_t cp = 0;
    switch (len) {
        case 1:
            cp = b[0];
            break;
        case 2:
            cp = ((b[0] & 0x1Fu) << 6) | (b[1] & 0x3Fu);
            break;
        case 3:
            cp = ((b[0] & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu);
            break;
        default:
            cp = ((b[0] & 0x07u) << 18) | ((b[1] & 0x3Fu) << 12) | ((b[2] & 0x3Fu) << 6) |
                 (b[3] & 0x3Fu);
    }
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

}  // namespace

File Parse(const std::uint8_t* data, std::size_t size) {
    File file;
    std::size_t pos = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        file.hasBom = true;
        pos = 3;
    }
    file.lineEnd = "\r\n";
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            file.lineEnd = (i > 0 && data[i - 1] == '\r') ? "\r\n" : "\n";
            break;
        }
    }

    Line line;
    line.byteBegin = pos;
    bool nextStartsLine = true;
    auto finish = [&](std::size_t end, bool lineFeed) {
        line.byteEnd = end;
        line.startsLine = nextStartsLine;
        nextStartsLine = lineFeed;
        line.endsWithLineFeed = lineFeed;
        line.visible = Visible(line.units);
        file.lines.push_back(line);
        line = Line{};
        line.byteBegin = end;
    };
    while (pos < size) {
        std::size_t len;
        std::u16string units;
        bool lineFeed = false;
        if (data[pos] == '\n') {
            len = 1;
            lineFeed = true;
        } else if (data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n') {
            len = 2;
            lineFeed = true;
        } else {
            len = platform::Utf8SequenceLength(data + pos, size - pos);
            if (len == 0) {
                units.push_back(static_cast<char16_t>(0xDC00 + data[pos]));
                len = 1;
            } else {
                AppendSequence(units, data + pos, len);
            }
        }
        if (lineFeed) {
            line.units.push_back(u'\n');
            pos += len;
            finish(pos, true);
            continue;
        }
        // A piece holds at most 259 units and never splits a character: a
        // surrogate pair that does not fit starts the next piece.
        if (line.units.size() + units.size() > kLineUnits) finish(pos, false);
        line.units += units;
        pos += len;
        if (line.units.size() == kLineUnits) finish(pos, false);
    }
    if (!line.units.empty()) finish(size, false);
    return file;
}

std::u16string Visible(const std::u16string& units) {
    std::size_t nul = units.find(u'\0');
    return nul == std::u16string::npos ? units : units.substr(0, nul);
}

bool Contains(const std::u16string& text, const std::u16string& needle) {
    return text.find(needle) != std::u16string::npos;
}

std::u16string Trim(std::u16string text, char16_t separator) {
    std::size_t hashes = 0;
    std::u16string work = text;
    if (Contains(text, u"#")) {
        while (hashes < text.size() && text[hashes] == u'#') ++hashes;
        std::size_t next = text.find(u'#', hashes);
        work = text.substr(hashes,
                           next == std::u16string::npos ? std::u16string::npos : next - hashes);
    }
    std::size_t at = work.find(separator);
    if (at != std::u16string::npos) work = work.substr(at + 1);
    std::size_t lead = 0;
    while (lead < work.size() && work[lead] == u' ') ++lead;
    work = work.substr(lead);
    while (!work.empty() && (work.back() == u' ' || work.back() == u'\n')) work.pop_back();
    return text.substr(0, hashes) + work;
}

std::u16string Cut(const std::u16string& text, char16_t c) {
    std::size_t at = text.find(c);
    return at == std::u16string::npos ? std::u16string() : text.substr(0, at);
}

ReadResult Read(const File& file, const std::u16string& section, const std::u16string& key,
                const std::u16string& defaultText, std::uint32_t count) {
    ReadResult r;
    auto copy = [&](const std::u16string& text) {
        r.value = count == 0 ? std::u16string() : text.substr(0, count - 1);
    };
    std::u16string header = u"[" + section + u"]";
    std::u16string value;
    bool found = false;
    if (header.size() <= kLineUnits) {
        for (std::size_t i = 0; i < file.lines.size() && r.headerLine < 0; ++i) {
            if (Contains(file.lines[i].visible, header)) r.headerLine = long(i);
        }
        for (std::size_t j = std::size_t(r.headerLine + 1);
             r.headerLine >= 0 && j < file.lines.size(); ++j) {
            const std::u16string& text = file.lines[j].visible;
            if (!Contains(text, key)) continue;
            r.keyLine = long(j);
            if (Contains(text, u"=")) {
                value = Trim(text, u'=');
                found = !value.empty();
            }
            break;
        }
    }
    r.result = found ? 0 : 1;
    copy(found ? value : defaultText);
    return r;
}

std::optional<std::vector<std::uint8_t>> Write(const std::vector<std::uint8_t>& bytes,
                                               const std::u16string& section,
                                               const std::u16string& key,
                                               const std::u16string& value) {
    File file = Parse(bytes.data(), bytes.size());
    std::u16string header = u"[" + section + u"]";
    if (header.size() > kLineUnits) return std::nullopt;
    std::size_t i = 0;
    while (i < file.lines.size() && !Contains(file.lines[i].visible, header)) ++i;
    for (std::size_t j = i + 1; j < file.lines.size(); ++j) {
        const Line& line = file.lines[j];
        std::size_t first = line.visible.find_first_not_of(u" \t");
        if (line.startsLine && first != std::u16string::npos && line.visible[first] == u'[') {
            return std::nullopt;
        }
        if (!Contains(line.visible, Visible(key))) continue;
        std::u16string text = Visible(key) + u" = " + Visible(value);
        std::vector<unsigned char> encoded(text.size() * 4 + 1);
        std::ptrdiff_t n = platform::EncodeUtf8(text.c_str(), encoded.data(), encoded.size());
        std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + long(line.byteBegin));
        out.insert(out.end(), encoded.begin(), encoded.begin() + n);
        out.insert(out.end(), file.lineEnd.begin(), file.lineEnd.end());
        out.insert(out.end(), bytes.begin() + long(line.byteEnd), bytes.end());
        return out;
    }
    return std::nullopt;
}

std::vector<std::u16string> ListSections(const File& file) {
    std::vector<std::u16string> names;
    for (const Line& line : file.lines) {
        const std::u16string& text = line.visible;
        if (!Contains(text, u"[") || Contains(text, u"GENERAL")) continue;
        names.push_back(Cut(Trim(text, u'['), u']').substr(0, kNameUnits));
        if (names.size() == 10) break;
    }
    return names;
}

General LoadGeneral(const File& file) {
    auto read = [&](const char16_t* key, std::uint32_t count = platform::kTextCapacity) {
        return Read(file, u"GENERAL", key, u"ERROR", count).value;
    };
    auto number = [](const std::u16string& v) { return platform::wtoi(v.c_str()); };
    const std::u16string absent = u"ERROR";
    General g;

    std::u16string v = read(u"STROKE_DELAY");
    g.strokeDelay = v == absent ? 1 : static_cast<std::uint16_t>(number(v));

    v = read(u"COM");
    g.port = 1;
    if (v != absent) {
        auto low = static_cast<std::uint16_t>(number(v));
        if (low >= 1 && low <= 256) g.port = low;  // any port Windows can number
    }

    static constexpr std::array<std::uint32_t, 15> kRates = {110,   300,   600,    1200,   2400,
                                                             4800,  9600,  14400,  19200,  38400,
                                                             56000, 57600, 115200, 128000, 256000};
    v = read(u"BAUDRATE");
    g.baudRate = 9600;
    if (v != absent) {
        auto rate = static_cast<std::uint32_t>(number(v));
        for (std::uint32_t r : kRates) {
            if (r == rate) g.baudRate = rate;
        }
    }

    static const std::array<std::pair<std::u16string, std::uint16_t>, 5> kParities = {
        {{u"NONE", 0}, {u"EVEN", 2}, {u"ODD", 1}, {u"SPACE", 4}, {u"MARK", 3}}};
    v = read(u"PARITY");
    g.parity = 0;
    for (const auto& [name, code] : kParities) {
        if (v == name) g.parity = code;
    }
    // Whether the comparison ignores letter case is left open.
    auto upper = v;
    for (char16_t& c : upper) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    for (const auto& [name, code] : kParities) {
        if (upper == name && v != name) g.parityAlternatives.push_back(code);
    }

    v = read(u"DATA");
    g.dataBits = 8;
    if (v != absent) {
        auto bits = static_cast<std::uint16_t>(number(v));
        if (bits >= 5 && bits <= 8) g.dataBits = bits;
    }

    v = read(u"STOP");
    g.stopBits = v == u"1.5" ? 1 : v == u"2" ? 2 : 0;

    g.keyTableName = read(u"KEYTABLE", platform::kSectionNameCapacity);
    return g;
}

}  // namespace reference
