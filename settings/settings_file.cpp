// The settings-file engine. Lookups keep the containment rules that stored
// files depend on; writes go through a temporary file beside the settings file
// that is flushed and then swapped in atomically, so that no failure (full
// disk, crash, power cut) can leave the user without a settings file.
#include "settings/settings_file.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "platform/services.h"
#include "platform/text.h"
#include "settings/text_file.h"

using settings_text::LineEnd;
using settings_text::TextFileReader;

char16_t SettingsFilePath[kTextCapacity];

namespace {

// ERROR_PATH_NOT_FOUND: a folder of the path is missing, so the file is too.

void ShowInMessageBox(const char16_t* text) {
    platform::MessageBoxW(platform::kNoWindow, text, nullptr, platform::kMbOk);
}

SettingsErrorReporter errorReporter = ShowInMessageBox;

bool IsPathSeparator(char16_t c) {
    return c == u'/' || c == u'\\';
}

int ReportFailure() {
    ReportSettingsFailure();
    return kWriteFailed;
}

// ".<file name>" and `tail` beside `target`, in `name`; false (with
// kErrorFilenameTooLong) when it does not fit.
// The length of `path`'s folder part, its separator included.
std::size_t FolderLength(const char16_t* path) {
    std::size_t length = 0;
    for (std::size_t i = 0; path[i] != 0; ++i)
        if (IsPathSeparator(path[i])) length = i + 1;
    return length;
}

bool BuildNameBeside(const char16_t* target, std::initializer_list<const char16_t*> tail,
                     char16_t* name) {
    const char16_t* fileName = target + FolderLength(target);
    // A folder that fills the buffer leaves no room for any name: cut short.
    const auto folderLength = std::min(static_cast<std::size_t>(fileName - target),
                                       static_cast<std::size_t>(kTextCapacity - 1));
    for (std::size_t i = 0; i < folderLength; ++i) name[i] = target[i];
    name[folderLength] = 0;
    bool fits = platform::StrAppend(name, kTextCapacity, u".") &&
                platform::StrAppend(name, kTextCapacity, fileName);
    for (const char16_t* part : tail) fits = fits && platform::StrAppend(name, kTextCapacity, part);
    if (!fits) platform::SetLastError(platform::kErrorFilenameTooLong);
    return fits;
}

// A temporary name of our own beside `target`:
// ".<file name>.<process id>-<counter>.tmp". The file is created new and
// exclusively, so whatever already has a name (another program's file, a
// link, a leftover copy) is never opened, emptied or followed; a taken name
// just moves on to the next counter.
platform::FileHandle CreateTemporaryBeside(const char16_t* target, char16_t* name) {
    static std::uint32_t counter = 0;
    constexpr int kAttempts = 100;
    char16_t pid[16];
    platform::FormatDecimal(
        pid, 16, static_cast<std::int32_t>(platform::GetCurrentProcessId() & 0x7FFFFFFFu));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char16_t number[16];
        counter = (counter + 1) & 0x7FFFFFFFu;
        platform::FormatDecimal(number, 16, static_cast<std::int32_t>(counter));
        if (!BuildNameBeside(target, {u".", pid, u"-", number, u".tmp"}, name))
            return platform::kInvalidFile;
        platform::FileHandle file = platform::CreateNewFile(name);
        if (file != platform::kInvalidFile) return file;
        const std::uint32_t error = platform::GetLastError();
        if (error != platform::kErrorFileExists && error != platform::kErrorAlreadyExists)
            return platform::kInvalidFile;
    }
    return platform::kInvalidFile;
}

// Reads the decimal number at `c` into `value`; the first unit after it, or
// null when there is no digit.
const char16_t* TakeNumber(const char16_t* c, std::uint32_t* value) {
    if (*c < u'0' || *c > u'9') return nullptr;
    std::uint64_t number = 0;
    for (; *c >= u'0' && *c <= u'9'; ++c)
        number = std::min<std::uint64_t>(number * 10 + (*c - u'0'), 0xFFFFFFFFu);
    *value = static_cast<std::uint32_t>(number);
    return c;
}

struct LeftoverSearch {
    const char16_t* target;
    std::size_t prefixLength;  // of ".<file name>."
};

