#include "app/startup.hpp"

// camsteer steers with keys; camsteer_d (built with CAMSTEER_NO_KEYS) tracks and shows the same
// but never opens a key backend, for trying settings without touching the focused program.
// camsteer's entry (entry.cpp) calls camsteer_main; camsteer_d is one executable.
extern "C" __attribute__((visibility("default"))) int camsteer_main(int argc, char** argv) {
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

#ifdef CAMSTEER_NO_KEYS
int main(int argc, char** argv) {
    return camsteer_main(argc, argv);
}
#endif
