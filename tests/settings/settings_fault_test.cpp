// A failure at any step of a write (full disk, failed flush or close, a read
// error, a refused replace) leaves the settings file byte-identical.
#include "settings_test_support.h"

using namespace settings_test;

namespace {

class SettingsFault : public SettingsFileTest {
  protected:
    void SetUp() override {
        SettingsFileTest::SetUp();
        // Long enough to need several buffer-fulls and writes.
        original_ = "\xEF\xBB\xBF[GENERAL]\r\nCOM = 2\r\n";
        for (int i = 0; i < 2000; ++i) original_ += "# filler line " + std::to_string(i) + "\r\n";
        original_ += "[T]\r\n0 = 41\r\n";
        Put(original_);
    }
    void ExpectUnchanged() {
        EXPECT_EQ(Contents(), original_);
        EXPECT_EQ(Read(u"GENERAL", u"COM"), "2");
    }
    std::string original_;
};

std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const auto& box : platform::sim::MessageBoxes()) {
        EXPECT_FALSE(box.hasCaption);
        texts.push_back(Narrow(box.text.c_str()));
    }
    return texts;
}

}  // namespace

TEST_F(SettingsFault, DiskFullOnAnyWriteLeavesTheFileIntact) {
    // Count the writes of a clean run, then fail each one in turn.
    Put(original_);
    ASSERT_EQ(Write(u"T", u"0", u"42"), 0);
    std::uint32_t writes = platform::sim::FileCalls().writes;
    ASSERT_GT(writes, 3u);
    for (std::uint32_t n = 1; n <= writes; ++n) {
        Put(original_);
        platform::sim::ResetFiles();
        platform::sim::FailNthWrite(n, platform::kErrorDiskFull);
        EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed) << "write " << n;
        ExpectUnchanged();
        EXPECT_EQ(Files(), std::vector<std::string>{"QuorvelCE.INI"})
            << "a partial copy is removed";
        EXPECT_EQ(platform::sim::FileCalls().replaces, 0u);
    }
    // Each failed write reports its code once.
    EXPECT_EQ(Messages(), std::vector<std::string>(writes, "112"));
}

TEST_F(SettingsFault, FailedFlushOrCloseOfTheCopyLeavesTheFileIntact) {
    platform::sim::FailNextFlush(platform::kErrorWriteFault);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed);
    ExpectUnchanged();
    // The first close of a write is that of the temporary file.
    platform::sim::FailNextClose(platform::kErrorDiskFull);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed);
    ExpectUnchanged();
    EXPECT_EQ(platform::sim::FileCalls().replaces, 0u);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"29", "112"}));
}

TEST_F(SettingsFault, ReadErrorIsNotMistakenForTheEndOfTheFile) {
    // The second read comes after the first buffer-full of the file.
    platform::sim::FailNthRead(2, platform::kErrorWriteFault);
    EXPECT_EQ(Write(u"T", u"0", u"42"), kWriteFailed);
    ExpectUnchanged();
    EXPECT_EQ(platform::sim::FileCalls().replaces, 0u);
    EXPECT_EQ(Messages(), std::vector<std::string>{"29"});
}

TEST_F(SettingsFault, TemporaryFileThatCannotBeCreatedChangesNothingAndIsReported) {
    // A folder the user may not write into (a program folder).
    platform::sim::FailNextCreate(platform::kErrorAccessDenied);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed);
    ExpectUnchanged();
    EXPECT_EQ(Messages(), std::vector<std::string>{"5"});
    EXPECT_EQ(Files(), std::vector<std::string>{"QuorvelCE.INI"});
}

TEST_F(SettingsFault, FailedReplaceShowsTheCodeAndKeepsTheFile) {
    platform::sim::FailNextReplace(platform::kErrorAccessDenied);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed);
    ExpectUnchanged();
    EXPECT_EQ(Messages(), std::vector<std::string>{"5"});
    // The copy was complete and flushed before the replace was tried.
    EXPECT_EQ(platform::sim::FileCalls().flushes, 1u);
    // No copy is left behind, and the next write goes through.
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "3");
    EXPECT_EQ(Files(), std::vector<std::string>{"QuorvelCE.INI"});
}

TEST_F(SettingsFault, TakenTemporaryNamesAreSkippedAndNeverOpened) {
    platform::sim::FailNextCreates(5, platform::kErrorFileExists);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "3");
    EXPECT_EQ(platform::sim::FileCalls().creates, 6u);
    EXPECT_EQ(Files(), std::vector<std::string>{"QuorvelCE.INI"});
}

TEST_F(SettingsFault, ReporterCanBeReplaced) {
    static std::string reported;
    SetSettingsErrorReporter([](const char16_t* text) { reported = Narrow(text); });
    platform::sim::FailNextReplace(platform::kErrorDiskFull);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), kWriteFailed);
    EXPECT_EQ(reported, "112");
    EXPECT_TRUE(Messages().empty());
    SetSettingsErrorReporter(nullptr);
}

TEST_F(SettingsFault, SuccessfulWriteFlushesBeforeTheReplace) {
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    auto calls = platform::sim::FileCalls();
    EXPECT_EQ(calls.flushes, 1u);
    EXPECT_EQ(calls.replaces, 1u);
    EXPECT_EQ(calls.deletes, 0u);              // never a moment without a settings file
    EXPECT_EQ(calls.opens, calls.closes - 1);  // every file opened is closed (+ the copy)
}
