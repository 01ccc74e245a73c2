#pragma once

// The one way the tests wait for something another thread or process does: ask again and
// again until it holds or a bound has passed. The bound only ends a wait that would otherwise
// hang on a loaded machine; it measures nothing. Shared by the unit and the end-to-end tests.

#include <chrono>
#include <functional>
#include <thread>

namespace camsteer::test {

using Clock = std::chrono::steady_clock;

// Calls `done` every `step` until it answers true or `bound` has passed; answers whether it
// did. The last question comes after the bound has passed, so a slow last step is not lost.
inline bool pollUntil(const std::function<bool()>& done, Clock::duration bound,
                      Clock::duration step = std::chrono::milliseconds(50)) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(step);
    }
}

}  // namespace camsteer::test
