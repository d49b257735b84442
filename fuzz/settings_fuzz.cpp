// libFuzzer target for the settings engine: the input bytes become a settings
// file, and every reader, the section lister, the general-settings loader, the
// table loader and a write into a copy run on it. Each result is compared with
// the reference model in settings_reference.cpp, so a wrong answer is a
// finding just like a crash.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/settings_reference.h"
#include "keymap/key_table.h"
#include "platform/sim/files.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"
#include "tests/settings/key_reads_oracle.h"

namespace {

std::filesystem::path workDir;
std::u16string settingsPath;  // the fuzzed file, read only
std::u16string copyPath;      // a fresh copy of it for each write
std::string settingsPathBytes;
std::string copyPathBytes;

int reportedFailures = 0;
const std::uint8_t* currentData = nullptr;
std::size_t currentSize = 0;

std::string Show(const std::u16string& text) {
    std::string out = "\"";
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\') {
            out += static_cast<char>(c);
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        }
    }
    return out + "\"";
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "\nsettings_fuzz: %s\n(input of %zu bytes; the file is kept as %s)\n",
                 what.c_str(), currentSize, settingsPathBytes.c_str());
    std::abort();
}

void Require(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Require(out.good(), "could not write " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The destination is allocated at exactly `count` units so that a write past
// the capacity is a heap overflow the address sanitizer reports.
struct EngineRead {
    int result;
    std::u16string value;
};

EngineRead ReadEngine(const std::u16string& path, const std::u16string& section,
                      const std::u16string& key, std::uint32_t count) {
    std::unique_ptr<char16_t[]> destination(new char16_t[count]);
    std::fill_n(destination.get(), count, u'\xFFFF');
    int result = ReadSettingValue(section.c_str(), key.c_str(), u"ERROR", destination.get(), count,
                                  path.c_str());
    char16_t* end = std::find(destination.get(), destination.get() + count, u'\0');
    Require(end != destination.get() + count,
            "ReadSettingValue left no terminator within count " + std::to_string(count));
    return {result, std::u16string(destination.get(), end)};
}

void CheckRead(const reference::File& file, const std::u16string& section,
               const std::u16string& key, std::uint32_t count) {
    EngineRead got = ReadEngine(settingsPath, section, key, count);
    reference::ReadResult want = reference::Read(file, section, key, u"ERROR", count);
    Require(got.result == 0 || got.result == 1, "ReadSettingValue result not 0 or 1");
    if (got.result != want.result || got.value != want.value) {
        Fail("ReadSettingValue(" + Show(section) + ", " + Show(key) + ", count " +
             std::to_string(count) + ") gave " + std::to_string(got.result) + " " +
             Show(got.value) + ", expected " + std::to_string(want.result) + " " +
             Show(want.value));
    }
}

// The text clean-ups on their own, over the first lines of the input.
void CheckCleanups(const reference::File& file) {
    for (std::size_t i = 0; i < file.lines.size() && i < 4; ++i) {
        std::u16string text = file.lines[i].visible;
        for (char16_t separator : {u'=', u'[', u','}) {
            std::u16string buffer = text;
            TrimSettingValue(buffer.data(), separator);
            std::u16string got(buffer.c_str());
            std::u16string want = reference::Trim(text, separator);
            Require(got == want, "TrimSettingValue(" + Show(text) + ", '" + char(separator) +
                                     "') gave " + Show(got) + ", expected " + Show(want));
        }
        for (char16_t c : {u']', u',', u'.'}) {
            std::u16string buffer = text;
            CutSettingText(buffer.data(), c);
            std::u16string got(buffer.c_str());
            std::u16string want = reference::Cut(text, c);
            Require(got == want, "CutSettingText(" + Show(text) + ", '" + char(c) + "') gave " +
                                     Show(got) + ", expected " + Show(want));
        }
    }
}

std::vector<std::u16string> CheckSectionList(const reference::File& file) {
    // Stale names from an earlier input must not survive the new list.
    std::memset(SerialSettings.SettingSectionList, 0x5A, sizeof SerialSettings.SettingSectionList);
    SerialSettings.SettingSectionCount = 0xBEEF;
    ListSettingSections(settingsPath.c_str(), SerialSettings.SettingSectionList,
                        &SerialSettings.SettingSectionCount);
    std::uint16_t count = SerialSettings.SettingSectionCount;
    Require(count <= kMaxSettingSections,
            "SettingSectionCount " + std::to_string(count) + " is over 10");
    std::vector<std::u16string> got;
    for (std::uint16_t i = 0; i < count; ++i) {
        const char16_t* slot = SerialSettings.SettingSectionList[i];
        const char16_t* end = std::find(slot, slot + kSectionNameCapacity, u'\0');
        Require(end != slot + kSectionNameCapacity, "section name slot without terminator");
        got.emplace_back(slot, end);
    }
    std::vector<std::u16string> want = reference::ListSections(file);
    if (got != want) {
        std::string text = "ListSettingSections gave";
        for (const auto& n : got) text += " " + Show(n);
        text += "; expected";
        for (const auto& n : want) text += " " + Show(n);
        Fail(text);
    }
    return got;
}

void CheckGeneral(const reference::File& file) {
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    std::memset(SerialSettings.keyTableName, 0x5A, sizeof SerialSettings.keyTableName);
    LoadGeneralSettings();
    reference::General want = reference::LoadGeneral(file);
    const SerialSettingsRecord& s = SerialSettings;
    const char16_t* end = std::find(s.keyTableName, s.keyTableName + kSectionNameCapacity, u'\0');
    Require(end != s.keyTableName + kSectionNameCapacity, "keyTableName without terminator");
    std::u16string name(s.keyTableName, end);
    bool parityOk = s.parity == want.parity;
    for (std::uint16_t alt : want.parityAlternatives) parityOk = parityOk || s.parity == alt;
    if (s.strokeDelay != want.strokeDelay || s.port != want.port || s.baudRate != want.baudRate ||
        !parityOk || s.stopBits != want.stopBits || s.dataBits != want.dataBits ||
        name != want.keyTableName) {
        char text[512];
        std::snprintf(
            text, sizeof text,
            "LoadGeneralSettings gave delay %u port %u baud %u parity %u stop %u data %u; "
            "expected delay %u port %u baud %u parity %u stop %u data %u",
            s.strokeDelay, s.port, s.baudRate, s.parity, s.stopBits, s.dataBits, want.strokeDelay,
            want.port, want.baudRate, want.parity, want.stopBits, want.dataBits);
        Fail(std::string(text) + "; keyTableName " + Show(name) + " expected " +
             Show(want.keyTableName));
    }
}

// Part of every entry is set beforehand, so a loader that clears entries the
// section does not define is caught as well as one that sets wrong ones.
KeyTableEntry Prefilled(int n) {
    KeyTableEntry e{};
    if (n % 3 == 0) e.virtualKey = static_cast<std::uint16_t>(0x100 + n);
    if (n % 5 == 0) e.shift = 1;
    if (n % 7 == 0) e.altGr = 1;
    return e;
}

std::u16string Decimal(int n) {
    std::u16string text;
    for (char c : std::to_string(n)) text.push_back(static_cast<char16_t>(c));
    return text;
}

// The table the rules of the keyboard section format give over the model's
// reads: what 256 separate ReadSettingValue lookups must produce.
void LoadByModel(const reference::File& file, const std::u16string& section, KeyTableEntry* table) {
    for (int n = 0; n < kKeyTableSize; ++n) {
        std::u16string value =
            reference::Read(file, section, Decimal(n), u"ERROR", kTextCapacity).value;
        KeyTableEntry& e = table[n];
        if (value == u"ERROR") continue;
        if (value.find(u',') == std::u16string::npos) {
            e.virtualKey = static_cast<std::uint16_t>(platform::wcstoul16(value.c_str()));
            e.shift = 0;
            e.altGr = 0;
            continue;
        }
        std::u16string number = reference::Cut(value, u',');
        if (number.empty()) continue;
        e.virtualKey = static_cast<std::uint16_t>(platform::wcstoul16(number.c_str()));
        std::u16string modifier = reference::Trim(value, u',');
        if (modifier.empty()) continue;
        char16_t c = modifier[0];
        if (c == u'a' || c == u'A') {
            e.shift = 0;
            e.altGr = 1;
        } else if (c == u's' || c == u'S') {
            e.shift = 1;
            e.altGr = 0;
        } else {
            e = KeyTableEntry{};
        }
    }
}

void CompareTables(const KeyTableEntry* got, const KeyTableEntry* want, const std::string& what) {
    for (int n = 0; n < kKeyTableSize; ++n) {
        Require(
            (got[n].shift == 0 || got[n].shift == 1) && (got[n].altGr == 0 || got[n].altGr == 1),
            what + ": flag not 0 or 1 at byte " + std::to_string(n));
        if (got[n].shift != want[n].shift || got[n].altGr != want[n].altGr ||
            got[n].virtualKey != want[n].virtualKey) {
            char text[200];
            std::snprintf(text, sizeof text,
                          " at byte %d: vk=0x%04X shift=%d altgr=%d, expected vk=0x%04X "
                          "shift=%d altgr=%d",
                          n, got[n].virtualKey, got[n].shift, got[n].altGr, want[n].virtualKey,
                          want[n].shift, want[n].altGr);
            Fail(what + text);
        }
    }
}

// The one-pass load must equal the 256-lookup load, and both the table the
// model gives.
void CheckKeyTable(const reference::File& file, const std::u16string& section) {
    platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, section.c_str());
    std::u16string stored(SerialSettings.keyTableName);

    KeyTableEntry model[kKeyTableSize];
    for (int n = 0; n < kKeyTableSize; ++n) model[n] = Prefilled(n);
    LoadByModel(file, stored, model);

    // Without the section every lookup gives the default and the table stays
    // as it was; the 256 file scans would only repeat what the reads checked.
    KeyTableEntry byLookups[kKeyTableSize];
    if (reference::Read(file, stored, u"", u"ERROR", 1).headerLine >= 0) {
        for (int n = 0; n < kKeyTableSize; ++n) KeyTable[n] = Prefilled(n);
        LoadKeyTableByKeyReads();
        std::copy(std::begin(KeyTable), std::end(KeyTable), byLookups);
        CompareTables(byLookups, model, "LoadKeyTableByKeyReads(" + Show(stored) + ")");
    } else {
        std::copy(std::begin(model), std::end(model), byLookups);
    }

    for (int n = 0; n < kKeyTableSize; ++n) KeyTable[n] = Prefilled(n);
    LoadKeyTable();
    CompareTables(KeyTable, byLookups,
                  "LoadKeyTable(" + Show(stored) + ") differs from 256 lookups");
}

bool HasAny(const std::u16string& text, const std::u16string& chars) {
    return text.find_first_of(chars) != std::u16string::npos;
}

// Every path of a write that does not put its copy in place removes it: the
// work folder holds only the fuzzed file and its copy (and the lock file our
// writers share, which stays by design).
void RequireNoCopyLeft(const std::string& call) {
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(workDir)) {
        const std::string name = entry.path().filename().string();
        if (!(name.front() == '.' && name.ends_with(".lock"))) ++entries;
    }
    Require(entries == 2, call + " left a temporary file behind");
}

