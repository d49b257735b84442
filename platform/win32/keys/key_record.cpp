// The record of what a run changed in the desktop's keyboard, and giving back
// what a run that died left in it.
#include "platform/win32/keys/key_record_private.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <iterator>

namespace platform::win32keys {
namespace {

constexpr char kMagic[8] = "QVKEYS1";
constexpr wchar_t kRecordName[] = L"\\keys";
// A run killed a moment ago may still hold its file while Windows tears the
// process down; the instance event it held is gone already.
constexpr int kClaimAttempts = 20;
constexpr DWORD kClaimPauseMs = 100;

// Releases the keys, then presses Caps Lock once if it was left switched:
// with Shift still down, Caps Lock could mean something else.
// A record whose bytes we could not have written is left alone as a whole.
void GiveBack(const KeyRecordContents& left, SendKeyEvent send) {
    if (std::memcmp(left.magic, kMagic, sizeof kMagic) != 0) return;
    for (const std::uint8_t down : left.down)
        if (down > 1) return;
    for (int key = 0; key < 256; ++key)
        if (left.down[key] != 0) send(static_cast<std::uint8_t>(key), true);
    if (left.capsLockPresses % 2 != 0) {
        send(kVkCapital, false);
        send(kVkCapital, true);
    }
}

// The file, ours alone while this process lives: no other instance can read
// or take it, and the system lets go of it when the process ends, however.
HANDLE OpenRecordFile(const wchar_t* folder) {
    wchar_t path[MAX_PATH];
    const std::size_t length = std::wcslen(folder);
    if (length + std::size(kRecordName) > MAX_PATH) return INVALID_HANDLE_VALUE;
    ::CreateDirectoryW(folder, nullptr);
    std::wmemcpy(path, folder, length);
    std::wmemcpy(path + length, kRecordName, std::size(kRecordName));
    for (int attempt = 0;; ++attempt) {
        // A link at the record's place is opened as itself, and then refused.
        HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        if (file != INVALID_HANDLE_VALUE &&
            (!::GetFileInformationByHandle(file, &info) ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
                 0 ||
             info.nNumberOfLinks != 1)) {
            ::CloseHandle(file);
            return INVALID_HANDLE_VALUE;
        }
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION ||
            attempt + 1 == kClaimAttempts)
            return file;
        ::Sleep(kClaimPauseMs);
    }
}

}  // namespace

KeyRecordContents* ClaimKeyRecord(const wchar_t* folder, SendKeyEvent send) {
    HANDLE file = OpenRecordFile(folder);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    KeyRecordContents left{};
    LARGE_INTEGER size{};
    DWORD read = 0;
    if (::GetFileSizeEx(file, &size) && size.QuadPart == sizeof left &&
        ::ReadFile(file, &left, sizeof left, &read, nullptr) && read == sizeof left)
        GiveBack(left, send);
    // The file's handle, not the mapping, is what keeps other processes out:
    // both stay open until the process ends, however it ends.
    HANDLE mapping =
        ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, sizeof(KeyRecordContents), nullptr);
    void* view = mapping != nullptr
                     ? ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(KeyRecordContents))
                     : nullptr;
    if (view == nullptr) {
        if (mapping != nullptr) ::CloseHandle(mapping);
        ::CloseHandle(file);
        return nullptr;
    }
    auto* record = static_cast<KeyRecordContents*>(view);
    std::memset(record, 0, sizeof *record);
    std::memcpy(record->magic, kMagic, sizeof kMagic);
    return record;
}

}  // namespace platform::win32keys
