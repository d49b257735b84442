// The POSIX file code that the Linux and simulated backends share, on real
// files: a rewrite's copy is only ever a new file of our own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/posix/posix_files.h"
#include "platform/services.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(PosixFiles, CreateNewNeverOpensEmptiesOrFollowsWhatIsThere) {
    const fs::path folder =
        fs::temp_directory_path() / ("quorvel-posix-" + std::to_string(std::random_device{}()));
    fs::create_directory(folder);
    const fs::path taken = folder / "taken.tmp";
    const fs::path target = folder / "target.txt";
    const fs::path link = folder / "link.tmp";
    const fs::path dangling = folder / "dangling.tmp";
    std::ofstream(taken) << "someone's\n";
    std::ofstream(target) << "target\n";
    fs::create_symlink(target, link);
    fs::create_symlink(folder / "nowhere.txt", dangling);

    for (const fs::path& name : {taken, link, dangling}) {
        SCOPED_TRACE(name.string());
        SetLastError(0);
        EXPECT_EQ(posix::CreateNew(name.u16string().c_str()), kInvalidFile);
        EXPECT_EQ(GetLastError(), kErrorFileExists);
    }
    EXPECT_EQ(Contents(taken), "someone's\n");
    EXPECT_EQ(Contents(target), "target\n");
    EXPECT_FALSE(fs::exists(folder / "nowhere.txt"));

    // A free name gives a new file that only its owner may read.
    const fs::path fresh = folder / "fresh.tmp";
    const FileHandle file = posix::CreateNew(fresh.u16string().c_str());
    ASSERT_NE(file, kInvalidFile);
    EXPECT_TRUE(posix::Write(file, "x", 1));
    EXPECT_TRUE(posix::Close(file));
    struct stat info {};
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    fs::remove_all(folder);
}

}  // namespace
