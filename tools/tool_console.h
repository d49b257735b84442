// What quorvel-ini needs of the operating system beyond the platform seam:
// its arguments as UTF-16 text and standard streams that pass bytes through
// unchanged (no LF -> CR LF translation on Windows). One file per OS implements it.
#pragma once

#include <string>
#include <vector>

// The arguments after the program name, exactly as the user gave them.
std::vector<std::u16string> GetToolArguments(int argc, char** argv);
void PrepareStandardStreams();
