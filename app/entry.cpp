// Where camsteer and camsteer_replay start. Run as their own key watchdog (a second run of the
// same executable, as KDE grants fake input by the executable's path) they need only the key
// backends, which this entry holds; the program proper, with the window toolkit and the image
// library and the hundreds of libraries these pull in, is loaded only to run as the program.
// So the watchdog maps none of them: a few hundred kilobytes of memory instead of tens of
// megabytes (docs/performance.md).

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/keys/key_watchdog.hpp"
#include "platform/process/self_path.hpp"

int main(int argc, char** argv) {
    int status = 0;
    if (camsteer::runKeyWatchdogIfAsked(argc, argv, status)) {
        return status;
    }
    // The build tree keeps the module next to the programs, an installation in lib/camsteer.
    const std::string self = camsteer::selfPath();
    const std::string folder = self.substr(0, self.rfind('/'));
    std::string path = folder + "/camsteer_programs.so";
    if (::access(path.c_str(), F_OK) != 0) {
        path = folder + "/../lib/camsteer/camsteer_programs.so";
    }
    void* programs = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    using Entry = int (*)(int, char**);
    const auto entry =
        programs != nullptr ? reinterpret_cast<Entry>(::dlsym(programs, CAMSTEER_ENTRY)) : nullptr;
    if (entry == nullptr) {
        std::fprintf(stderr, "%s: cannot load the program from %s (%s); reinstall camsteer\n",
                     CAMSTEER_PROGRAM, path.c_str(), ::dlerror());
        return 1;
    }
    return entry(argc, argv);  // never unloaded: its exit handlers run at the process's end
}
