// Windows files for the settings engine. The replace is MoveFileExW with
// REPLACE_EXISTING | WRITE_THROUGH after the caller's FlushFileBuffers: atomic
// on NTFS and under Wine (ReplaceFileW is not atomic under Wine), so the
// settings file is at every moment either the old or the new one.
#include "platform/services.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <iterator>

namespace platform {
namespace {

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
HANDLE ToWindows(FileHandle file) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(file));
}
FileHandle FromWindows(HANDLE file) {
    return file == INVALID_HANDLE_VALUE ? kInvalidFile
                                        : FileHandle{reinterpret_cast<std::uintptr_t>(file)};
}

// Another program (a virus scanner, an editor) holding the settings file open
// makes the replace fail with 5 for a moment; it usually lets go quickly.
constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplaceRetryMs = 50;

}  // namespace

FileHandle OpenLockedFile(const char16_t* path, std::uint32_t milliseconds) {
    HANDLE file = ::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kInvalidFile;
    // Polled rather than waited on: a waiting LockFileEx has no timeout.
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        OVERLAPPED whole{};
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                         &whole))
            return FromWindows(file);
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= deadline) {
            ::CloseHandle(file);
            ::SetLastError(error == ERROR_LOCK_VIOLATION ? kErrorSharingViolation : error);
            return kInvalidFile;
        }
        ::Sleep(2);
    }
}

bool CloseLockedFile(FileHandle lock) {
    OVERLAPPED whole{};
    ::UnlockFileEx(ToWindows(lock), 0, 1, 0, &whole);
    return ::CloseHandle(ToWindows(lock)) != FALSE;
}

void FindFilesBeside(const char16_t* path, const char16_t* prefix, FoundFileName found,
                     void* context) {
    wchar_t pattern[MAX_PATH * 2];
    std::size_t folder = 0;
    for (std::size_t i = 0; path[i] != 0; ++i)
        if (path[i] == u'\\' || path[i] == u'/') folder = i + 1;
    std::size_t n = 0;
    for (; n < folder && n < MAX_PATH; ++n) pattern[n] = static_cast<wchar_t>(path[n]);
    for (std::size_t i = 0; prefix[i] != 0 && n < MAX_PATH * 2 - 2; ++i)
        pattern[n++] = static_cast<wchar_t>(prefix[i]);
    pattern[n++] = L'*';
    pattern[n] = 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        found(reinterpret_cast<const char16_t*>(entry.cFileName), context);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

bool IsOwnRegularFile(const char16_t* path) {
    // No link (a reparse point), no folder, no device. Who owns the file is
    // not looked at: the folder beside the settings file is the user's own.
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

namespace {

// Wine gives every process an elevated token of the same Unix user: there is
// no process below us there to fear.
bool RunningElevated() {
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
        return false;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
    return elevated;
}

// Administrators, the system, the owner placeholder of inheritable entries and
// services (NT SERVICE\TrustedInstaller) already have our rights; any other
// trustee may be an unelevated process.
bool TrusteeOfOurRights(PSID sid) {
    if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        ::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinCreatorOwnerSid))
        return true;
    const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
    const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    return authority != nullptr &&
           std::equal(std::begin(nt.Value), std::end(nt.Value), std::begin(authority->Value)) &&
           *::GetSidSubAuthorityCount(sid) >= 1 &&
           *::GetSidSubAuthority(sid, 0) == SECURITY_SERVICE_ID_BASE_RID;
}

// Whether the object's access list lets someone below us use any of `rights`
// on it (a missing list lets everyone do everything). Deny entries are not
// weighed: a warning too many is better than one too few.
bool OthersMay(const wchar_t* path, DWORD rights) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool may = dacl == nullptr;
    for (DWORD i = 0; !may && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(dacl, i, &entry)) continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        may = (allowed->Mask & rights) != 0 && !TrusteeOfOurRights(sid);
    }
    ::LocalFree(descriptor);
    return may;
}

}  // namespace

