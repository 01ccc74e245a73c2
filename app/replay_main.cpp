#include "app/shell.hpp"
#include "platform/keys/key_watchdog.hpp"

// camsteer_replay REFERENCE CLIP: the same program fed from a video file instead of a camera,
// for trying camsteer without one, tuning on a recorded clip, and end-to-end tests.
int main(int argc, char** argv) {
    int status = 0;
    if (camsteer::runKeyWatchdogIfAsked(argc, argv, status)) {
        return status;
    }
    camsteer::ShellOptions options;
    options.programName = "camsteer_replay";
    options.sendKeys = true;
    options.clipArgument = 2;
    return camsteer::runShell(options, argc, argv);
}
