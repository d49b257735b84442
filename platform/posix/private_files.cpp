// Checks that make a folder or a state file ours before we trust it; another
// user who made the folder first, or planted a file or a link in it, gets
// neither our lock nor our record.
#include "platform/posix/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform::posix {
namespace {

bool Trusted(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// Once per process: without a folder there is no record and no guard, and a
// user who wonders why should find the reason.
void SayUntrusted(const std::string& path, int error) {
    static std::once_flag said;
    std::call_once(said, [&] {
        std::fprintf(
            stderr,
            "quorvelce: %s is not a private folder of ours (%s): no crash record and no "
            "one-instance guard this run\n",
            path.c_str(),
            error == EPERM ? "another user's, a link or writable by others" : "cannot be made");
    });
}

}  // namespace

int CheckPrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno;
    return Trusted(st) ? 0 : EPERM;
}

std::string PrivateRuntimeFolder() {
    // A runtime folder that is not ours (su keeps the caller's) is passed
    // over rather than used: /tmp has one for each user.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/') {
        struct stat st {};
        if (::lstat(runtime, &st) == 0 && Trusted(st)) return runtime;
    }
    const std::string fallback = "/tmp/quorvelce-" + std::to_string(::getuid());
    if (const int error = CheckPrivateFolder(fallback); error != 0) {
        SayUntrusted(fallback, error);
        return {};
    }
    return fallback;
}

int OpenPrivateFile(const std::string& path, long size) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd < 0 && errno != ELOOP) return -errno;
        struct stat st {};
        bool ours = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    st.st_uid == ::geteuid() && st.st_nlink == 1 && (st.st_mode & 077) == 0;
        if (ours && size >= 0 && st.st_size != 0 && st.st_size != size) ours = false;
        if (ours) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (fd >= 0) ::close(fd);
        // In a folder only we can write, what stands at our name is ours to
        // replace; its contents are never read.
        if (::unlink(path.c_str()) != 0) return -errno;
    }
    return -EPERM;
}

}  // namespace platform::posix
