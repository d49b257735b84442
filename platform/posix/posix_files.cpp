// POSIX implementation of the file operations behind the seam.
#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_errors.h"
#include "platform/text.h"

namespace platform::posix {
namespace {

constexpr std::size_t kPathBytes = 4096;

// fd + 1, so that descriptor 0 never looks like a zero handle.
FileHandle FromFd(int fd) {
    return FileHandle{static_cast<std::uintptr_t>(fd) + 1};
}
int ToFd(FileHandle file) {
    const auto word = static_cast<std::uintptr_t>(file);
    if (word == 0 || file == kInvalidFile) return -1;
    return static_cast<int>(word - 1);
}

bool Fail(int error) {
    SetLastError(ErrorFromErrno(error));
    return false;
}

FileHandle OpenWith(const char16_t* path, int flags, mode_t mode = 0666) {
    char name[kPathBytes];
    if (!PathToUtf8(path, name, sizeof name)) {
        SetLastError(kErrorFilenameTooLong);
        return kInvalidFile;
    }
    int fd;
    do {
        fd = ::open(name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Fail(errno);
        return kInvalidFile;
    }
    return FromFd(fd);
}

}  // namespace

bool PathToUtf8(const char16_t* path, char* destination, std::size_t capacity) {
    if (capacity == 0) return false;
    std::ptrdiff_t n =
        EncodeUtf8(path, reinterpret_cast<unsigned char*>(destination), capacity - 1);
    if (n < 0) return false;
    destination[n] = 0;
    return true;
}

std::uint32_t ModuleFileName(char16_t* buffer, std::uint32_t size) {
    if (size == 0) return 0;
    char name[kPathBytes];
    ssize_t n = ::readlink("/proc/self/exe", name, sizeof name);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof name) {
        SetLastError(n <= 0 ? ErrorFromErrno(errno) : kErrorFilenameTooLong);
        buffer[0] = 0;
        return 0;
    }
    char16_t wide[kPathBytes + 1];
    std::ptrdiff_t units = DecodeUtf8(reinterpret_cast<const unsigned char*>(name),
                                      static_cast<std::size_t>(n), wide, kPathBytes + 1);
    if (units < 0) {
        buffer[0] = 0;
        return 0;
    }
    if (!StrCopy(buffer, size, wide)) {
        SetLastError(kErrorInsufficientBuffer);  // cut, and `size` returned
        return size;
    }
    return static_cast<std::uint32_t>(StrLen(buffer));
}

FileHandle OpenForReading(const char16_t* path) {
    return OpenWith(path, O_RDONLY);
}

FileHandle CreateNew(const char16_t* path) {
    // Only the owner may read a copy in progress; the replace gives the new
    // file the old one's permissions.
    return OpenWith(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
}

std::uint32_t FinalPath(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    char name[kPathBytes];
    if (!PathToUtf8(path, name, sizeof name)) {
        SetLastError(kErrorFilenameTooLong);
        return 0;
    }
    struct stat link {};
    if (::lstat(name, &link) != 0 || !S_ISLNK(link.st_mode)) {
        // Not a link (or nothing there): the path itself, as given.
        if (size == 0) return 0;
        if (!StrCopy(buffer, size, path)) return size;
        return static_cast<std::uint32_t>(StrLen(buffer));
    }
    char resolved[PATH_MAX];
    if (::realpath(name, resolved) == nullptr) {
        Fail(errno);
        return 0;
    }
    char16_t wide[PATH_MAX + 1];
    std::ptrdiff_t units = DecodeUtf8(reinterpret_cast<const unsigned char*>(resolved),
                                      std::strlen(resolved), wide, PATH_MAX);
    if (units < 0 || size == 0) return 0;
    wide[units] = 0;
    if (!StrCopy(buffer, size, wide)) return size;
    return static_cast<std::uint32_t>(units);
}

std::uint32_t ProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

std::int32_t Read(FileHandle file, void* buffer, std::uint32_t size) {
    int fd = ToFd(file);
    if (fd < 0) {
        SetLastError(kErrorInvalidHandle);
        return -1;
    }
    if (size > 0x40000000u) size = 0x40000000u;
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<std::int32_t>(n);
        if (errno != EINTR) {
            Fail(errno);
            return -1;
        }
    }
}

bool Write(FileHandle file, const void* data, std::uint32_t size) {
    int fd = ToFd(file);
    if (fd < 0) return Fail(EBADF);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (n == 0) return Fail(ENOSPC);
        bytes += n;
        size -= static_cast<std::uint32_t>(n);
    }
    return true;
}

bool Flush(FileHandle file) {
    int fd = ToFd(file);
    if (fd < 0) return Fail(EBADF);
    if (::fsync(fd) != 0) return Fail(errno);
    return true;
}

bool Close(FileHandle file) {
    int fd = ToFd(file);
    if (fd < 0) return Fail(EBADF);
    // The descriptor is gone whatever close reports; EINTR must not be retried.
    if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
    return true;
}

bool Replace(const char16_t* from, const char16_t* to) {
    char source[kPathBytes];
    char target[kPathBytes];
    if (!PathToUtf8(from, source, sizeof source) || !PathToUtf8(to, target, sizeof target)) {
        SetLastError(kErrorFilenameTooLong);
        return false;
    }
    // The new file takes the old one's permissions, so a rewrite never
    // widens or narrows who may read the settings.
    struct stat old {};
    if (::stat(target, &old) == 0) ::chmod(source, old.st_mode & 07777);
    if (::rename(source, target) != 0) return Fail(errno);
    // Make the rename itself durable. Its failure does not undo the replace,
    // so it is not reported as one.
    char directory[kPathBytes];
    std::strcpy(directory, target);
    char* slash = std::strrchr(directory, '/');
    if (slash == nullptr) {
        std::strcpy(directory, ".");
    } else if (slash == directory) {
        slash[1] = 0;
    } else {
        *slash = 0;
    }
    int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

bool Delete(const char16_t* path) {
    char name[kPathBytes];
    if (!PathToUtf8(path, name, sizeof name)) {
        SetLastError(kErrorFilenameTooLong);
        return false;
    }
    if (::unlink(name) != 0) return Fail(errno);
    return true;
}

}  // namespace platform::posix
