// Shared helpers for the settings tests: a fresh temporary directory per test
// with real files in it, and byte-exact file contents.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND
#include "platform/sim/files.h"
#include "platform/sim/shell.h"
#endif
#include "keymap/key_table.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"

namespace settings_test {

inline std::u16string Wide(const std::string& utf8) {
    std::u16string out(utf8.size() + 1, u'\0');
    auto n = platform::DecodeUtf8Terminated(utf8.data(), utf8.size(), out.data(), out.size());
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

inline std::string Narrow(const char16_t* text) {
    std::string out(platform::StrLen(text) * 3 + 1, '\0');
    auto n = platform::EncodeUtf8(text, reinterpret_cast<unsigned char*>(out.data()), out.size());
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

// Each test gets its own directory, removed afterwards, and a clean sim. The
// tests that need no injected fault also run on the Windows backend (under
// wine), built with QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND.
class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device entropy;
        for (int attempt = 0; directory_.empty() && attempt < 100; ++attempt) {
            auto candidate = std::filesystem::temp_directory_path() /
                             ("quorvel-" + std::to_string(entropy()) + std::to_string(attempt));
            if (std::filesystem::create_directory(candidate)) directory_ = candidate;
        }
        ASSERT_FALSE(directory_.empty());
#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND
        platform::sim::ResetFiles();
        platform::sim::ResetShell();
#endif
#ifdef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND
        // A real message box would wait for a user.
        SetSettingsErrorReporter([](const char16_t*){});
#else
        SetSettingsErrorReporter(nullptr);
#endif
        SerialSettings = {};
        for (KeyTableEntry& entry : KeyTable) entry = {};
        file_ = Path("QuorvelCE.INI");
    }
    void TearDown() override {
#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND
        platform::sim::ResetFiles();
#endif
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    std::u16string Path(const std::string& name) const {
        return (directory_ / std::filesystem::path(name).make_preferred()).u16string();
    }
    std::filesystem::path FsPath(const std::string& name) const {
        return directory_ / name;
    }

    void Put(const std::string& bytes) const {
        PutFile("QuorvelCE.INI", bytes);
    }
    void PutFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(directory_ / name, std::ios::binary);
        out << bytes;
    }
    std::string Contents() const {
        return FileContents("QuorvelCE.INI");
    }
    std::string FileContents(const std::string& name) const {
        std::ifstream in(directory_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool Exists(const std::string& name) const {
        return std::filesystem::exists(directory_ / name);
    }
    // The names in the test's directory (links included), sorted: shows any
    // copy a write left behind.
    std::vector<std::string> Files(const std::string& folder = "") const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory_ / folder)) {
            // The lock file our writers share stays beside a rewritten file
            // by design: it is no leftover copy.
            const std::string name = entry.path().filename().string();
            if (!(name.front() == '.' && name.ends_with(".lock"))) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // ReadSettingValue with the absent marker as default, as every caller does.
    std::string Read(const char16_t* section, const char16_t* key, std::uint32_t count = 260,
                     int* result = nullptr) const {
        char16_t value[300];
        int r = ReadSettingValue(section, key, u"ERROR", value, count, file_.c_str());
        if (result != nullptr) *result = r;
        return Narrow(value);
    }
    int Write(const char16_t* section, const char16_t* key, const char16_t* value) const {
        return WriteSettingValue(section, key, value, file_.c_str());
    }

    std::filesystem::path directory_;
    std::u16string file_;
};

}  // namespace settings_test