// A copy that a writer of ours left when it was killed half-way,
// ".<file name>.<process id>-<n>.tmp", goes once that process is gone; no
// one else would ever remove it. A running writer's copy stays.
void RemoveIfLeftover(const char16_t* name, void* context) {
    const auto* search = static_cast<const LeftoverSearch*>(context);
    std::uint32_t processId = 0;
    std::uint32_t counter = 0;
    // Only the names our writers make: a process id as FormatDecimal writes
    // it (no 0, no leading zero), a real one.
    const char16_t* digits = name + search->prefixLength;
    if (*digits == u'0') return;
    const char16_t* c = TakeNumber(digits, &processId);
    if (c == nullptr || *c != u'-' || processId > 0x7FFFFFFFu) return;
    c = TakeNumber(c + 1, &counter);
    if (c == nullptr || platform::StrCmp(c, u".tmp") != 0) return;
    if (platform::IsProcessRunning(processId)) return;
    char16_t path[kTextCapacity];
    const std::size_t folderLength = FolderLength(search->target);
    if (folderLength >= kTextCapacity) return;
    for (std::size_t i = 0; i < folderLength; ++i) path[i] = search->target[i];
    path[folderLength] = 0;
    // A link, a folder or another user's file of that name is not ours to delete.
    if (platform::StrAppend(path, kTextCapacity, name) && platform::IsOwnRegularFile(path))
        platform::DeleteFileW(path);
}

void RemoveLeftoverCopies(const char16_t* target) {
    char16_t prefix[kTextCapacity];
    if (!BuildNameBeside(target, {u"."}, prefix)) return;
    const char16_t* namePart =
        prefix + std::min(FolderLength(target), static_cast<std::size_t>(kTextCapacity - 1));
    LeftoverSearch search{target, platform::StrLen(namePart)};
    platform::FindFilesBeside(target, namePart, RemoveIfLeftover, &search);
}

std::uint32_t lockWaitMs = kDefaultLockWaitMs;

// Our own processes' lock around one read-modify-write of the settings file.
// It lives on ".<file name>.lock" beside the file, not on the file itself:
// the rewrite puts a new file in the old one's place, and a lock on the old
// one would no longer keep a later writer off the new one. The folder would
// survive the replace too, but Windows cannot lock a folder.
class RewriteLock {
  public:
    // False when another of our processes holds the lock past the wait: the
    // write fails (32) rather than risk losing that process's change. A lock
    // file that cannot be opened at all (a folder we may not write in) is no
    // reason to fail: the rewrite then goes on unlocked, and if it cannot
    // write there either, it reports that failure itself.
    bool Take(const char16_t* target) {
        char16_t name[kTextCapacity];
        if (!BuildNameBeside(target, {u".lock"}, name)) return true;
        lock_ = platform::OpenLockedFile(name, lockWaitMs);
        return lock_ != platform::kInvalidFile ||
               platform::GetLastError() != platform::kErrorSharingViolation;
    }
    // Removes the lock file while holding it. A writer of ours that waits on
    // it then finds the settings file missing too and changes nothing.
    void Remove(const char16_t* target) {
        char16_t name[kTextCapacity];
        if (lock_ != platform::kInvalidFile && BuildNameBeside(target, {u".lock"}, name))
            platform::DeleteFileW(name);
    }
    RewriteLock() = default;
    RewriteLock(const RewriteLock&) = delete;
    RewriteLock& operator=(const RewriteLock&) = delete;
    ~RewriteLock() {
        if (lock_ == platform::kInvalidFile) return;
        // Keeps the code a failed rewrite is about to report.
        const std::uint32_t error = platform::GetLastError();
        platform::CloseLockedFile(lock_);
        platform::SetLastError(error);
    }

  private:
    platform::FileHandle lock_ = platform::kInvalidFile;
};

// The file a write must replace: a settings file that is a symbolic link is
// updated where the link points, and the link stays a link.
bool ResolveSettingsFile(const char16_t* path, char16_t* target) {
    const std::uint32_t length = platform::GetFinalPathNameW(path, target, kTextCapacity);
    if (length == 0) return false;
    if (length >= kTextCapacity) {
        platform::SetLastError(platform::kErrorFilenameTooLong);
        return false;
    }
    return true;
}

