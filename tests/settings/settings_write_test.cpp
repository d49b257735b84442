// Rewriting one key line: everything else comes out byte for byte, and no
// failure at any step leaves the settings file changed or missing.
#include "settings_test_support.h"

#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/services.h"
#endif

using namespace settings_test;

using SettingsWrite = SettingsFileTest;

TEST_F(SettingsWrite, ReplacesOnlyTheKeyLine) {
    Put("# settings\n[GENERAL]\n\nCOM=2   # port\n  # trailing comment\nDATA = 8");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "# settings\n[GENERAL]\n\nCOM = 3\n  # trailing comment\nDATA = 8");
    EXPECT_EQ(Files(), std::vector<std::string>{"QuorvelCE.INI"});
    // The last line without a line end gains one only when it is replaced.
    EXPECT_EQ(Write(u"GENERAL", u"DATA", u"7"), 0);
    EXPECT_EQ(Contents(), "# settings\n[GENERAL]\n\nCOM = 3\n  # trailing comment\nDATA = 7\n");
}

TEST_F(SettingsWrite, ReplacesTheSameLineThatAReadTakes) {
    Put("[GENERAL]\n# COM port\nCOM = 2\n");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"5"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\nCOM = 5\nCOM = 2\n");
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "5");
}

TEST_F(SettingsWrite, WrittenValuesReadBackCleaned) {
    Put("[GENERAL]\nKEYTABLE = A\n");
    EXPECT_EQ(Write(u"GENERAL", u"KEYTABLE", u"  AZERTY # fr  "), 0);
    EXPECT_EQ(Read(u"GENERAL", u"KEYTABLE"), "AZERTY");
    const std::string written = Contents();
    // What would not stay one line of text is refused, the file untouched.
    EXPECT_EQ(Write(u"GENERAL", u"KEYTABLE", u"B\n[Evil]"), kWriteUnchanged);
    EXPECT_EQ(Write(u"GENERAL", u"", u"B"), kWriteUnchanged);
    EXPECT_EQ(Write(u"GENERAL", u"KEYTABLE", u"\xD800"), kWriteUnchanged);
    EXPECT_EQ(Contents(), written);
}

TEST_F(SettingsWrite, MissingFileSectionOrKeyChangesNothingAndLeavesNoCopy) {
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 1);
    EXPECT_TRUE(Files().empty());

    const std::vector<std::string> only = {"QuorvelCE.INI"};
    const std::string original = "[GENERAL]\nCOM = 2\n[T]\n0 = 41\n";
    Put(original);
    EXPECT_EQ(Write(u"NOPE", u"COM", u"3"), 1);
    EXPECT_EQ(Contents(), original);
    EXPECT_EQ(Files(), only);
    EXPECT_EQ(Write(u"T", u"7", u"3"), 1);
    EXPECT_EQ(Contents(), original);
    EXPECT_EQ(Files(), only);

    Put("");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 1);
    EXPECT_EQ(Contents(), "");
    EXPECT_EQ(Files(), only);
}

TEST_F(SettingsWrite, KeyMissingFromItsOwnSectionTouchesNoOtherSection) {
    // A read finds COM in the later section; a write must not change it there.
    const std::string original = "[GENERAL]\nDATA = 8\n  [OTHER]\nCOM = 4\n";
    Put(original);
    EXPECT_EQ(Read(u"GENERAL", u"COM"), "4");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 1);
    EXPECT_EQ(Contents(), original);
    // Nor may it replace the header of the next section that holds the key name.
    const std::string headers = "[GENERAL]\nDATA = 8\n[COM]\n1 = 2\n";
    Put(headers);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 1);
    EXPECT_EQ(Contents(), headers);
    // A header text inside a comment does not end the section.
    Put("[GENERAL]\n# see [T]\nCOM = 1\n");
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(Contents(), "[GENERAL]\n# see [T]\nCOM = 3\n");
}

TEST_F(SettingsWrite, TheTemporaryFileIsANewOneOfOurOwnBesideTheSettingsFile) {
    // Files whose names the old temporary naming took are not touched.
    PutFile("n.TMP", "keep\n");
    PutFile("n.ini", "[GENERAL]\nCOM = 1\n");
    std::u16string n = Path("n.ini");
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"2", n.c_str()), 0);
    EXPECT_EQ(FileContents("n.ini"), "[GENERAL]\nCOM = 2\n");
    EXPECT_EQ(FileContents("n.TMP"), "keep\n");
    EXPECT_EQ(Files(), (std::vector<std::string>{"n.TMP", "n.ini"}));

    // A "." in a directory name does not move the temporary file elsewhere.
    std::filesystem::create_directory(FsPath("conf.d"));
    PutFile("conf.d/QuorvelCE.INI", "[GENERAL]\nCOM = 2\n[X]\n");
    std::u16string path = Path("conf.d/QuorvelCE.INI");
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"3", path.c_str()), 0);
    EXPECT_EQ(FileContents("conf.d/QuorvelCE.INI"), "[GENERAL]\nCOM = 3\n[X]\n");
    EXPECT_EQ(Files("conf.d"), std::vector<std::string>{"QuorvelCE.INI"});
    EXPECT_EQ(Files(), (std::vector<std::string>{"conf.d", "n.TMP", "n.ini"}));
}

