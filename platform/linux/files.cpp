// Linux files: real files through the shared POSIX code; the settings file
// lies beside the executable found through /proc/self/exe.
#include "platform/posix/posix_files.h"
#include "platform/services.h"

namespace platform {

std::uint32_t GetModuleFileNameW(char16_t* buffer, std::uint32_t size) {
    return posix::ModuleFileName(buffer, size);
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
