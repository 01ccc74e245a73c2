// Where camsteer.exe and camsteer_replay.exe start: run as their own key watchdog (a second run
// of the same executable) when asked, otherwise as the program. On Windows each is one static
// executable: the program proper is linked in, as loading it costs the watchdog nothing there.

#include "platform/keys/key_watchdog.hpp"

extern "C" int CAMSTEER_ENTRY(int argc, char** argv);

int main(int argc, char** argv) {
    int status = 0;
    if (camsteer::runKeyWatchdogIfAsked(argc, argv, status)) {
        return status;
    }
    return CAMSTEER_ENTRY(argc, argv);
}
