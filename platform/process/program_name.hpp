#pragma once

namespace camsteer {

// The name every diagnostic line starts with ("camsteer", "camsteer_d", "camsteer_replay").
// Until a program sets it, the name of the file it runs from.
const char* programName();
// Set once at start-up, before any other thread runs; `name` must outlive the process.
void setProgramName(const char* name);

}  // namespace camsteer
