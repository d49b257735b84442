// Threads, events and the one-instance lock of the Linux backend: waits that
// end with the event or the thread, timeouts that return, and a named event
// that a second process (or a second holder) finds already taken.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/services.h"
#include "tests/platform/linux/pty_fixture.h"

namespace {

using namespace platform;

constexpr char16_t kName[] = u"QUORVEL_TEST_INSTANCE";

// What a second process gets from CreateEventW on the name.
std::uint32_t CreateInAnotherProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        SetLastError(0);
        const EventHandle event = CreateEventW(false, false, kName);
        ::_exit(event == kNoEvent ? 255 : GetLastError() == kErrorAlreadyExists ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1 ? kErrorAlreadyExists
                                                         : WEXITSTATUS(status);
}

TEST(LinuxThreadsTest, NamedEventAllowsOneHolderUntilItCloses) {
    quorvel_test::ScratchFolder scratch;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", scratch.Path().c_str(), 1);

    SetLastError(77);
    const EventHandle first = CreateEventW(false, false, kName);
    ASSERT_NE(first, kNoEvent);
    EXPECT_EQ(GetLastError(), kErrorSuccess);
    EXPECT_EQ(CreateInAnotherProcess(), kErrorAlreadyExists);
    // Within the process as well, as for a Windows named event.
    const EventHandle second = CreateEventW(false, false, kName);
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(CreateInAnotherProcess(), kErrorAlreadyExists);

    EXPECT_TRUE(CloseHandle(first));
    EXPECT_EQ(CreateInAnotherProcess(), kErrorSuccess);

    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

EventHandle gate = kNoEvent;
std::atomic<int> ran{0};

std::uint32_t WaitAtGate(void*) {
    WaitForSingleObject(gate, kInfinite);
    ran.fetch_add(1);
    return 0;
}

TEST(LinuxThreadsTest, ThreadsAndEventsAreWaitableWithTimeouts) {
    // Auto reset: one SetEvent lets one wait through.
    const EventHandle autoEvent = CreateEventW(false, false, nullptr);
    ASSERT_NE(autoEvent, kNoEvent);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), kWaitTimeout);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 5), kWaitTimeout);
    EXPECT_TRUE(SetEvent(autoEvent));
    EXPECT_EQ(WaitForSingleObject(autoEvent, 5), kWaitObject0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), kWaitTimeout);
    EXPECT_TRUE(CloseHandle(autoEvent));
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), kWaitFailed);
    EXPECT_FALSE(SetEvent(autoEvent));

    // Manual reset: every thread blocked on it runs on once it is set; a
    // thread's handle is signalled once the thread has ended, and stays so.
    ran.store(0);
    gate = CreateEventW(true, false, nullptr);
    ASSERT_NE(gate, kNoEvent);
    std::uint32_t id = 0;
    const ThreadHandle a = CreateThread(WaitAtGate, nullptr, &id);
    const ThreadHandle b = CreateThread(WaitAtGate, nullptr, nullptr);
    ASSERT_NE(a, kNoThread);
    ASSERT_NE(b, kNoThread);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(a, 10), kWaitTimeout);
    EXPECT_TRUE(SetEvent(gate));
    EXPECT_EQ(WaitForSingleObject(a, kInfinite), kWaitObject0);
    EXPECT_EQ(WaitForSingleObject(b, kInfinite), kWaitObject0);
    EXPECT_EQ(WaitForSingleObject(a, 0), kWaitObject0);
    EXPECT_EQ(ran.load(), 2);
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_TRUE(CloseHandle(gate));
    EXPECT_FALSE(CloseHandle(gate));
}

}  // namespace
