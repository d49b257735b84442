// The pieces of the file the check's lookups stop at, what the engine reads
// from them, and the findings the check collects about them.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "tools/ini_lines.h"
#include "tools/tool_output.h"

namespace check {

// A piece as the pass hands it to each tracker.
struct Piece {
    const char16_t* text;
    int line;
    int part;

    std::string Label() const { return LineLabel(line, part); }
};

// A piece kept for the messages about it, once a lookup has stopped there.
struct Kept {
    std::u16string text;
    int line = 0;
    int part = 0;

    std::string Label() const { return LineLabel(line, part); }
    bool Is(int otherLine, int otherPart) const { return line == otherLine && part == otherPart; }
};

inline Kept KeepPiece(const Piece& piece) {
    return {piece.text, piece.line, piece.part};
}

// Findings kept until their turn: the output lists them by kind and section,
// not in the order the pass meets them. Beyond a megabyte they are moved to a
// temporary file, so that a file with a finding on every line is reported
// whole in bounded memory; where no temporary file can be made, they stay in
// memory. Findings made for the output itself go straight to it.
class Findings {
  public:
    Findings() = default;
    explicit Findings(ToolOutput& io) : io_(&io) {}

    int count = 0;

    void Add(const std::string& message) {
        Take(message);
        Take("\n");
        ++count;
    }
    void AddAt(const std::string& where, const std::string& message) {
        Add(where + ": " + message);
    }
    void Append(const Findings& more);

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    void Take(std::string_view text);

    ToolOutput* io_ = nullptr;
    std::string held_;
    std::unique_ptr<std::FILE, FileCloser> spilled_;
    std::size_t spilledBytes_ = 0;
    bool cannotSpill_ = false;
};

// What ReadSettingValue hands back when its search stops at `located` (null:
// nowhere), with the capacity every caller in the program passes.
int ExpectedRead(const Kept* located, std::u16string& value);

// Whether ReadSettingValue finds what this tool found; a lookup that found
// nothing is not asked again, as that read would run through the whole file.
bool AgreesWithEngine(const std::u16string& path, const std::u16string& section,
                      const char16_t* key, const Kept& located, ToolOutput& io);

}  // namespace check
