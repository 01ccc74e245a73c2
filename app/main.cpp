#include "app/shell.hpp"
#include "platform/keys/key_watchdog.hpp"

// camsteer steers with keys; camsteer_d (built with CAMSTEER_NO_KEYS) tracks and shows the same
// but never opens a key backend, for trying settings without touching the focused program.
int main(int argc, char** argv) {
    int status = 0;
    if (camsteer::runKeyWatchdogIfAsked(argc, argv, status)) {
        return status;
    }
    camsteer::ShellOptions options;
#ifdef CAMSTEER_NO_KEYS
    options.programName = "camsteer_d";
    options.sendKeys = false;
#else
    options.programName = "camsteer";
    options.sendKeys = true;
#endif
    return camsteer::runShell(options, argc, argv);
}
