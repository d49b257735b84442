// A slow, obviously-correct model of how the settings engine sees a file,
// written independently of settings/ so the fuzzer can compare the two: the
// file is split into lines with their byte spans, and the readers, the lister
// and the general-settings validation are redone over those lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/codes.h"

namespace reference {

// The seam's capacities less their terminators: what a line buffer and a
// section-name slot hold.
inline constexpr std::size_t kLineUnits = platform::kTextCapacity - 1;
inline constexpr std::size_t kNameUnits = platform::kSectionNameLength;

struct Line {
    std::u16string units;    // as the engine's line buffer holds it, line feed included
    std::u16string visible;  // units up to the first NUL, as C-string functions see them
    std::size_t byteBegin = 0;
    std::size_t byteEnd = 0;  // the raw bytes of the line, line end included
    bool endsWithLineFeed = false;
    bool startsLine = true;  // false for the later pieces of a long line
};

struct File {
    std::vector<Line> lines;
    bool hasBom = false;
    std::string lineEnd;  // "\r\n" or "\n": what a replaced key line ends with
};

// Splits raw bytes as the engine reads them: BOM dropped, CR LF and LF as one
// line feed, undecodable bytes as U+DC00 + byte, pieces of at most 259 units.
File Parse(const std::uint8_t* data, std::size_t size);

// The text as the engine's C-string functions see it: up to the first NUL.
std::u16string Visible(const std::u16string& units);
bool Contains(const std::u16string& text, const std::u16string& needle);

std::u16string Trim(std::u16string text, char16_t separator);
std::u16string Cut(const std::u16string& text, char16_t c);

struct ReadResult {
    int result = 1;
    std::u16string value;  // what the destination holds afterwards
    // Index of the key line the read took, or -1 when the header or key was
    // not found (a found key line without "=" still gives its index).
    long keyLine = -1;
    long headerLine = -1;
};

ReadResult Read(const File& file, const std::u16string& section, const std::u16string& key,
                const std::u16string& defaultText, std::uint32_t count);

// The file WriteSettingValue leaves, or nothing when the write must fail and
// leave the file as it was: no header line, or no key line before the next
// line that starts a section (its first character after blanks is "[").
std::optional<std::vector<std::uint8_t>> Write(const std::vector<std::uint8_t>& bytes,
                                               const std::u16string& section,
                                               const std::u16string& key,
                                               const std::u16string& value);

// The names ListSettingSections should produce, in order.
std::vector<std::u16string> ListSections(const File& file);

struct General {
    std::uint16_t strokeDelay = 0;
    std::uint16_t port = 0;
    std::uint32_t baudRate = 0;
    std::uint16_t parity = 0;
    std::uint16_t stopBits = 0;
    std::uint16_t dataBits = 0;
    std::u16string keyTableName;
    // Values the description leaves open (letter case of PARITY): the codes
    // besides `parity` that an engine may also give.
    std::vector<std::uint16_t> parityAlternatives;
};

// LoadGeneralSettings: COM keeps any port from 1 to 256.
General LoadGeneral(const File& file);

}  // namespace reference
