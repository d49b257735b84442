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
        const Handle event = CreateEventW(false, false, kName);
        ::_exit(event == kNoHandle ? 255 : GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1 ? ERROR_ALREADY_EXISTS
                                                         : WEXITSTATUS(status);
}

TEST(LinuxThreadsTest, NamedEventAllowsOneHolderUntilItCloses) {
    quorvel_test::ScratchFolder scratch;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", scratch.Path().c_str(), 1);

    SetLastError(77);
    const Handle first = CreateEventW(false, false, kName);
    ASSERT_NE(first, kNoHandle);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(CreateInAnotherProcess(), ERROR_ALREADY_EXISTS);
    // Within the process as well, as for a Windows named event.
    const Handle second = CreateEventW(false, false, kName);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(CreateInAnotherProcess(), ERROR_ALREADY_EXISTS);

    EXPECT_TRUE(CloseHandle(first));
    EXPECT_EQ(CreateInAnotherProcess(), ERROR_SUCCESS);

    if (saved) {
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

Handle gate = kNoHandle;
std::atomic<int> ran{0};

std::uint32_t WaitAtGate(void*) {
    WaitForSingleObject(gate, INFINITE);
    ran.fetch_add(1);
    return 0;
}

TEST(LinuxThreadsTest, ThreadsAndEventsAreWaitableWithTimeouts) {
    // Auto reset: one SetEvent lets one wait through.
    const Handle autoEvent = CreateEventW(false, false, nullptr);
    ASSERT_NE(autoEvent, kNoHandle);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 5), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(autoEvent));
    EXPECT_EQ(WaitForSingleObject(autoEvent, 5), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(autoEvent));
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(autoEvent));

    // Manual reset: every thread blocked on it runs on once it is set; a
    // thread's handle is signalled once the thread has ended, and stays so.
    ran.store(0);
    gate = CreateEventW(true, false, nullptr);
    ASSERT_NE(gate, kNoHandle);
    std::uint32_t id = 0;
    const Handle a = CreateThread(WaitAtGate, nullptr, &id);
    const Handle b = CreateThread(WaitAtGate, nullptr, nullptr);
    ASSERT_NE(a, kNoHandle);
    ASSERT_NE(b, kNoHandle);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(a, 10), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(gate));
    EXPECT_EQ(WaitForSingleObject(a, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ran.load(), 2);
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_TRUE(CloseHandle(gate));
    EXPECT_FALSE(CloseHandle(gate));
}

}  // namespace