// The same write with one step of it failing (the Nth write of the copy, its
// flush, close or creation, or the replace): the file stays byte-identical,
// the failure is reported once, and no copy is left behind.
void CheckFailedWrite(const std::u16string& key, const std::u16string& value, std::size_t h) {
    WriteBytes(copyPathBytes, currentData, currentSize);
    platform::sim::ResetFiles();
    switch (h % 5) {
        case 0:
            platform::sim::FailNthWrite(static_cast<std::uint32_t>(1 + (h >> 3) % 4), 112);
            break;
        case 1:
            platform::sim::FailNextFlush(29);
            break;
        case 2:
            platform::sim::FailNextClose(112);
            break;
        case 3:
            platform::sim::FailNextCreates(static_cast<std::uint32_t>(1 + (h >> 3) % 150), 80);
            break;
        default:
            platform::sim::FailNextReplace(5);
            break;
    }
    reportedFailures = 0;
    const int result = WriteSettingValue(u"GENERAL", key.c_str(), value.c_str(), copyPath.c_str());
    platform::sim::ResetFiles();
    const std::string call = "WriteSettingValue(GENERAL, " + Show(key) + ", " + Show(value) +
                             ") under fault " + std::to_string(h % 5);
    std::vector<std::uint8_t> after = ReadBytes(copyPathBytes);
    std::vector<std::uint8_t> before(currentData, currentData + currentSize);
    if (result != kWriteReplaced) Require(after == before, call + " failed but changed the file");
    Require(reportedFailures == (result == kWriteFailed ? 1 : 0),
            call + " reported " + std::to_string(reportedFailures) + " failures");
    RequireNoCopyLeft(call);
}