bool FileWritableBelowOurRights(const char16_t* path) {
    if (!RunningElevated()) return false;
    constexpr DWORD kFileWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER |
                                  DELETE | GENERIC_WRITE | GENERIC_ALL;
    if (OthersMay(Wide(path), kFileWrites)) return true;
    // Whoever may add and remove files in its folder may put another in its place.
    wchar_t folder[MAX_PATH];
    std::size_t end = 0, n = 0;
    for (; path[n] != 0 && n + 1 < MAX_PATH; ++n) {
        folder[n] = static_cast<wchar_t>(path[n]);
        if (path[n] == u'\\' || path[n] == u'/') end = n;
    }
    if (end == 0) return false;
    folder[end] = 0;
    return OthersMay(folder, FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL);
}

bool IsProcessRunning(std::uint32_t processId) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    // Denied: it runs, under another user.
    if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

std::uint32_t GetModuleFileNameW(char16_t* buffer, std::uint32_t size) {
    return ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), size);
}

FileHandle OpenFileForReading(const char16_t* path) {
    const FileHandle file = FromWindows(::CreateFileW(
        Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A folder is refused with 5, as a file without permission is; the POSIX
    // backends tell it apart (267), and so must this one.
    if (file == kInvalidFile && ::GetLastError() == ERROR_ACCESS_DENIED) {
        const DWORD attributes = ::GetFileAttributesW(Wide(path));
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            ::SetLastError(kErrorDirectory);
    }
    // A pipe, the console or a port named as the settings file: a read from
    // it could wait for ever.
    if (file != kInvalidFile && ::GetFileType(ToWindows(file)) != FILE_TYPE_DISK) {
        ::CloseHandle(ToWindows(file));
        ::SetLastError(kErrorBadFileType);
        return kInvalidFile;
    }
    return file;
}

FileHandle CreateNewFile(const char16_t* path) {
    // CREATE_NEW fails on any existing name, a symbolic link included.
    return FromWindows(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::int32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t size) {
    if (size > 0x40000000u) size = 0x40000000u;
    DWORD read = 0;
    if (!::ReadFile(ToWindows(file), buffer, size, &read, nullptr)) return -1;
    return static_cast<std::int32_t>(read);
}

bool WriteFileBytes(FileHandle file, const void* data, std::uint32_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(ToWindows(file), bytes, size, &written, nullptr)) return false;
        if (written == 0) {
            ::SetLastError(kErrorDiskFull);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool FlushFileToDisk(FileHandle file) {
    return ::FlushFileBuffers(ToWindows(file)) != FALSE;
}

bool CloseFile(FileHandle file) {
    return ::CloseHandle(ToWindows(file)) != FALSE;
}

bool ReplaceFileAtomically(const char16_t* from, const char16_t* to) {
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD error = ::GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            attempt == kReplaceAttempts)
            return false;
        ::Sleep(kReplaceRetryMs);
        ::SetLastError(error);
    }
}

bool DeleteFileW(const char16_t* path) {
    return ::DeleteFileW(Wide(path)) != FALSE;
}

std::uint32_t GetFinalPathNameW(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        // No link: the path as given (no \\?\ form for the common case).
        std::uint32_t n = 0;
        while (path[n] != 0) ++n;
        if (n >= size) return n + 1;
        for (std::uint32_t i = 0; i <= n; ++i) buffer[i] = path[i];
        return n;
    }
    HANDLE file =
        ::CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    wchar_t final[MAX_PATH + 8];
    DWORD n = ::GetFinalPathNameByHandleW(file, final, MAX_PATH + 8,
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (n == 0 || n >= MAX_PATH + 8) return n == 0 ? 0 : size;
    // "\\?\C:\..." names the same file as "C:\..."; keep the \\?\UNC form.
    const wchar_t* from = final;
    if (n >= 6 && final[0] == L'\\' && final[1] == L'\\' && final[2] == L'?' && final[3] == L'\\' &&
        final[5] == L':')
        from += 4;
    std::uint32_t length = static_cast<std::uint32_t>(n - (from - final));
    if (length >= size) return size;
    for (std::uint32_t i = 0; i <= length; ++i) buffer[i] = static_cast<char16_t>(from[i]);
    return length;
}

std::uint32_t GetCurrentProcessId() {
    return ::GetCurrentProcessId();
}

}  // namespace platform
