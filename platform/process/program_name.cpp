#include "platform/process/program_name.hpp"

#include <string>

#include "platform/process/self_path.hpp"

namespace camsteer {

namespace {

const char* gProgramName = nullptr;

// The executable's file name, without a Windows ".exe".
std::string fileName() {
    std::string name = selfPath();
    name.erase(0, name.find_last_of('/') + 1);
    const std::string exe = ".exe";
    if (name.size() > exe.size() && name.compare(name.size() - exe.size(), exe.size(), exe) == 0) {
        name.resize(name.size() - exe.size());
    }
    return name.empty() ? "camsteer" : name;
}

}  // namespace

const char* programName() {
    if (gProgramName != nullptr) {
        return gProgramName;
    }
    static const std::string started = fileName();
    return started.c_str();
}

void setProgramName(const char* name) {
    gProgramName = name;
}

}  // namespace camsteer
