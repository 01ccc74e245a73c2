#include "app/ui/arrow_set.hpp"

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "platform/process/self_path.hpp"

#ifndef CAMSTEER_DATADIR
#define CAMSTEER_DATADIR "/usr/share/camsteer"
#endif

namespace camsteer {

namespace {

bool fileExists(const std::string& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

std::string executableDir() {
    const std::string path = selfPath();
    return path.substr(0, path.find_last_of('/'));
}

}  // namespace

std::string findImagesDir() {
    const std::string candidates[] = {
        "images",
        executableDir() + "/images",  // the Windows programs' folder
        executableDir() + "/../share/camsteer/images",
        std::string(CAMSTEER_DATADIR) + "/images",
    };
    for (const std::string& dir : candidates) {
        if (fileExists(dir + "/" + kArrowFiles[kDefaultArrow])) {
            return dir;
        }
    }
    return std::string();
}

bool loadArrowSet(const std::string& dir, ArrowSet& arrows, std::string& missing) {
    missing.clear();
    for (size_t i = 0; i < arrows.size(); ++i) {
        const std::string path = dir + "/" + kArrowFiles[i];
        arrows[i] = cv::imread(path, cv::IMREAD_COLOR);
        if (arrows[i].empty() && missing.empty()) {
            missing = path;
        }
    }
    return missing.empty();
}

}  // namespace camsteer
