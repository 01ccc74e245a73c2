// Where camsteer and camsteer_replay start. Run as their own key watchdog (a second run of the
// same executable, as KDE grants fake input by the executable's path) they need only the key
// backends, which this entry holds; the program proper, with the window toolkit and the image
// library and the hundreds of libraries these pull in, is loaded only to run as the program.
// So the watchdog maps none of them: a few hundred kilobytes of memory instead of tens of
// megabytes (docs/performance.md).

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "platform/key_watchdog.hpp"

namespace {

// The folder of this executable, from /proc/self/exe; empty when it cannot be read.
std::string executableFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return "";
    }
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    if (camsteer::runKeyWatchdogIfAsked(argc, argv, status)) {
        return status;
    }
    // The build tree keeps the module next to the programs, an installation in lib/camsteer.
    const std::string folder = executableFolder();
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
