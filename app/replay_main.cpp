#include "app/startup.hpp"

// camsteer_replay REFERENCE CLIP: the same program fed from a video file instead of a camera,
// for trying camsteer without one, tuning on a recorded clip, and end-to-end tests. Its entry
// (entry.cpp) calls this.
extern "C" __attribute__((visibility("default"))) int camsteer_replay_main(int argc, char** argv) {
    camsteer::ShellOptions options;
    options.programName = "camsteer_replay";
    options.sendKeys = true;
    options.readsClip = true;
    return camsteer::runShell(options, argc, argv);
}
