// Simulated files: real files through the shared POSIX code, with faults
// injected on request so tests can show that no failure loses a settings file.
#include "platform/sim/files.h"

#include <mutex>

#include "platform/posix/posix_files.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {
namespace sim {
namespace {

struct Fault {
    std::uint32_t countdown = 0;  // 0: none pending; 1: the next call fails
    std::uint32_t code = 0;
};

std::mutex mutex;
Fault writeFault, readFault, createFault, flushFault, closeFault, replaceFault, deleteFault;
FileCallCounts counts;
std::uint32_t openFailure = 0;
bool writableBelowUs = false;
Fault createRun;  // countdown: how many creates in a row fail
bool hasModulePath = false;
char16_t modulePath[1024];

// Counts the call and tells whether it is the one to fail (with its code set).
bool Strike(Fault& fault, std::uint32_t& counter) {
    std::lock_guard lock(mutex);
    ++counter;
    if (fault.countdown == 0) return false;
    if (--fault.countdown != 0) return false;
    SetLastError(fault.code);
    return true;
}

void Arm(Fault& fault, std::uint32_t n, std::uint32_t code) {
    std::lock_guard lock(mutex);
    fault = {n, code};
}

}  // namespace

void SetModuleFileName(const char16_t* path) {
    std::lock_guard lock(mutex);
    hasModulePath = path != nullptr;
    if (path != nullptr) StrCopy(modulePath, sizeof modulePath / sizeof modulePath[0], path);
}

void FailNthWrite(std::uint32_t n, std::uint32_t code) {
    Arm(writeFault, n, code);
}
void FailNthRead(std::uint32_t n, std::uint32_t code) {
    Arm(readFault, n, code);
}
void FailOpens(std::uint32_t code) {
    std::lock_guard lock(mutex);
    openFailure = code;
}
void FailNextCreate(std::uint32_t code) {
    Arm(createFault, 1, code);
}
void FailNextCreates(std::uint32_t count, std::uint32_t code) {
    std::lock_guard lock(mutex);
    createRun = {count, code};
}
void FailNextFlush(std::uint32_t code) {
    Arm(flushFault, 1, code);
}
void FailNextClose(std::uint32_t code) {
    Arm(closeFault, 1, code);
}
void FailNextReplace(std::uint32_t code) {
    Arm(replaceFault, 1, code);
}
void FailNextDelete(std::uint32_t code) {
    Arm(deleteFault, 1, code);
}

FileCallCounts FileCalls() {
    std::lock_guard lock(mutex);
    return counts;
}

void SetFileWritableBelowUs(bool writable) {
    std::lock_guard lock(mutex);
    writableBelowUs = writable;
}

void ResetFiles() {
    std::lock_guard lock(mutex);
    writeFault = readFault = createFault = flushFault = closeFault = replaceFault =
        deleteFault = {};
    counts = {};
    openFailure = 0;
    createRun = {};
    hasModulePath = false;
    writableBelowUs = false;
}

}  // namespace sim

bool FileWritableBelowOurRights(const char16_t*) {
    std::lock_guard lock(sim::mutex);
    return sim::writableBelowUs;
}

std::uint32_t GetModuleFileNameW(char16_t* buffer, std::uint32_t size) {
    {
        std::lock_guard lock(sim::mutex);
        if (sim::hasModulePath) {
            if (size == 0) return 0;
            if (!StrCopy(buffer, size, sim::modulePath)) return size;
            return static_cast<std::uint32_t>(StrLen(buffer));
        }
    }
    return posix::ModuleFileName(buffer, size);
}

FileHandle OpenFileForReading(const char16_t* path) {
    {
        std::lock_guard lock(sim::mutex);
        ++sim::counts.opens;
        if (sim::openFailure != 0) {
            SetLastError(sim::openFailure);
            return kInvalidFile;
        }
    }
    return posix::OpenForReading(path);
}

FileHandle CreateNewFile(const char16_t* path) {
    if (sim::Strike(sim::createFault, sim::counts.creates)) return kInvalidFile;
    {
        std::lock_guard lock(sim::mutex);
        if (sim::createRun.countdown != 0) {
            --sim::createRun.countdown;
            SetLastError(sim::createRun.code);
            return kInvalidFile;
        }
    }
    return posix::CreateNew(path);
}

std::int32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t size) {
    if (sim::Strike(sim::readFault, sim::counts.reads)) return -1;
    return posix::Read(file, buffer, size);
}

bool WriteFileBytes(FileHandle file, const void* data, std::uint32_t size) {
    if (sim::Strike(sim::writeFault, sim::counts.writes)) return false;
    return posix::Write(file, data, size);
}

bool FlushFileToDisk(FileHandle file) {
    if (sim::Strike(sim::flushFault, sim::counts.flushes)) return false;
    return posix::Flush(file);
}

bool CloseFile(FileHandle file) {
    if (sim::Strike(sim::closeFault, sim::counts.closes)) {
        std::uint32_t code = GetLastError();
        posix::Close(file);
        SetLastError(code);
        return false;
    }
    return posix::Close(file);
}

bool ReplaceFileAtomically(const char16_t* from, const char16_t* to) {
    if (sim::Strike(sim::replaceFault, sim::counts.replaces)) return false;
    return posix::Replace(from, to);
}

bool DeleteFileW(const char16_t* path) {
    if (sim::Strike(sim::deleteFault, sim::counts.deletes)) return false;
    return posix::Delete(path);
}

std::uint32_t GetFinalPathNameW(const char16_t* path, char16_t* buffer, std::uint32_t size) {
    return posix::FinalPath(path, buffer, size);
}

std::uint32_t GetCurrentProcessId() {
    return posix::ProcessId();
}

}  // namespace platform
