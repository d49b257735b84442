// The folder and files we keep state in (the instance lock, the crash
// record), trusted only when they are ours: a folder nobody else can write,
// files that are not links, not shared and of the kind we expect.
#pragma once

#include <string>

namespace platform::posix {

// Makes `path` (0700) when it is missing. 0 when it is a real directory (not a
// link) owned by us and writable by no one else, else EPERM or the errno.
int CheckPrivateFolder(const std::string& path);

// The per-user runtime folder: $XDG_RUNTIME_DIR when it is a private folder of
// ours, else /tmp/quorvelce-<uid>, made when missing. Empty when neither can be
// trusted; that is said once, on the standard error.
std::string PrivateRuntimeFolder();

// Opens (creating 0600) `path` read-write, never through a link. A file that
// is not a regular file of ours with one link, or (when size >= 0) not of that
// size while holding more than nothing, is removed and made anew. The fd, or
// -errno.
int OpenPrivateFile(const std::string& path, long size);

}  // namespace platform::posix
