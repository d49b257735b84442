// Shared set-up of the serial tests: a clean simulated platform with one
// scanner on COM1, a US-like keyboard table, and helpers that wait for
// conditions (never for time) and read back what was typed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "platform/services.h"
#include "platform/sim/keyboard.h"
#include "platform/sim/serial.h"
#include "platform/sim/shell.h"
#include "platform/sim/threads.h"
#include "serial/reception.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"

namespace testing_support {

using platform::kVkReturn;

// Polls `condition` until it holds; false after 20 s (a hang, not a margin).
bool WaitUntil(const std::function<bool()>& condition);

// A key event reduced to what the sequence tests compare.
struct Stroke {
    std::uint8_t key;
    bool release;
    bool operator==(const Stroke&) const = default;
};
std::vector<Stroke> Strokes(const std::vector<platform::sim::KeyEvent>& events);
inline Stroke Press(std::uint8_t key) {
    return {key, false};
}
inline Stroke Release(std::uint8_t key) {
    return {key, true};
}

// The keys pressed other than Shift, Control and left Alt, as characters:
// what lands in the focused application, less the case.
std::string TypedKeys(const std::vector<platform::sim::KeyEvent>& events);
// Keys that the events leave pressed.
std::vector<std::uint8_t> KeysLeftDown(const std::vector<platform::sim::KeyEvent>& events);

class ReceptionTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Start and Stop as the dialog does them.
    void Start();
    void Stop();
    // Waits until the thread has the port open and configured and is waiting.
    void WaitReady();
    // Waits until every byte fed has been handled and the thread waits again.
    void WaitIdle();
    void Feed(const std::string& bytes);

    platform::ThreadHandle thread = platform::kNoThread;
};

}  // namespace testing_support