// One write into a fresh copy of the input, checked three ways: a failed
// write leaves the copy byte-identical; a successful one changes exactly the
// key line the reader takes; reading the key back gives the value as the
// reader cleans it.
void CheckWrite(const reference::File& file, const std::u16string& section,
                const std::u16string& key, const std::u16string& value) {
    WriteBytes(copyPathBytes, currentData, currentSize);
    int result = WriteSettingValue(section.c_str(), key.c_str(), value.c_str(), copyPath.c_str());
    std::vector<std::uint8_t> after = ReadBytes(copyPathBytes);
    std::vector<std::uint8_t> before(currentData, currentData + currentSize);
    std::string call =
        "WriteSettingValue(" + Show(section) + ", " + Show(key) + ", " + Show(value) + ")";
    Require(result == 0 || result == 1, call + " result not 0 or 1");
    // What would not stay one line of valid text is refused untouched (the
    // engine sees the texts up to a NUL).
    if (RefusedSettingWrite(section.c_str(), key.c_str(), value.c_str()) != nullptr) {
        Require(result == kWriteUnchanged, call + " was not refused");
        Require(after == before, call + " was refused but changed the file");
        RequireNoCopyLeft(call);
        return;
    }

    std::optional<std::vector<std::uint8_t>> want = reference::Write(before, section, key, value);
    if (!want) {
        Require(result == 1, call + " succeeded where it must fail");
        Require(after == before, call + " failed but changed the file");
        return;
    }
    Require(result == 0, call + " failed on a key line of its own section");
    if (after != *want) {
        Fail(call + " wrote " + std::to_string(after.size()) + " bytes, expected " +
             std::to_string(want->size()));
    }

    // Read back. When the line before the key line is whole, the new line is
    // a line of its own and gives the written value as the reader cleans it.
    EngineRead back = ReadEngine(copyPath, section, key, kTextCapacity);
    reference::File rewritten = reference::Parse(after.data(), after.size());
    reference::ReadResult model = reference::Read(rewritten, section, key, u"ERROR", kTextCapacity);
    Require(
        back.result == model.result && back.value == model.value,
        call + ": reading it back gave " + Show(back.value) + ", the model " + Show(model.value));
    reference::ReadResult target = reference::Read(file, section, key, u"ERROR", kTextCapacity);
    std::u16string newLine = key + u" = " + value + u"\n";
    bool plainText = !HasAny(key + value, std::u16string(u"\n\r") + u'\0');
    bool unambiguous = plainText && newLine.size() <= reference::kLineUnits &&
                       !HasAny(key, u"=#") &&
                       file.lines[std::size_t(target.keyLine - 1)].endsWithLineFeed;
    if (unambiguous) {
        std::u16string cleaned = reference::Trim(newLine, u'=');
        if (cleaned.empty()) cleaned = u"ERROR";
        Require(back.value == cleaned,
                call + ": read back " + Show(back.value) + ", expected " + Show(cleaned));
    }
}

