// Test controls of the simulated files: real files on disk, plus failures a
// test can inject at the exact step it wants to prove harmless (a full disk on
// the Nth write, a failed flush, close or replace), and a settable module path.
#pragma once

#include <cstdint>

namespace platform::sim {

// The path GetModuleFileNameW reports; null restores the real executable's.
void SetModuleFileName(const char16_t* path);

// The Nth WriteFileBytes from now (1 = the next one) fails with `code`.
void FailNthWrite(std::uint32_t n, std::uint32_t code);
// The Nth ReadFileBytes from now fails with `code`.
void FailNthRead(std::uint32_t n, std::uint32_t code);
// Every OpenFileForReading fails with `code` until called again with 0: a file
// that exists but another program holds, or a transient error.
void FailOpens(std::uint32_t code);
// The next call of each fails with `code` (the file is still closed on a
// failed close, as on the real systems).
void FailNextCreate(std::uint32_t code);
// The next `count` creates fail with `code` (say kErrorFileExists: names that
// another file already has).
void FailNextCreates(std::uint32_t count, std::uint32_t code);
void FailNextFlush(std::uint32_t code);
void FailNextClose(std::uint32_t code);
void FailNextReplace(std::uint32_t code);
void FailNextDelete(std::uint32_t code);
// We run elevated and a non-administrator may write the settings file (off
// after a reset).
void SetFileWritableBelowUs(bool writable);

// How often each operation has been called since the last reset.
struct FileCallCounts {
    std::uint32_t opens = 0;  // for reading
    std::uint32_t creates = 0;
    std::uint32_t reads = 0;
    std::uint32_t writes = 0;
    std::uint32_t flushes = 0;
    std::uint32_t closes = 0;
    std::uint32_t replaces = 0;
    std::uint32_t deletes = 0;
};
FileCallCounts FileCalls();

// Clears every pending fault, the counts and the module path.
void ResetFiles();

}  // namespace platform::sim
