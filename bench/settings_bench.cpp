// Speed of the settings work a Start does, on a big but realistic settings
// file: GENERAL plus ten full keyboard sections of 256 lines each. The table
// load must stay well under a millisecond; the final line compares it with
// the 256 separate key reads it stands for.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "keymap/key_table.h"
#include "platform/text.h"
#include "settings/general_settings.h"
#include "settings/settings_file.h"

namespace {

constexpr int kSections = 10;

std::filesystem::path workDir;
std::u16string settingsPath;

std::u16string Wide(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string SectionName(int i) {
    return "KEYBOARD_" + std::to_string(i);
}

// Key lines as a real table has them: every byte value, hex codes, and a
// share of Shift and AltGr entries.
void WriteSettingsFile(const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "[GENERAL]\nSTROKE_DELAY = 1\nCOM = 1\nBAUDRATE = 9600\nPARITY = NONE\n"
           "DATA = 8\nSTOP = 1\nKEYTABLE = "
        << SectionName(kSections - 1) << "\n\n";
    for (int s = 0; s < kSections; ++s) {
        out << "[" << SectionName(s) << "]\n";
        for (int n = 0; n < 256; ++n) {
            char line[64];
            const char* modifier = n % 5 == 1 ? ",Shift" : n % 11 == 2 ? ",AltGr" : "";
            std::snprintf(line, sizeof line, "%d = 0x%02X%s\n", n, (n * 7 + s) & 0xFF, modifier);
            out << line;
        }
        out << "\n";
    }
}

void SetUpFile() {
    if (!settingsPath.empty()) return;
    char pattern[] = "/tmp/quorvel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    workDir = pattern;
    WriteSettingsFile(workDir / "QuorvelCE.INI");
    settingsPath = Wide((workDir / "QuorvelCE.INI").string());
    platform::StrCopy(SettingsFilePath, kTextCapacity, settingsPath.c_str());
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    LoadGeneralSettings();
}

// The table the benchmarks load is the last one in the file, so a reader has
// to pass all the others first.
void SelectLastTable() {
    std::u16string name = Wide(SectionName(kSections - 1));
    platform::StrCopy(SerialSettings.keyTableName, kSectionNameCapacity, name.c_str());
}

void BM_LoadKeyTable(benchmark::State& state) {
    SetUpFile();
    SelectLastTable();
    for (auto _ : state) {
        LoadKeyTable();
        benchmark::DoNotOptimize(KeyTable);
    }
}
BENCHMARK(BM_LoadKeyTable)->Unit(benchmark::kMicrosecond);

void BM_256ReadSettingValue(benchmark::State& state) {
    SetUpFile();
    SelectLastTable();
    char16_t keys[256][4];
    for (int n = 0; n < 256; ++n) platform::FormatDecimal(keys[n], 4, n);
    char16_t value[kTextCapacity];
    for (auto _ : state) {
        for (int n = 0; n < 256; ++n) {
            ReadSettingValue(SerialSettings.keyTableName, keys[n], u"ERROR", value,
                             kTextCapacity, SettingsFilePath);
            benchmark::DoNotOptimize(value);
        }
    }
}
BENCHMARK(BM_256ReadSettingValue)->Unit(benchmark::kMicrosecond);

// What Start does with the settings file: reload the table, then write the
// six general keys back, each through a flushed temporary file.
void BM_StartPathSettings(benchmark::State& state) {
    SetUpFile();
    SelectLastTable();
    for (auto _ : state) {
        LoadKeyTable();
        SaveSettings();
    }
}
BENCHMARK(BM_StartPathSettings)->Unit(benchmark::kMicrosecond);

// Prints, after the usual table, how many times faster one table load is
// than the 256 separate reads, by CPU time (steady on a busy machine) and by
// wall time. With repetitions, the medians are compared.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            Times* times = run.run_name.function_name == "BM_LoadKeyTable"          ? &loadTable_
                           : run.run_name.function_name == "BM_256ReadSettingValue" ? &lookups_
                                                                                    : nullptr;
            if (times == nullptr || (times->median && !median)) continue;
            *times = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime(), median};
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (loadTable_.cpu > 0 && lookups_.cpu > 0) {
            std::printf(
                "LoadKeyTable vs 256 ReadSettingValue: CPU %.1f us vs %.1f us, ratio %.0fx; "
                "wall %.1f us vs %.1f us, ratio %.0fx\n",
                loadTable_.cpu, lookups_.cpu, lookups_.cpu / loadTable_.cpu, loadTable_.real,
                lookups_.real, lookups_.real / loadTable_.real);
        }
    }

  private:
    struct Times {
        double cpu = 0;
        double real = 0;
        bool median = false;
    };
    Times loadTable_;
    Times lookups_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    if (!workDir.empty()) std::filesystem::remove_all(workDir, ignored);
    return 0;
}
