// Piecewise UTF-8 reading of the settings file (see text_file.h).
#include "settings/text_file.h"

#include <cstring>

#include "platform/text.h"
#include "settings/settings_file.h"

namespace settings_text {

bool TextFileReader::Open(const char16_t* path) {
    Close();
    position_ = end_ = 0;
    atEnd_ = failed_ = hasBom_ = false;
    error_ = 0;
    bytesRead_ = 0;
    nextStartsLine_ = true;
    firstLineEnd_ = LineEnd::kUnknown;
    length_ = rawLength_ = 0;
    text_[0] = 0;
    file_ = platform::OpenFileForReading(path);
    if (file_ == platform::kInvalidFile) return false;
    Fill(3);
    if (Available() >= 3 && buffer_[0] == 0xEF && buffer_[1] == 0xBB && buffer_[2] == 0xBF) {
        hasBom_ = true;
        position_ += 3;
    }
    return true;
}

bool TextFileReader::Close() {
    if (file_ == platform::kInvalidFile) return true;
    bool ok = platform::CloseFile(file_);
    file_ = platform::kInvalidFile;
    return ok;
}

void TextFileReader::Fill(std::size_t want) {
    if (Available() >= want || atEnd_) return;
    if (position_ > 0) {
        std::memmove(buffer_, buffer_ + position_, Available());
        end_ -= position_;
        position_ = 0;
    }
    while (end_ < want && !atEnd_) {
        std::int32_t n = platform::ReadFileBytes(file_, buffer_ + end_,
                                                 static_cast<std::uint32_t>(sizeof buffer_ - end_));
        if (n < 0) Fail(platform::GetLastError());
        if (n <= 0) {
            atEnd_ = true;
            break;
        }
        // A file that goes on past any real settings file (one that grows
        // for ever, a mount that serves endless bytes) is not read to its end.
        bytesRead_ += static_cast<std::uint64_t>(n);
        if (bytesRead_ > kSettingsFileByteLimit) {
            Fail(platform::kErrorFileTooLarge);
            atEnd_ = true;
            break;
        }
        end_ += static_cast<std::size_t>(n);
    }
}

void TextFileReader::Fail(std::uint32_t error) {
    failed_ = true;
    error_ = error;
    platform::SetLastError(error);
}

bool TextFileReader::ReachEnd() {
    while (!atEnd_) {
        position_ = end_ = 0;
        Fill(sizeof buffer_);
    }
    position_ = end_ = 0;
    return !failed_;
}

bool TextFileReader::Next() {
    length_ = rawLength_ = 0;
    text_[0] = 0;
    startsLine_ = nextStartsLine_;
    if (file_ == platform::kInvalidFile) return false;
    bool lineEnded = false;
    while (length_ < kPieceUnits && !lineEnded) {
        if (Available() < 4) {
            Fill(4);
            if (Available() == 0) break;
        }
        const unsigned char* b = buffer_ + position_;
        // Settings files are mostly ASCII: the common byte takes the short way.
        if (b[0] < 0x80 && b[0] != '\r') {
            text_[length_++] = b[0];
            raw_[rawLength_++] = b[0];
            ++position_;
            if (b[0] == '\n') {
                if (firstLineEnd_ == LineEnd::kUnknown) firstLineEnd_ = LineEnd::kLf;
                lineEnded = true;
            }
            continue;
        }
        std::size_t size = Available();
        if (b[0] == '\r' && size >= 2 && b[1] == '\n') {
            // Text mode: CR LF reaches the reader as one line feed.
            text_[length_++] = u'\n';
            raw_[rawLength_++] = '\r';
            raw_[rawLength_++] = '\n';
            position_ += 2;
            if (firstLineEnd_ == LineEnd::kUnknown) firstLineEnd_ = LineEnd::kCrLf;
            lineEnded = true;
            break;
        }
        std::size_t sequence = platform::Utf8SequenceLength(b, size);
        char16_t units[3];
        std::ptrdiff_t count;
        if (sequence == 0) {
            // Not UTF-8: carried as U+DC80 + byte, which encodes back to the byte.
            units[0] = static_cast<char16_t>(0xDC00u + b[0]);
            count = 1;
            sequence = 1;
        } else {
            count = platform::DecodeUtf8(b, sequence, units, 3);
        }
        // fgetws never splits a surrogate pair: the piece ends one unit early.
        if (length_ + static_cast<std::size_t>(count) > kPieceUnits) break;
        for (std::ptrdiff_t i = 0; i < count; ++i) text_[length_++] = units[i];
        std::memcpy(raw_ + rawLength_, b, sequence);
        rawLength_ += sequence;
        position_ += sequence;
        if (b[0] == '\n') {
            if (firstLineEnd_ == LineEnd::kUnknown) firstLineEnd_ = LineEnd::kLf;
            lineEnded = true;
        }
    }
    text_[length_] = 0;
    nextStartsLine_ = lineEnded;
    return rawLength_ > 0;
}

LineEnd DetectFirstLineEnd(const char16_t* path) {
    platform::FileHandle file = platform::OpenFileForReading(path);
    if (file == platform::kInvalidFile) return LineEnd::kUnknown;
    unsigned char buffer[4096];
    LineEnd result = LineEnd::kUnknown;
    bool previousCr = false;
    std::uint64_t bytesRead = 0;
    for (bool done = false; !done && bytesRead <= kSettingsFileByteLimit;) {
        std::int32_t n = platform::ReadFileBytes(file, buffer, sizeof buffer);
        if (n <= 0) break;
        bytesRead += static_cast<std::uint64_t>(n);
        for (std::int32_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                result = previousCr ? LineEnd::kCrLf : LineEnd::kLf;
                done = true;
                break;
            }
            previousCr = buffer[i] == '\r';
        }
    }
    platform::CloseFile(file);
    return result;
}

}  // namespace settings_text