// SaveSettings into a copy: six writes in a fixed order, each of which the
// model applies to the result of the one before. With `odd` set, the record
// holds values that must not be written (a rate, parity or stop code outside
// the lists) or that are written as they are (port and data bits unchecked).
void CheckSave(bool odd) {
    if (odd) {
        SerialSettings.port = 11;
        SerialSettings.dataBits = 4;
        SerialSettings.baudRate = 12345;
        SerialSettings.parity = 5;
        SerialSettings.stopBits = 3;
        platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity,
                          u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    }
    const SerialSettingsRecord& s = SerialSettings;
    std::vector<std::pair<std::u16string, std::u16string>> keys = {
        {u"COM", Decimal(s.port)}, {u"DATA", Decimal(s.dataBits)}, {u"KEYTABLE", s.keyTableName}};
    for (std::uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                               56000u, 57600u, 115200u, 128000u, 256000u}) {
        if (s.baudRate == rate) keys.emplace_back(u"BAUDRATE", Decimal(int(rate)));
    }
    static const char16_t* const kParities[] = {u"NONE", u"ODD", u"EVEN", u"MARK", u"SPACE"};
    if (s.parity < 5) keys.emplace_back(u"PARITY", kParities[s.parity]);
    static const char16_t* const kStops[] = {u"1", u"1.5", u"2"};
    if (s.stopBits < 3) keys.emplace_back(u"STOP", kStops[s.stopBits]);

    // A key whose read stops at a line that is not its own ("KEY =" after
    // blanks) is not saved: that line belongs to another key.
    const reference::File original = reference::Parse(currentData, currentSize);
    auto ownLine = [&original](const std::u16string& key) {
        const long at = reference::Read(original, u"GENERAL", key, u"ERROR", 260).keyLine;
        if (at < 0) return true;
        const std::u16string& text = original.lines[static_cast<std::size_t>(at)].visible;
        auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
        std::size_t i = 0;
        while (i < text.size() && blank(text[i])) ++i;
        if (text.compare(i, key.size(), key) != 0) return false;
        i += key.size();
        while (i < text.size() && blank(text[i])) ++i;
        return i < text.size() && text[i] == u'=';
    };
    std::vector<std::uint8_t> want(currentData, currentData + currentSize);
    for (const auto& [key, value] : keys) {
        if (!ownLine(key)) continue;
        // A value read from the file may hold a lone carriage return, which
        // a write refuses.
        if (RefusedSettingWrite(u"GENERAL", key.c_str(), value.c_str()) != nullptr) continue;
        if (auto next = reference::Write(want, u"GENERAL", key, value)) want = *next;
    }
    WriteBytes(copyPathBytes, currentData, currentSize);
    platform::StrCopy(SettingsFilePath, kTextCapacity, copyPath.c_str());
    SaveSettings();
    platform::StrCopy(SettingsFilePath, kTextCapacity, settingsPath.c_str());
    std::vector<std::uint8_t> after = ReadBytes(copyPathBytes);
    if (after != want) {
        Fail(std::string("SaveSettings") + (odd ? " (odd record)" : "") + " left " +
             std::to_string(after.size()) + " bytes, expected " + std::to_string(want.size()));
    }
}