#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND  // POSIX symbolic links
TEST_F(SettingsWrite, LinksAreNeverWrittenThroughButALinkedSettingsFileIsUpdatedWhereItPoints) {
    namespace fs = std::filesystem;
    // A link where the old temporary name was: its target is not written.
    PutFile("target.txt", "target\n");
    fs::create_symlink(FsPath("target.txt"), FsPath("m.TMP"));
    PutFile("m.ini", "[GENERAL]\nCOM = 1\n");
    std::u16string m = Path("m.ini");
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"2", m.c_str()), 0);
    EXPECT_EQ(FileContents("target.txt"), "target\n");
    EXPECT_TRUE(fs::is_symlink(FsPath("m.TMP")));
    EXPECT_FALSE(fs::is_symlink(FsPath("m.ini")));
    EXPECT_EQ(FileContents("m.ini"), "[GENERAL]\nCOM = 2\n");

    // The settings file itself a link (into another folder): the file it
    // points to is replaced there, and the link stays a link to it.
    fs::create_directory(FsPath("real"));
    PutFile("real/QuorvelCE.INI", "[GENERAL]\nCOM = 4\n");
    fs::create_symlink(FsPath("real/QuorvelCE.INI"), FsPath("QuorvelCE.INI"));
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"5"), 0);
    EXPECT_TRUE(fs::is_symlink(FsPath("QuorvelCE.INI")));
    EXPECT_EQ(FileContents("real/QuorvelCE.INI"), "[GENERAL]\nCOM = 5\n");
    EXPECT_EQ(Files("real"), std::vector<std::string>{"QuorvelCE.INI"});
    EXPECT_EQ(Files(),
              (std::vector<std::string>{"QuorvelCE.INI", "m.TMP", "m.ini", "real", "target.txt"}));
}
#endif

TEST_F(SettingsWrite, TextsThatDoNotFitTheirBuffersFailCleanly) {
    Put("[GENERAL]\nCOM = 2\n");
    std::u16string longSection(258, u'S');
    EXPECT_EQ(Write(longSection.c_str(), u"COM", u"3"), 1);
    EXPECT_EQ(Files(), std::vector<std::string>{"QuorvelCE.INI"});

    // A path of 259 units fits, but its temporary name would need more.
    std::string name(259 - (directory_.string().size() + 1), 'n');
    PutFile(name, "[GENERAL]\nCOM = 2\n");
    std::u16string path = Path(name);
    ASSERT_EQ(path.size(), 259u);
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"3", path.c_str()), kWriteFailed);
    EXPECT_EQ(FileContents(name), "[GENERAL]\nCOM = 2\n");

    // A key line must fit the piece a read takes (259 units), or the value
    // would be read back cut: the longest that fits is written and read
    // back whole, one more unit is refused and leaves the file as it was.
    std::u16string value(259 - 6, u'v');
    EXPECT_EQ(Write(u"GENERAL", u"COM", value.c_str()), 0);
    EXPECT_EQ(Read(u"GENERAL", u"COM"), std::string(253, 'v'));
    const std::string before = Contents();
    EXPECT_EQ(Write(u"GENERAL", u"COM", (value + u"v").c_str()), 1);
    EXPECT_EQ(Contents(), before);
    std::u16string huge(70000, u'v');
    EXPECT_EQ(Write(u"GENERAL", u"COM", huge.c_str()), 1);
    EXPECT_EQ(Contents(), before);
}

