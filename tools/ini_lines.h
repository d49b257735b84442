// The settings file seen line by line as the engine reads it, and the way a
// line is named and shown in a message.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/text_file.h"

// One line as the engine reads it: CR LF and LF both end a line as one line
// feed, and a line longer than 259 units arrives in pieces that each count as
// a line of their own.
struct IniPiece {
    std::u16string text;  // with its line feed, if it had one
    int line = 0;         // physical line number, from 1
    int part = 0;         // 0 for the first piece of a line
};

struct IniFile {
    bool opened = false;
    bool failed = false;  // a read error cut the file short
    std::vector<IniPiece> pieces;
};

IniFile ReadIniFile(const std::u16string& path);

// The same pieces one at a time, for a file too large to hold: memory stays
// one piece whatever the file's size.
class IniPieceReader {
  public:
    bool Open(const std::u16string& path);
    bool Next();
    bool Close() { return reader_.Close(); }
    const char16_t* Text() const { return reader_.Text(); }
    int Line() const { return line_; }
    int Part() const { return part_; }
    bool Failed() const { return reader_.Failed(); }

  private:
    settings_text::TextFileReader reader_;
    int line_ = 0;
    int part_ = 0;
};

// "line 12" or "line 12, part 2" for the pieces of a long line.
std::string LineLabel(const IniPiece& piece);
std::string LineLabel(int line, int part);
// The piece's text for a one-line message: quoted, line feed dropped, control
// characters escaped so the message stays on one line.
std::string Quoted(std::u16string_view text);