// Up to three key names as the file itself spells them (the text before an
// "=", without the blanks around it), so reads and writes also try keys the
// fuzzer made up.
std::vector<std::u16string> KeysInFile(const reference::File& file) {
    std::vector<std::u16string> keys;
    for (const reference::Line& line : file.lines) {
        std::size_t equals = line.visible.find(u'=');
        if (equals == std::u16string::npos) continue;
        std::u16string key = line.visible.substr(0, equals);
        std::size_t first = key.find_first_not_of(u' ');
        if (first == std::u16string::npos || equals > 40) continue;
        key = key.substr(first, key.find_last_not_of(u' ') + 1 - first);
        keys.push_back(key);
        if (keys.size() == 3) break;
    }
    return keys;
}

void QuietReporter(const char16_t*) {
    ++reportedFailures;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every write flushes its file to disk; on a memory file system that
    // costs nothing, which keeps the fuzzer at hundreds of inputs a second.
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/quorvel-fuzz-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "cannot create a temporary directory");
    workDir = pattern;
    settingsPathBytes = (workDir / "settings.ini").string();
    copyPathBytes = (workDir / "copy.ini").string();
    settingsPath.assign(settingsPathBytes.begin(), settingsPathBytes.end());
    copyPath.assign(copyPathBytes.begin(), copyPathBytes.end());
    SetSettingsErrorReporter(QuietReporter);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(workDir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    currentData = data;
    currentSize = size;
    WriteBytes(settingsPathBytes, data, size);
    reference::File file = reference::Parse(data, size);

    CheckCleanups(file);
    std::vector<std::u16string> sections = CheckSectionList(file);

    std::vector<std::u16string> readSections = {u"GENERAL", u"ERROR", u"X"};
    for (std::size_t i = 0; i < sections.size() && i < 3; ++i) readSections.push_back(sections[i]);
    std::vector<std::u16string> keys = {u"COM", u"KEYTABLE", u"0", u"1", u"12", u"255", u"=", u""};
    std::vector<std::u16string> fileKeys = KeysInFile(file);
    keys.insert(keys.end(), fileKeys.begin(), fileKeys.end());
    for (const std::u16string& section : readSections) {
        for (const std::u16string& key : keys) {
            for (std::uint32_t count :
                 {std::uint32_t{kTextCapacity}, std::uint32_t{kSectionNameCapacity}, 1u})
                CheckRead(file, section, key, count);
        }
    }

    // Header texts of 259 and 260 units: the second does not fit the buffer
    // and must give the default rather than a match on a cut header.
    CheckRead(file, std::u16string(kTextCapacity - 3, u'S'), u"COM", kTextCapacity);
    CheckRead(file, std::u16string(kTextCapacity - 2, u'S'), u"COM", kTextCapacity);

    platform::StrCopy(SettingsFilePath, kTextCapacity, settingsPath.c_str());
    CheckGeneral(file);
    if (!sections.empty()) CheckKeyTable(file, sections[0]);
    CheckKeyTable(file, u"ERROR");

    // Which key and value the second write uses follows from the input, so
    // that the fuzzer can steer it.
    static const std::u16string kKeys[] = {u"COM", u"KEYTABLE", u"0", u"1", u"255", u"=", u""};
    static const std::u16string kValues[] = {u"3",
                                             u"a b",
                                             u"  padded  ",
                                             u"x # c",
                                             u"2 = 3",
                                             u"",
                                             u"#",
                                             u"ERROR",
                                             u"\u00E9\u20AC",
                                             std::u16string(250, u'v'),
                                             u"41,s",
                                             u"3\n[Evil]",
                                             u"a\rb",
                                             u"\xD800",
                                             u"\xDC41x",
                                             u"\xD83D\xDE00"};
    std::size_t h = size;
    for (std::size_t i = 0; i < size; ++i) h = h * 31 + data[i];
    std::u16string section =
        sections.empty() ? std::u16string(u"X") : sections[h % sections.size()];
    CheckSave((h & 2) != 0);
    CheckWrite(file, u"GENERAL", u"COM", u"3");
    std::u16string key = kKeys[(h >> 1) % std::size(kKeys)];
    if (!fileKeys.empty() && (h & 0x100) != 0) key = fileKeys[(h >> 9) % fileKeys.size()];
    CheckWrite(file, (h & 1) ? u"GENERAL" : section, key, kValues[(h >> 4) % std::size(kValues)]);
    CheckFailedWrite(u"COM", kValues[(h >> 4) % std::size(kValues)], h >> 8);
    return 0;
}
