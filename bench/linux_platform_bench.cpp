// The Linux backend's share of typing speed: how close 600 paced 1 ms pauses
// (a 100-keystroke line at a 1 ms stroke delay) come to 600 ms, as Sleep and
// as the timed event wait the reception thread pauses with; and how long a
// byte takes from the scanner's side of a pty to the end of WaitCommEvent and
// ReadFile. With an X display: what binding a line's characters to spare key
// codes ahead of typing it costs, and what a line whose characters are still
// bound costs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/serial/port_names.h"
#include "platform/services.h"

namespace {

using namespace platform;
using Clock = std::chrono::steady_clock;

constexpr int kPauses = 600;

template <class Pause>
void Paced(benchmark::State& state, Pause pause) {
    double ratio = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int i = 0; i < kPauses; ++i) pause();
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        ratio = took.count() / kPauses;
        state.SetIterationTime(took.count() / 1000);
    }
    state.counters["x_ideal"] = ratio;
}

void BM_SleepPacing1ms(benchmark::State& state) {
    Paced(state, [] { Sleep(1); });
}
BENCHMARK(BM_SleepPacing1ms)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_EventWaitPacing1ms(benchmark::State& state) {
    const EventHandle event = CreateEventW(true, false, nullptr);
    Paced(state, [&] { WaitForSingleObject(event, 1); });
    CloseHandle(event);
}
BENCHMARK(BM_EventWaitPacing1ms)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PtyByteToRead(benchmark::State& state) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        state.SkipWithError("no pty");
        return;
    }
    char folder[] = "/tmp/quorvel-bench-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(folder);
    std::filesystem::create_directories(dir / "ports");
    std::filesystem::create_symlink(::ptsname(master), dir / "ports" / "com1");
    linux_backend::SetPortsFolder(dir.string());
    const PortHandle port =
        CreateFileW(u"COM1:", kGenericRead | kGenericWrite, 0, kOpenExisting, 0);
    SetCommMask(port, kEvRxChar);
    SetCommTimeouts(port, CommTimeouts{kMaxDword, 0, 1000, 0, 0});
    for (auto _ : state) {
        const char byte = '5';
        if (::write(master, &byte, 1) != 1) state.SkipWithError("write");
        std::uint32_t mask = 0, got = 0;
        unsigned char in = 0;
        if (!WaitCommEvent(port, &mask) || !ReadFile(port, &in, 1, &got) || got != 1)
            state.SkipWithError("read");
    }
    CloseHandle(port);
    ::close(master);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PtyByteToRead)->Unit(benchmark::kMicrosecond);

// Eight characters no `us` key types; two such lines take turns, so each
// preparation binds eight codes anew, or (`bound`) the same line again binds none.
void PrepareLines(benchmark::State& state, bool bound) {
    if (std::getenv("DISPLAY") == nullptr) {
        state.SkipWithError("no X display");
        return;
    }
    const char16_t lines[2][8] = {{u'é', u'è', u'à', u'ç', u'ñ', u'€', u'£', u'§'},
                                  {u'â', u'ê', u'î', u'ô', u'û', u'Ä', u'Ö', u'µ'}};
    int turn = 0;
    for (auto _ : state) {
        PrepareCharacters(lines[turn], 8);
        if (!bound) turn ^= 1;
    }
}

void BM_PrepareLineOfNewCharacters(benchmark::State& state) {
    PrepareLines(state, false);
}
BENCHMARK(BM_PrepareLineOfNewCharacters)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_PrepareLineAlreadyBound(benchmark::State& state) {
    PrepareLines(state, true);
}
BENCHMARK(BM_PrepareLineAlreadyBound)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
