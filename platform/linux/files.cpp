// Linux files: real files through the shared POSIX code. The core finds its
// settings file from the module file name.
#include <string>

#include "platform/linux/settings_location.h"
#include "platform/posix/posix_files.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {

// The core names its settings file after the program's file, as on Windows
// (QuorvelCE.exe -> QuorvelCE.INI, the last three characters replaced). The
// Linux program's file is `quorvelce`, and its settings may live away from it
// (in the user's configuration folder), so once the program has chosen the
// folder it reports `<folder>/QuorvelCE.exe`: the Windows program's name in
// the chosen folder, which the core's rule turns into the right file. The
// command-line tools set no folder (they take explicit files) and get the
// real executable from /proc/self/exe.
std::uint32_t GetModuleFileNameW(char16_t* buffer, std::uint32_t size) {
    const std::string& folder = linux_backend::ModuleFolder();
    if (folder.empty()) return posix::ModuleFileName(buffer, size);
    if (size == 0) return 0;
    const std::string path = folder + "/QuorvelCE.exe";
    const std::ptrdiff_t n =
        DecodeUtf8(reinterpret_cast<const unsigned char*>(path.data()), path.size(), buffer, size);
    if (n < 0) {
        // As Windows does with a short buffer: cut, terminated, and `size` returned.
        buffer[0] = 0;
        return size;
    }
    buffer[n] = 0;
    return static_cast<std::uint32_t>(n);
}

// No elevation here: the settings location refuses files others may write.
bool FileWritableBelowOurRights(const char16_t*) {
    return false;
}

FileHandle OpenFileForReading(const char16_t* path) {
    return posix::OpenForReading(path);
}
FileHandle CreateNewFile(const char16_t* path) {
    return posix::CreateNew(path);
}
std::int32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t size) {
    return posix::Read(file, buffer, size);
}
bool WriteFileBytes(FileHandle file, const void* data, std::uint32_t size) {
    return posix::Write(file, data, size);
}
bool FlushFileToDisk(FileHandle file) {
    return posix::Flush(file);
}
bool CloseFile(FileHandle file) {
    return posix::Close(file);
}
bool ReplaceFileAtomically(const char16_t* from, const char16_t* to) {
    return posix::Replace(from, to);
}
bool DeleteFileW(const char16_t* path) {
    return posix::Delete(path);
}
std::uint32_t GetFinalPathNameW(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    return posix::FinalPath(path, buffer, size);
}
std::uint32_t GetCurrentProcessId() {
    return posix::ProcessId();
}

}  // namespace platform
