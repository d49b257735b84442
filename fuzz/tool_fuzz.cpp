// libFuzzer target for quorvel-ini's own readers: the input bytes become a
// settings file for `check` (as a whole and for its first sections) and a
// character list for `generate`. Whatever the input, the tool ends with one
// of its documented statuses, and check never disagrees with the engine
// (status 3 is the tool's own reading of a file differing from the program's).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/commands.h"
#include "tools/text_conversion.h"

namespace {

std::filesystem::path workDir;
std::u16string inputPath;
std::size_t currentSize = 0;

void Require(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "\ntool_fuzz: %s (input of %zu bytes)\n", what.c_str(), currentSize);
    std::abort();
}

int Run(const ToolArgs& args, ToolOutput& io) {
    io = ToolOutput{};
    return RunQuorvelIni(args, io);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/quorvel-tool-fuzz-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "cannot create a temporary directory");
    workDir = pattern;
    inputPath = FromUtf8((workDir / "input.ini").string());
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(workDir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    currentSize = size;
    {
        std::ofstream out(workDir / "input.ini", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    ToolOutput io;
    int status = Run({u"check", inputPath}, io);
    Require(status == 0 || status == 1,
            "check ended with status " + std::to_string(status) + ": " + io.err);
    status = Run({u"sections", inputPath}, io);
    Require(status == 0, "sections ended with status " + std::to_string(status));
    // The first listed section checked alone, as a user checks one table.
    const std::size_t end = io.out.find('\n');
    if (end != std::string::npos && end > 0) {
        status = Run({u"check", inputPath, FromUtf8(io.out.substr(0, end))}, io);
        Require(status == 0 || status == 1,
                "check SECTION ended with status " + std::to_string(status) + ": " + io.err);
    }
    // The same bytes as a character list: a table that passes check, or a
    // refusal with the list's line.
    status = Run({u"generate", u"Fuzz", inputPath}, io);
    Require(status == 0 || status == 1, "generate ended with status " + std::to_string(status));
    if (status == 0) {
        {
            std::ofstream out(workDir / "generated.ini", std::ios::binary | std::ios::trunc);
            out << io.out;
        }
        const std::u16string generated = FromUtf8((workDir / "generated.ini").string());
        status = Run({u"check", generated, u"Fuzz"}, io);
        Require(status == 0, "a generated table fails check: " + io.out);
    }
    return 0;
}