// A line that opens another section ends the key search of a write: the write
// must not change anything outside the key's own section.
bool StartsSection(const TextFileReader& reader) {
    if (!reader.StartsLine()) return false;
    const char16_t* c = reader.Text();
    while (*c == u' ' || *c == u'\t') ++c;
    return *c == u'[';
}

// Writes to the temporary file through a buffer (one system call per
// buffer-full, not per line) and remembers the first failure.
class CheckedWriter {
  public:
    explicit CheckedWriter(platform::FileHandle file) : file_(file) {}

    void Bytes(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0 && !failed_) {
            if (used_ == sizeof buffer_) Drain();
            std::size_t n = std::min(size, sizeof buffer_ - used_);
            std::memcpy(buffer_ + used_, bytes, n);
            used_ += n;
            bytes += n;
            size -= n;
        }
    }

    // Encodes to UTF-8 in slices, so that no text is too long to write.
    void Text(const char16_t* text) {
        constexpr std::size_t kSlice = 256;
        char16_t slice[kSlice + 1];
        unsigned char bytes[kSlice * 3];
        while (*text != 0 && !failed_) {
            std::size_t n = 0;
            while (n < kSlice && text[n] != 0) ++n;
            // Keep a surrogate pair together.
            if (n == kSlice && text[n] != 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
            for (std::size_t i = 0; i < n; ++i) slice[i] = text[i];
            slice[n] = 0;
            std::ptrdiff_t size = platform::EncodeUtf8(slice, bytes, sizeof bytes);
            if (size < 0) {
                failed_ = true;
                error_ = platform::kErrorWriteFault;
                return;
            }
            Bytes(bytes, static_cast<std::size_t>(size));
            text += n;
        }
    }

    // Writes out what is buffered; false when any write has failed.
    bool Finish() {
        Drain();
        return !failed_;
    }

    bool Failed() const { return failed_; }
    std::uint32_t Error() const { return error_; }

  private:
    void Drain() {
        if (!failed_ && used_ > 0 &&
            !platform::WriteFileBytes(file_, buffer_, static_cast<std::uint32_t>(used_))) {
            failed_ = true;
            error_ = platform::GetLastError();
        }
        used_ = 0;
    }

    platform::FileHandle file_;
    unsigned char buffer_[8192];
    std::size_t used_ = 0;
    bool failed_ = false;
    std::uint32_t error_ = 0;
};

}  // namespace

bool BuildSectionHeader(char16_t* header, const char16_t* section) {
    header[0] = u'[';
    header[1] = 0;
    return platform::StrAppend(header, kTextCapacity, section) &&
           platform::StrAppend(header, kTextCapacity, u"]");
}

bool LineHasHeader(const char16_t* line, const char16_t* header) {
    return platform::StrStr(line, header) != nullptr;
}

bool LineHasKey(const char16_t* line, const char16_t* key) {
    return platform::StrStr(line, key) != nullptr;
}

bool IsOwnKeyLine(const char16_t* line, const char16_t* key) {
    const auto blank = [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
    };
    while (blank(*line)) ++line;
    const std::size_t length = platform::StrLen(key);
    for (std::size_t i = 0; i < length; ++i)
        if (line[i] != key[i]) return false;
    line += length;
    while (blank(*line)) ++line;
    return *line == u'=';
}

bool TakeSettingValue(char16_t* line) {
    if (platform::StrChr(line, u'=') == nullptr) return false;
    TrimSettingValue(line, u'=');
    return line[0] != 0;
}

bool SeekSection(TextFileReader& reader, const char16_t* section) {
    char16_t header[kTextCapacity];
    if (!BuildSectionHeader(header, section)) return false;
    while (reader.Next())
        if (LineHasHeader(reader.Text(), header)) return true;
    return false;
}

void ReportSettingsFailure() {
    char16_t message[kTextCapacity];
    platform::FormatDecimal(message, kTextCapacity,
                            static_cast<std::int32_t>(platform::GetLastError()));
    errorReporter(message);
}

