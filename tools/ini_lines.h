// The settings file seen line by line as the engine reads it, and the way a
// line is named and shown in a message.
#pragma once

#include <string>
#include <string_view>

#include "settings/text_file.h"

// The file's pieces one at a time, as the engine reads them: CR LF and LF
// both end a line as one line feed, and a line longer than 259 units arrives
// in pieces that each count as a line of their own. Memory stays one piece
// whatever the file's size.
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
std::string LineLabel(int line, int part);
// The piece's text for a one-line message: quoted, line feed dropped, control
// characters escaped so the message stays on one line.
std::string Quoted(std::u16string_view text);