#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND  // POSIX permissions
TEST_F(SettingsWrite, RewrittenFileKeepsItsPermissions) {
    Put("[GENERAL]\nCOM = 2\n");
    namespace fs = std::filesystem;
    fs::permissions(FsPath("QuorvelCE.INI"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Write(u"GENERAL", u"COM", u"3"), 0);
    EXPECT_EQ(fs::status(FsPath("QuorvelCE.INI")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}
#endif

#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND  // POSIX processes
TEST_F(SettingsWrite, ACopyLeftByAKilledWriterGoesAtTheNextWriteOnceItsProcessIsGone) {
    // A process that has ended: its id names no running process now.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = ".n.ini." + std::to_string(child) + "-7.tmp";
    const std::string running = ".n.ini." + std::to_string(::getpid()) + "-9999.tmp";
    PutFile(dead, "[GENERAL]\nCOM = 5\n");
    PutFile(running, "[GENERAL]\nCOM = 6\n");
    PutFile(".n.ini.x-1.tmp", "not ours\n");
    PutFile("n.ini", "[GENERAL]\nCOM = 1\n");
    std::u16string n = Path("n.ini");
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"2", n.c_str()), 0);
    EXPECT_EQ(FileContents("n.ini"), "[GENERAL]\nCOM = 2\n");
    EXPECT_EQ(Files(), (std::vector<std::string>{running, ".n.ini.x-1.tmp", "n.ini"}));
}
#endif

#ifndef QUORVEL_SETTINGS_TESTS_ON_REAL_BACKEND  // POSIX pipes, devices and owners
namespace {
std::string reported;
void KeepReported(const char16_t* text) {
    reported = Narrow(text);
}
}  // namespace

TEST_F(SettingsWrite, PipesDevicesAndEndlessFilesAreRefusedAtOnceAndNeverWritten) {
    namespace fs = std::filesystem;
    ASSERT_EQ(::mkfifo(FsPath("fifo.ini").c_str(), 0600), 0);
    fs::create_symlink(FsPath("fifo.ini"), FsPath("fifo-link.ini"));
    fs::create_symlink("/dev/zero", FsPath("zero-link.ini"));
    // Sparse: 17 MB of zero bytes after a real GENERAL section.
    PutFile("big.ini", "[GENERAL]\nCOM = 3\n");
    fs::resize_file(FsPath("big.ini"), 17u << 20);
    SetSettingsErrorReporter(KeepReported);
    const struct {
        std::u16string path;
        SettingsFileState state;
        const char* code;
    } cases[] = {{Path("fifo.ini"), SettingsFileState::kNotRegular, "222"},
                 {Path("fifo-link.ini"), SettingsFileState::kNotRegular, "222"},
                 {u"/dev/zero", SettingsFileState::kNotRegular, "222"},
                 {Path("zero-link.ini"), SettingsFileState::kNotRegular, "222"},
                 {Path("big.ini"), SettingsFileState::kTooLarge, "223"}};
    for (const auto& file : cases) {
        SCOPED_TRACE(Narrow(file.path.c_str()));
        EXPECT_EQ(DiagnoseSettingsFile(file.path.c_str()).state, file.state);
        char16_t value[kTextCapacity];
        bool unreadable = false;
        EXPECT_EQ(ReadSettingValue(u"GENERAL", u"KEY", u"ERROR", value, kTextCapacity,
                                   file.path.c_str(), &unreadable),
                  1);
        EXPECT_TRUE(unreadable);
        reported.clear();
        EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"4", file.path.c_str()), kWriteFailed);
        EXPECT_EQ(reported, file.code);
    }
    EXPECT_EQ(fs::file_size(FsPath("big.ini")), 17u << 20);
    EXPECT_EQ(FileContents("big.ini").substr(0, 18), "[GENERAL]\nCOM = 3\n");
    EXPECT_FALSE(fs::exists("/dev/.zero.lock"));
    EXPECT_TRUE(fs::is_fifo(FsPath("fifo.ini")));
    SetSettingsErrorReporter(nullptr);
}

TEST_F(SettingsWrite, TheRewriteTouchesOnlyWhatIsOurOwnAndNeverGoesOnUnlocked) {
    namespace fs = std::filesystem;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string gone = ".n.ini." + std::to_string(child);
    PutFile("victim", "someone else's\n");
    fs::create_symlink(FsPath("victim"), FsPath(gone + "-1.tmp"));
    PutFile(gone + "-2.tmp", "another user's\n");
    // Another user's file needs root to make; without it the file is ours and goes.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(FsPath(gone + "-2.tmp").c_str(), 65534, 65534), 0);
    }
    PutFile(".n.ini.0-9.tmp", "no process of ours\n");
    PutFile(gone + "-3.tmp", "[GENERAL]\nCOM = 5\n");
    PutFile("n.ini", "[GENERAL]\nCOM = 1\n");
    const std::u16string n = Path("n.ini");
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"2", n.c_str()), kWriteReplaced);
    std::vector<std::string> left{".n.ini.0-9.tmp", gone + "-1.tmp", "n.ini", "victim"};
    if (root) left.push_back(gone + "-2.tmp");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(Files(), left);
    EXPECT_EQ(FileContents("victim"), "someone else's\n");

    // A link in the lock's place is no lock: the write fails, as for a held lock.
    SetSettingsErrorReporter(KeepReported);
    fs::remove(FsPath(".n.ini.lock"));
    fs::create_symlink(FsPath("elsewhere"), FsPath(".n.ini.lock"));
    reported.clear();
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"3", n.c_str()), kWriteFailed);
    EXPECT_EQ(reported, "32");
    EXPECT_FALSE(fs::exists(FsPath("elsewhere")));
    fs::remove(FsPath(".n.ini.lock"));

    // A lock another writer holds: the write gives up with 32 after the
    // program's short wait and changes nothing.
    const std::u16string lockName = Path(".n.ini.lock");
    const platform::FileHandle held = platform::OpenLockedFile(lockName.c_str(), 0);
    ASSERT_NE(held, platform::kInvalidFile);
    reported.clear();
    EXPECT_EQ(WriteSettingValue(u"GENERAL", u"COM", u"3", n.c_str()), kWriteFailed);
    EXPECT_EQ(reported, "32");
    platform::CloseLockedFile(held);
    EXPECT_EQ(FileContents("n.ini"), "[GENERAL]\nCOM = 2\n");
    SetSettingsErrorReporter(nullptr);
}
#endif
