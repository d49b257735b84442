// The reception thread's main loop, byte handling, line buffering and the
// key events it sends.
#include "tests/serial/reception_fixture.h"

using namespace platform;
using namespace testing_support;

namespace {

using Reception = ReceptionTest;

TEST_F(Reception, TypesALineWhenItsCarriageReturnArrives) {
    Start();
    WaitReady();
    Feed("ABC");
    WaitIdle();
    EXPECT_EQ(sim::KeyEventCount(), 0u);
    Feed("\r");
    WaitIdle();
    EXPECT_EQ(TypedKeys(sim::KeyEvents()), "ABC\r");
    EXPECT_TRUE(KeysLeftDown(sim::KeyEvents()).empty());
}

}  // namespace
