// POSIX implementation of the file operations behind the seam. The lock
// around a rewrite and the search for copies a killed writer left are the
// seam's own functions, defined here once for every POSIX backend.
#include "platform/posix/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
    char name[kPathBytes];
    if (!PathToUtf8(path, name, sizeof name)) {
        SetLastError(kErrorFilenameTooLong);
        return kInvalidFile;
    }
    // A device is never opened at all (opening some, a serial port, has
    // effects of its own); O_NONBLOCK keeps the open of a FIFO put in the
    // file's place between the two looks from waiting for a writer, and the
    // fstat of what was opened is the look that counts.
    struct stat before {};
    if (::stat(name, &before) == 0 && !S_ISREG(before.st_mode)) {
        SetLastError(S_ISDIR(before.st_mode) ? kErrorDirectory : kErrorBadFileType);
        return kInvalidFile;
    }
    const FileHandle file = OpenWith(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (file == kInvalidFile) return file;
    const int fd = ToFd(file);
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        const int error = errno;
        ::close(fd);
        Fail(error);
        return kInvalidFile;
    }
    if (!S_ISREG(opened.st_mode)) {
        ::close(fd);
        SetLastError(S_ISDIR(opened.st_mode) ? kErrorDirectory : kErrorBadFileType);
        return kInvalidFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
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
    // widens or narrows who may read the settings. A failed chmod is let
    // pass on purpose: the copy is our own new file, so it fails only where
    // the file system keeps no permissions (FAT on a USB stick, some network
    // shares), and there failing the save would lose the user's change for
    // nothing; the copy then has 0600, which can only narrow who reads it.
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

// The advisory lock our own processes take around each rewrite of the
// settings file: flock on a lock file that the rewrite's rename never replaces.
namespace platform {
namespace {

std::int64_t NowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

FileHandle OpenLockedFile(const char16_t* path, std::uint32_t milliseconds) {
    char name[4096];
    if (!posix::PathToUtf8(path, name, sizeof name)) {
        SetLastError(kErrorFilenameTooLong);
        return kInvalidFile;
    }
    int fd;
    do {
        fd = ::open(name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    // A link or anything but a regular file in the lock's place cannot be
    // our lock: the rewrite must not go on as if no one else could write.
    struct stat opened {};
    if (fd < 0 ? errno == ELOOP : (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
        if (fd >= 0) ::close(fd);
        SetLastError(kErrorSharingViolation);
        return kInvalidFile;
    }
    if (fd < 0) {
        SetLastError(posix::ErrorFromErrno(errno));
        return kInvalidFile;
    }
    // flock has no timeout of its own: try, and nap briefly between tries.
    const std::int64_t deadline = NowMs() + milliseconds;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return posix::FromFd(fd);
        const int error = errno;
        if ((error != EWOULDBLOCK && error != EINTR) || NowMs() >= deadline) {
            ::close(fd);
            SetLastError(error == EWOULDBLOCK ? kErrorSharingViolation
                                              : posix::ErrorFromErrno(error));
            return kInvalidFile;
        }
        const timespec nap{0, 2 * 1000 * 1000};
        ::nanosleep(&nap, nullptr);
    }
}

bool CloseLockedFile(FileHandle lock) {
    // Closing the only descriptor releases the lock.
    return posix::Close(lock);
}

void FindFilesBeside(const char16_t* path, const char16_t* prefix, FoundFileName found,
                     void* context) {
    char folder[4096];
    if (!posix::PathToUtf8(path, folder, sizeof folder)) return;
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) {
        std::strcpy(folder, ".");
    } else {
        slash[1] = 0;
    }
    DIR* directory = ::opendir(folder);
    if (directory == nullptr) return;
    while (const dirent* entry = ::readdir(directory)) {
        char16_t name[kTextCapacity];
        const std::ptrdiff_t units =
            DecodeUtf8(reinterpret_cast<const unsigned char*>(entry->d_name),
                       std::strlen(entry->d_name), name, kTextCapacity - 1);
        if (units < 0) continue;
        name[units] = 0;
        const std::size_t prefixLength = StrLen(prefix);
        if (static_cast<std::size_t>(units) >= prefixLength &&
            std::memcmp(name, prefix, prefixLength * sizeof(char16_t)) == 0)
            found(name, context);
    }
    ::closedir(directory);
}

bool IsOwnRegularFile(const char16_t* path) {
    char name[4096];
    struct stat entry {};
    return posix::PathToUtf8(path, name, sizeof name) && ::lstat(name, &entry) == 0 &&
           S_ISREG(entry.st_mode) && entry.st_uid == ::geteuid();
}

bool IsProcessRunning(std::uint32_t processId) {
    // EPERM: it runs, under another user.
    return processId != 0 && processId <= 0x7FFFFFFFu &&
           (::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

}  // namespace platform
