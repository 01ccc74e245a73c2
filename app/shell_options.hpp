#pragma once

#include <string>

namespace camsteer {

// What sets the three programs apart.
struct ShellOptions {
    const char* programName = "camsteer";
    bool sendKeys = true;
    // True for the program that reads a CLIP (after the reference) instead of a camera.
    bool readsClip = false;
};

// One line on standard error, prefixed with the running program's name.
void diagnose(const ShellOptions& options, const std::string& what);

}  // namespace camsteer
