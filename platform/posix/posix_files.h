// File operations shared by the POSIX backends (linux, sim): the seam's
// "Files" group on open/read/write/fsync/rename, with errno mapped to the
// Windows error codes the core reports. Internal to the backends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/services.h"

namespace platform::posix {

// Converts a UTF-16 path to UTF-8 (escaped bytes U+DC80+b go back as b, so
// names that are not UTF-8 still open). False when it does not fit.
bool PathToUtf8(const char16_t* path, char* destination, std::size_t capacity);

// The executable's path from /proc/self/exe, GetModuleFileNameW-style: the
// length written, or `size` when it had to be cut (still terminated).
std::uint32_t ModuleFileName(char16_t* buffer, std::uint32_t size);

// Each sets the error code (SetLastError) when it fails.
FileHandle OpenForReading(const char16_t* path);
// O_CREAT | O_EXCL | O_NOFOLLOW: never an existing file, never through a link.
FileHandle CreateNew(const char16_t* path);
std::int32_t Read(FileHandle file, void* buffer, std::uint32_t size);
bool Write(FileHandle file, const void* data, std::uint32_t size);
bool Flush(FileHandle file);
bool Close(FileHandle file);
// rename(2) and then an fsync of the target's directory, so the new name
// survives a power cut.
bool Replace(const char16_t* from, const char16_t* to);
bool Delete(const char16_t* path);
// GetFinalPathNameW: a symbolic link resolved with realpath(3); any other
// path unchanged.
std::uint32_t FinalPath(const char16_t* path, char16_t* buffer, std::uint32_t size);
std::uint32_t ProcessId();

}  // namespace platform::posix
