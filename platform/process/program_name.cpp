#include "platform/process/program_name.hpp"

#include <errno.h>  // program_invocation_short_name

namespace camsteer {

namespace {
const char* gProgramName = nullptr;
}  // namespace

const char* programName() {
    return gProgramName != nullptr ? gProgramName : program_invocation_short_name;
}

void setProgramName(const char* name) {
    gProgramName = name;
}

}  // namespace camsteer
