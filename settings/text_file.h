// Reads a UTF-8 settings file the way the engine sees it: one piece at a time,
// as the C runtime's fgetws would hand out lines in text mode (at most 259
// UTF-16 units, a line end seen as one line feed), while keeping every piece's
// raw bytes so that a rewrite can copy untouched lines byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/services.h"

namespace settings_text {

inline constexpr std::size_t kPieceUnits = 259;  // what fgetws(buffer, 260, file) reads
// A unit comes from at most 3 bytes (a CR LF from 2, a surrogate pair from 4).
inline constexpr std::size_t kPieceRawBytes = kPieceUnits * 3;

enum class LineEnd { kUnknown, kLf, kCrLf };

class TextFileReader {
  public:
    TextFileReader() = default;
    TextFileReader(const TextFileReader&) = delete;
    TextFileReader& operator=(const TextFileReader&) = delete;
    ~TextFileReader() { Close(); }

    // False when the file cannot be opened.
    bool Open(const char16_t* path);
    // Closes the file if open; false when the close itself failed.
    bool Close();

    // Reads the next piece; false at the end of the file or on a read error.
    bool Next();

    // The piece as terminated UTF-16 text (a NUL byte in the file ends the text
    // early, as it would for a C string; the raw bytes still carry it).
    char16_t* Text() { return text_; }
    const char16_t* Text() const { return text_; }
    const unsigned char* Raw() const { return raw_; }
    std::size_t RawLength() const { return rawLength_; }
    // Whether the piece begins a line (it is not the rest of a long line).
    bool StartsLine() const { return startsLine_; }

    bool HasBom() const { return hasBom_; }
    // A read error, or a file larger than the engine reads: what was read so
    // far is not the whole file. Error() holds the code (kErrorFileTooLarge
    // past the bound).
    bool Failed() const { return failed_; }
    std::uint32_t Error() const { return error_; }
    // Reads on to the end without decoding; false when that fails (Failed()).
    bool ReachEnd();
    // The line end of the first line that has one, as far as read so far.
    LineEnd FirstLineEnd() const { return firstLineEnd_; }

  private:
    // Makes at least `want` bytes available unless the file ends first.
    void Fill(std::size_t want);
    void Fail(std::uint32_t error);
    std::size_t Available() const { return end_ - position_; }

    platform::FileHandle file_ = platform::kInvalidFile;
    unsigned char buffer_[8192];
    std::size_t position_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
    bool failed_ = false;
    std::uint32_t error_ = 0;
    std::uint64_t bytesRead_ = 0;
    bool hasBom_ = false;
    bool nextStartsLine_ = true;
    LineEnd firstLineEnd_ = LineEnd::kUnknown;

    char16_t text_[kPieceUnits + 1];
    std::size_t length_ = 0;
    unsigned char raw_[kPieceRawBytes];
    std::size_t rawLength_ = 0;
    bool startsLine_ = true;
};

// The line end of the first line of the file at `path` that has one; kUnknown
// when it has none or cannot be read.
LineEnd DetectFirstLineEnd(const char16_t* path);

}  // namespace settings_text
