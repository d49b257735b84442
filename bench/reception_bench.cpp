// Speed of the path from received bytes to key events on the simulated
// platform: throughput of a realistic scan stream with no stroke delay, the
// heap allocations on that path (none allowed), and how close typing a line
// with a 1 ms stroke delay comes to the sum of its delays.
#include <benchmark/benchmark.h>

#include <ctime>
#include <random>
#include <string>
#include <thread>

#include "app/run_state.h"
#include "keymap/key_table.h"
#include "platform/services.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/serial.h"
#include "platform/sim/threads.h"
#include "platform/text.h"
#include "serial/reception.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"
#include "tests/support/counting_allocator.h"

using namespace platform;
using testing_support::CountedAllocations;
using testing_support::ResetCountedAllocations;

namespace {

std::uint32_t CountedReceptionThread(void* parameter) {
    testing_support::CountAllocationsOnThisThread();
    return ReceptionThreadProc(parameter);
}

void SetUpTable() {
    SerialSettings = {};
    for (KeyTableEntry& entry : KeyTable) entry = {};
    SerialSettings.port = 1;
    SerialSettings.baudRate = 9600;
    SerialSettings.dataBits = 8;
    for (int c = '0'; c <= '9'; ++c) KeyTable[c] = {0, 0, std::uint16_t(c)};
    for (int c = 'A'; c <= 'Z'; ++c) KeyTable[c] = {1, 0, std::uint16_t(c)};
    for (int c = 'a'; c <= 'z'; ++c) KeyTable[c] = {0, 0, std::uint16_t(c - 32)};
    KeyTable['-'] = {0, 0, 0xBD};
    KeyTable['@'] = {0, 1, '2'};
    KeyTable['\r'] = {0, 0, 0x0D};
}

// Lines of 8 to 30 characters (mostly digits and capitals, as bar codes
// are), each ending in a carriage return.
std::string ScanStream(std::size_t size) {
    static const char alphabet[] =
        "0123456789012345678901234567890123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef-@";
    std::mt19937 random(42);
    std::string stream;
    while (stream.size() < size) {
        std::size_t length = 8 + random() % 23;
        for (std::size_t i = 0; i < length; ++i)
            stream += alphabet[random() % (sizeof alphabet - 1)];
        stream += '\r';
    }
    return stream;
}

ThreadHandle StartReception() {
    sim::ResetSerial();
    sim::AttachSerialDevice(1);
    ConnectReception(RunStateLinks);
    AwaitReceptionThreadEnd(kNoThread);
    RunningFlag = 1;
    LineWaitFlag = 1;
    ThreadHandle thread = CreateThread(CountedReceptionThread, nullptr, nullptr);
    while (!sim::SerialDevice(1).open || sim::BlockedThreadCount(true) != 1)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    return thread;
}

// Polls gently: a tight loop here would fight the reception thread for the
// sim's lock and for the CPU, and be measured as its cost.
void WaitUntilIdle() {
    sim::WaitSerialDrained(1);
    while (sim::BlockedThreadCount(true) != 1)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// Feeds `stream` once per iteration to a running reception thread and counts
// what typing it cost.
void TypeStream(benchmark::State& state, const std::string& stream) {
    ThreadHandle thread = StartReception();
    ResetCountedAllocations();
    std::size_t bytes = 0;
    std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        sim::FeedSerial(1, stream);
        WaitUntilIdle();
        bytes += stream.size();
    }
    // The machine may be shared: the process's CPU time gives the rate the
    // path reaches when it has a core to itself.
    double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    state.counters["bytes_per_cpu_second"] = double(bytes) / cpuSeconds;
    state.SetBytesProcessed(std::int64_t(bytes));
    state.counters["key_events"] = double(sim::KeyEventCount());
    state.counters["allocations_on_reception_thread"] = double(CountedAllocations());
    QuitReception(thread);
}

void BM_ScanStreamNoDelay(benchmark::State& state) {
    SetUpTable();
    sim::SetClockMode(sim::ClockMode::Virtual);
    sim::ResetKeyboard(16);  // count, do not keep: the stream is long
    const std::string stream = ScanStream(std::size_t(state.range(0)));
    TypeStream(state, stream);
}
BENCHMARK(BM_ScanStreamNoDelay)->Arg(1 << 20)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same stream of GS1-like scans with every SCAN_ setting in use: an
// identifier before each scan, a GS inside it, a prefix, a suffix, what
// carriage return types and replacements that both match and only begin to.
void BM_ScanStreamShaped(benchmark::State& state) {
    SetUpTable();
    KeyTable['|'] = {1, 0, 0xDC};
    StrCopy(SerialSettings.scanGs, kTextCapacity, u"|");
    StrCopy(SerialSettings.scanPrefix, kTextCapacity, u"{F2}");
    StrCopy(SerialSettings.scanSuffix, kTextCapacity, u"{Ctrl+]}");
    StrCopy(SerialSettings.scanReturn, kTextCapacity, u"{Tab}");
    StrCopy(SerialSettings.scanReplace[0], kTextCapacity, u"-@=>{None}");
    StrCopy(SerialSettings.scanReplace[1], kTextCapacity, u"AB=>ba");
    SerialSettings.scanStripIdentifier = 1;
    sim::SetClockMode(sim::ClockMode::Virtual);
    sim::ResetKeyboard(16);
    std::string stream;
    for (const std::string base = ScanStream(std::size_t(state.range(0))); char c : base) {
        if (stream.empty() || stream.back() == '\r') stream += "]d2";
        stream += c;
        if (c == '7') stream += '\x1D';
    }
    TypeStream(state, stream);
}
BENCHMARK(BM_ScanStreamShaped)->Arg(1 << 20)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_HundredKeystrokeLineOneMsDelay(benchmark::State& state) {
    SetUpTable();
    SerialSettings.strokeDelay = 1;
    sim::SetClockMode(sim::ClockMode::RealTime);
    sim::ResetKeyboard(1 << 12);
    // 99 digits and the carriage return: 100 keystrokes of six events each.
    std::string line;
    for (int i = 0; i < 99; ++i) line += char('0' + i % 10);
    line += '\r';
    ThreadHandle thread = StartReception();
    const std::size_t eventsPerLine = 600;
    double measured = 0, ideal = 0;
    for (auto _ : state) {
        sim::ResetKeyboard(1 << 12);
        std::uint64_t fedAt = sim::NowUs();
        sim::FeedSerial(1, line);
        // The line is typed once its last event and the pause after it are
        // over; what the thread does next (wait out the read timeout) is not.
        while (sim::KeyEventCount() < eventsPerLine)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        std::uint64_t typedAt = sim::KeyEvents().back().timeUs + SerialSettings.strokeDelay * 1000u;
        double seconds = double(typedAt - fedAt) / 1e6;
        state.SetIterationTime(seconds);
        measured += seconds;
        ideal += double(eventsPerLine) * SerialSettings.strokeDelay / 1000.0;
        state.PauseTiming();
        WaitUntilIdle();
        state.ResumeTiming();
    }
    state.counters["measured_over_ideal"] = measured / ideal;
    state.counters["events_per_line"] = double(sim::KeyEventCount());
    QuitReception(thread);
    sim::SetClockMode(sim::ClockMode::Virtual);
}
BENCHMARK(BM_HundredKeystrokeLineOneMsDelay)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