void SetSettingsLockWait(std::uint32_t milliseconds) {
    lockWaitMs = milliseconds;
}

void SetSettingsErrorReporter(SettingsErrorReporter reporter) {
    errorReporter = reporter != nullptr ? reporter : ShowInMessageBox;
}

void ComputeSettingsFilePath() {
    std::uint32_t length = platform::GetModuleFileNameW(SettingsFilePath, kTextCapacity);
    if (length < 3 || length >= kTextCapacity) {
        // No usable module path (none, or cut to fit): an empty path opens
        // nothing, so every setting takes its default and nothing is written.
        SettingsFilePath[0] = 0;
        return;
    }
    SettingsFilePath[length - 3] = u'I';
    SettingsFilePath[length - 2] = u'N';
    SettingsFilePath[length - 1] = u'I';
}

void CutSettingText(char16_t* text, char16_t c) {
    char16_t* found = platform::StrChr(text, c);
    if (found != nullptr && c != 0) {
        *found = 0;
    } else {
        text[0] = 0;
    }
}

void TrimSettingValue(char16_t* text, char16_t separator) {
    // A leading run of "#" is passed over and stays in front of the value.
    char16_t* work = text;
    if (platform::StrChr(text, u'#') != nullptr) {
        while (*work == u'#') ++work;
        if (char16_t* comment = platform::StrChr(work, u'#')) *comment = 0;
    }
    if (char16_t* found = platform::StrChr(work, separator); found != nullptr && separator != 0) {
        char16_t* from = found + 1;
        char16_t* to = work;
        while ((*to++ = *from++) != 0) {
        }
    }
    char16_t* start = work;
    while (*start == u' ') ++start;
    if (start != work) {
        char16_t* to = work;
        while ((*to++ = *start++) != 0) {
        }
    }
    std::size_t length = platform::StrLen(work);
    while (length > 0 && (work[length - 1] == u' ' || work[length - 1] == u'\n')) --length;
    work[length] = 0;
}

int LocateSettingLine(const char16_t* section, const char16_t* key, const char16_t* path,
                      bool* ownLine) {
    *ownLine = false;
    TextFileReader reader;
    if (!reader.Open(path)) return 0;
    char16_t header[kTextCapacity];
    if (!BuildSectionHeader(header, section)) return 0;
    // The same walk as a read, counting the lines it passes.
    int line = 0;
    bool inSection = false;
    while (reader.Next()) {
        if (reader.StartsLine()) ++line;
        if (!inSection) {
            inSection = LineHasHeader(reader.Text(), header);
        } else if (LineHasKey(reader.Text(), key)) {
            *ownLine = reader.StartsLine() && IsOwnKeyLine(reader.Text(), key);
            return line;
        }
    }
    return 0;
}

int ReadSettingValue(const char16_t* section, const char16_t* key, const char16_t* defaultText,
                     char16_t* destination, std::uint32_t count, const char16_t* path) {
    bool unreadable = false;
    return ReadSettingValue(section, key, defaultText, destination, count, path, &unreadable);
}

int ReadSettingValue(const char16_t* section, const char16_t* key, const char16_t* defaultText,
                     char16_t* destination, std::uint32_t count, const char16_t* path,
                     bool* unreadable) {
    *unreadable = false;
    TextFileReader reader;
    if (reader.Open(path)) {
        if (SeekSection(reader, section)) {
            bool found = false;
            while (!found && reader.Next()) found = LineHasKey(reader.Text(), key);
            if (found && TakeSettingValue(reader.Text())) {
                platform::StrCopy(destination, count, reader.Text());
                return 0;
            }
        }
        *unreadable = reader.Failed();
    } else {
        const std::uint32_t error = platform::GetLastError();
        *unreadable =
            error != platform::kErrorFileNotFound && error != platform::kErrorPathNotFound;
    }
    platform::StrCopy(destination, count, defaultText);
    return 1;
}

