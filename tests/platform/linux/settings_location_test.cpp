// Where the Linux program finds its settings file: beside the executable when
// it is there, else in the configuration folder, made from the installed
// default on the first start only; and the module name the core derives the
// file's path from.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/settings_location.h"
#include "platform/services.h"
#include "tests/platform/linux/pty_fixture.h"

namespace {

using namespace platform::linux_backend;
namespace fs = std::filesystem;
using quorvel_test::WriteFile;

std::string ReadFile(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

TEST(SettingsLocationTest, PortableFirstElseConfigFolderMadeFromTheDefaultOnce) {
    quorvel_test::ScratchFolder scratch;
    const fs::path root = scratch.Path();
    const fs::path bin = root / "usr/bin";
    fs::create_directories(bin);
    WriteFile(root / "usr/share/quorvelce/QuorvelCE.INI", "[GENERAL]\nCOM = 1\n");
    const fs::path config = root / "config";

    // Installed: the first start copies the default into the XDG folder.
    const std::string folder = ChooseSettingsFolder(bin, config.c_str(), "/nonexistent");
    EXPECT_EQ(folder, (config / "QuorvelCE").string());
    EXPECT_EQ(ReadFile(config / "QuorvelCE/QuorvelCE.INI"), "[GENERAL]\nCOM = 1\n");
    EXPECT_FALSE(fs::exists(config / "QuorvelCE/QuorvelCE.INI.new"));

    // The user's own file is never replaced by the default again.
    WriteFile(config / "QuorvelCE/QuorvelCE.INI", "[GENERAL]\nCOM = 4\n");
    EXPECT_EQ(ChooseSettingsFolder(bin, config.c_str(), nullptr), folder);
    EXPECT_EQ(ReadFile(config / "QuorvelCE/QuorvelCE.INI"), "[GENERAL]\nCOM = 4\n");

    // No XDG_CONFIG_HOME (or a relative one): ~/.config.
    const fs::path home = root / "home";
    EXPECT_EQ(ChooseSettingsFolder(bin, "relative", home.c_str()),
              (home / ".config/QuorvelCE").string());
    EXPECT_TRUE(fs::exists(home / ".config/QuorvelCE/QuorvelCE.INI"));

    // A portable folder: the file beside the executable wins, nothing is made.
    WriteFile(bin / "QuorvelCE.INI", "[GENERAL]\n");
    const fs::path other = root / "other";
    EXPECT_EQ(ChooseSettingsFolder(bin, other.c_str(), nullptr), bin.string());
    EXPECT_FALSE(fs::exists(other));

    // No installed default: the folder is named but nothing is created.
    const fs::path bare = root / "bare/bin";
    fs::create_directories(bare);
    EXPECT_EQ(ChooseSettingsFolder(bare, other.c_str(), nullptr), (other / "QuorvelCE").string());
    EXPECT_FALSE(fs::exists(other / "QuorvelCE/QuorvelCE.INI"));
}

// What sends the settings elsewhere, or leaves the program without a file,
// is told at start: one message each, naming the paths.
TEST(SettingsLocationTest, AnIniThatIsNoFileAndAFailedCopyAreTold) {
    quorvel_test::ScratchFolder scratch;
    const fs::path root = scratch.Path();
    const fs::path bin = root / "usr/bin";
    fs::create_directories(bin / "QuorvelCE.INI");  // a folder beside the program
    WriteFile(root / "usr/share/quorvelce/QuorvelCE.INI", "[GENERAL]\n");
    const fs::path config = root / "config";
    std::vector<std::string> problems;
    EXPECT_EQ(ChooseSettingsFolder(bin, config.c_str(), nullptr, &problems),
              (config / "QuorvelCE").string());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find((bin / "QuorvelCE.INI").string() + " est un dossier"),
              std::string::npos);
    EXPECT_NE(problems[0].find((config / "QuorvelCE/QuorvelCE.INI").string()), std::string::npos);

    // A link to nothing beside it, and a configuration folder that cannot be
    // made (a file stands in its way): two messages.
    fs::remove(bin / "QuorvelCE.INI");
    fs::create_symlink(root / "gone.ini", bin / "QuorvelCE.INI");
    WriteFile(root / "blocked", "");
    problems.clear();
    ChooseSettingsFolder(bin, (root / "blocked").c_str(), nullptr, &problems);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("est un lien vers rien"), std::string::npos);
    EXPECT_NE(problems[1].find("Copie des paramètres par défaut impossible vers " +
                               (root / "blocked/QuorvelCE/QuorvelCE.INI").string()),
              std::string::npos);
    EXPECT_NE(problems[1].find("Not a directory"), std::string::npos);

    // Nothing to tell for a portable folder or a first start that copies.
    fs::remove(bin / "QuorvelCE.INI");
    problems.clear();
    ChooseSettingsFolder(bin, config.c_str(), nullptr, &problems);
    EXPECT_TRUE(problems.empty());
}

TEST(SettingsLocationTest, ModuleNameIsTheWindowsProgramsNameInTheChosenFolder) {
    char16_t name[platform::kTextCapacity];
    // The tools set no folder: the real executable.
    ASSERT_GT(platform::GetModuleFileNameW(name, platform::kTextCapacity), 0u);
    EXPECT_EQ(std::u16string(name).find(u"QuorvelCE.exe"), std::u16string::npos);

    SetModuleFolder("/home/ann/.config/QuorvelCE");
    const std::uint32_t length = platform::GetModuleFileNameW(name, platform::kTextCapacity);
    EXPECT_EQ(std::u16string(name), u"/home/ann/.config/QuorvelCE/QuorvelCE.exe");
    EXPECT_EQ(length, std::u16string(name).size());
    // Too small a buffer: cut and the size returned, as Windows does.
    EXPECT_EQ(platform::GetModuleFileNameW(name, 8), 8u);
    SetModuleFolder("");
}

}  // namespace
