// What the watchdogs of every system share: the argument that starts one, the reading of its
// command line and of its news.

#include "platform/keys/key_watchdog.hpp"

#include <cstdio>
#include <cstring>

#include "platform/process/program_name.hpp"

namespace camsteer {

const char* const kKeyWatchdogArgument = "--camsteer-key-watchdog";

int readKeyWatchdogLine(int argc, char** argv, KeyBindings& bindings) {
    if (argc < 2 || std::strcmp(argv[1], kKeyWatchdogArgument) != 0) {
        return -1;
    }
    std::string why;
    if (argc != 5 || !parseKeyBindings(argv[4], bindings, why)) {
        std::fprintf(stderr, "%s: %s is for the program's own use\n", programName(),
                     kKeyWatchdogArgument);
        return 2;
    }
    return 0;
}

std::unique_ptr<KeyWatchdog> KeyWatchdog::start(const std::string& backendName,
                                                const KeyBindings& bindings, std::string& why,
                                                const char* program) {
    std::unique_ptr<KeyWatchdog> watchdog(new KeyWatchdog(backendName, bindings, program));
    if (!watchdog->spawn(why)) {
        return nullptr;
    }
    return watchdog;
}

void KeyWatchdog::hear(const char* bytes, size_t n, News& news) {
    for (size_t i = 0; i < n; ++i) {
        if (cannotReach_) {
            reason_ += bytes[i];
        } else {
            ready_ = ready_ || bytes[i] == kWatchdogReady;
            cannotReach_ = bytes[i] == kWatchdogCannotReach;
            news.releasedForStop = news.releasedForStop || bytes[i] == kWatchdogReleasedForStop;
        }
    }
    news.wasReady = ready_;
    news.cannotReach = cannotReach_;
    news.reason = reason_;
}

}  // namespace camsteer