SettingsFileDiagnosis DiagnoseSettingsFile(const char16_t* path) {
    TextFileReader reader;
    if (!reader.Open(path)) {
        const std::uint32_t error = platform::GetLastError();
        if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound)
            return {SettingsFileState::kMissing, 0};
        if (error == platform::kErrorDirectory) return {SettingsFileState::kDirectory, 0};
        if (error == platform::kErrorBadFileType) return {SettingsFileState::kNotRegular, 0};
        return {SettingsFileState::kUnreadable, error};
    }
    bool found = false;
    if (reader.Next()) {
        // A UTF-16 byte-order mark, FF FE or FE FF: neither is UTF-8, so the
        // reader hands them on as the escapes of those bytes.
        const char16_t* text = reader.Text();
        const bool littleEndian = text[0] == 0xDCFF && text[1] == 0xDCFE;
        const bool bigEndian = text[0] == 0xDCFE && text[1] == 0xDCFF;
        if (littleEndian || bigEndian) return {SettingsFileState::kUtf16, 0};
        found = LineHasHeader(text, u"[GENERAL]");
    }
    if (!found) found = SeekSection(reader, u"GENERAL");
    // Every read of a key may go on to the end of the file, so the whole file
    // must be within the bound, not only its part up to [GENERAL].
    if (!reader.ReachEnd()) {
        const std::uint32_t error = reader.Error();
        // A folder opens for reading on some systems and fails at the read.
        if (error == platform::kErrorDirectory) return {SettingsFileState::kDirectory, 0};
        if (error == platform::kErrorFileTooLarge) return {SettingsFileState::kTooLarge, 0};
        return {SettingsFileState::kUnreadable, error};
    }
    return {found ? SettingsFileState::kUsable : SettingsFileState::kNoGeneral, 0};
}

namespace {

bool HasLineEnd(const char16_t* text) {
    return platform::StrChr(text, u'\r') != nullptr || platform::StrChr(text, u'\n') != nullptr;
}

bool HasLoneSurrogate(const char16_t* text) {
    for (; *text != 0; ++text) {
        if (*text >= 0xD800 && *text <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            ++text;
        } else if (*text >= 0xD800 && *text <= 0xDFFF && !(*text >= 0xDC80 && *text <= 0xDCFF)) {
            // U+DC80 to U+DCFF stand for bytes that are not UTF-8, read from
            // the file; they are written back as those bytes.
            return true;
        }
    }
    return false;
}

// Copies the file through `out` with the key's line in the section after
// `header` replaced by "key = value"; false when there is no such line (the
// copy then stops early and is thrown away).
bool CopyReplacingKey(TextFileReader& reader, CheckedWriter& out, const char16_t* header,
                      const char16_t* key, const char16_t* value, const char16_t* target) {
    if (reader.HasBom()) out.Bytes("\xEF\xBB\xBF", 3);

    bool inSection = false;
    while (!inSection && !out.Failed() && reader.Next()) {
        out.Bytes(reader.Raw(), reader.RawLength());
        inSection = LineHasHeader(reader.Text(), header);
    }
    bool replaced = false;
    while (inSection && !replaced && !out.Failed() && reader.Next()) {
        if (StartsSection(reader)) {
            // The key is missing from its own section: nothing is added and
            // no other section's line is touched.
            out.Bytes(reader.Raw(), reader.RawLength());
            break;
        }
        if (!LineHasKey(reader.Text(), key)) {
            out.Bytes(reader.Raw(), reader.RawLength());
            continue;
        }
        LineEnd lineEnd = reader.FirstLineEnd();
        if (lineEnd == LineEnd::kUnknown) lineEnd = settings_text::DetectFirstLineEnd(target);
        out.Text(key);
        out.Text(u" = ");
        out.Text(value);
        out.Text(lineEnd == LineEnd::kLf ? u"\n" : u"\r\n");
        replaced = true;
    }
    while (replaced && !out.Failed() && reader.Next()) out.Bytes(reader.Raw(), reader.RawLength());
    return replaced;
}

}  // namespace

const char* RefusedSettingWrite(const char16_t* section, const char16_t* key,
                                const char16_t* value) {
    if (key[0] == 0) return "the key is empty";
    if (HasLineEnd(key)) return "the key contains a line end";
    if (HasLineEnd(value)) return "the value contains a line end";
    if (platform::StrChr(section, u']') != nullptr) return "the section name contains ']'";
    if (HasLineEnd(section)) return "the section name contains a line end";
    if (HasLoneSurrogate(section) || HasLoneSurrogate(key) || HasLoneSurrogate(value))
        return "the text contains a lone surrogate, which has no UTF-8 form";
    // "key = value" must fit the one piece a read takes of a line, or the
    // program reads the value cut and the rest as a line of its own.
    if (platform::StrLen(key) + 3 + platform::StrLen(value) > settings_text::kPieceUnits)
        return "the line \"KEY = VALUE\" would be longer than the 259 characters the program "
               "reads of a line, so the value would not be read back whole";
    return nullptr;
}

int WriteSettingValue(const char16_t* section, const char16_t* key, const char16_t* value,
                      const char16_t* path) {
    char16_t header[kTextCapacity];
    char16_t target[kTextCapacity];
    char16_t temporaryName[kTextCapacity];
    if (RefusedSettingWrite(section, key, value) != nullptr) return kWriteUnchanged;
    if (!BuildSectionHeader(header, section)) return kWriteUnchanged;
    if (!ResolveSettingsFile(path, target)) return ReportFailure();

    RewriteLock lock;
    if (!lock.Take(target)) return ReportFailure();
    TextFileReader reader;
    if (!reader.Open(target)) {
        // Without a file there is nothing to rewrite, and no lock file is left
        // beside what is not there; one that is there but cannot be opened is
        // a failed save.
        const std::uint32_t error = platform::GetLastError();
        if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound) {
            lock.Remove(target);
            return kWriteUnchanged;
        }
        // A pipe or a device is nothing to rewrite, and no lock file of ours
        // stays beside it (in /dev, say).
        if (error == platform::kErrorBadFileType) lock.Remove(target);
        platform::SetLastError(error);
        return ReportFailure();
    }
    // Under the lock no writer of ours is half-way, so what is there is left over.
    RemoveLeftoverCopies(target);
    platform::FileHandle temporary = CreateTemporaryBeside(target, temporaryName);
    if (temporary == platform::kInvalidFile) return ReportFailure();

    CheckedWriter out(temporary);
    const bool replaced = CopyReplacingKey(reader, out, header, key, value, target);

    // Only a complete copy, safely on disk, may take the settings file's place.
    // The code of the first failure is the one reported.
    bool failed = out.Failed() || reader.Failed();
    std::uint32_t error = out.Failed() ? out.Error() : reader.Error();
    if (!failed && replaced && !(out.Finish() && platform::FlushFileToDisk(temporary))) {
        failed = true;
        error = out.Failed() ? out.Error() : platform::GetLastError();
    }
    if (!platform::CloseFile(temporary) && !failed) {
        failed = true;
        error = platform::GetLastError();
    }
    reader.Close();
    if (failed || !replaced) {
        // Nothing to replace, or a partial copy (which may be what filled the
        // disk): no copy is left behind.
        platform::DeleteFileW(temporaryName);
        if (!failed) return kWriteUnchanged;
        platform::SetLastError(error);
        return ReportFailure();
    }

    if (!platform::ReplaceFileAtomically(temporaryName, target)) {
        error = platform::GetLastError();
        platform::DeleteFileW(temporaryName);
        platform::SetLastError(error);
        return ReportFailure();
    }
    return kWriteReplaced;
}

bool TakeListedSectionName(char16_t* line) {
    if (platform::StrChr(line, u'[') == nullptr || platform::StrStr(line, u"GENERAL") != nullptr)
        return false;
    TrimSettingValue(line, u'[');
    CutSettingText(line, u']');
    return true;
}

void ListSettingSections(const char16_t* path, char16_t (*list)[kSectionNameCapacity],
                         std::uint16_t* count) {
    *count = 0;
    TextFileReader reader;
    if (!reader.Open(path)) return;
    while (*count < kMaxSettingSections && reader.Next()) {
        char16_t* line = reader.Text();
        if (!TakeListedSectionName(line)) continue;
        // A slot holds 32 characters; a longer name is listed cut.
        platform::StrCopy(list[*count], kSectionNameCapacity, line);
        ++*count;
    }
}
