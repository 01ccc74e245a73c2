#include "app/starting_reference.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include "app/reference_picture.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

bool loadStartingReference(ShellState& shell, const CommandLine& line,
                           const ShellOptions& options) {
    std::string path = line.reference;
    if (line.learn) {
        if (line.learnPath.empty()) {
            diagnose(options,
                     "--learn names no picture, and neither HOME nor XDG_DATA_HOME names a "
                     "folder to keep it in (an absolute path); set HOME, or give one: --learn "
                     "OUT.png");
            return false;
        }
        if (!cv::haveImageWriter(line.learnPath)) {
            diagnose(options, "cannot save pictures as " + quotedName(line.learnPath) +
                                  ": give --learn a name ending in .png");
            return false;
        }
        struct stat st {};
        if (::stat(line.learnPath.c_str(), &st) != 0 && errno == ENOENT) {
            path.clear();  // nothing taught yet: start without a colour model
        } else {
            path = line.learnPath;
        }
    } else if (path.empty()) {
        std::printf("No histogram source image specified.\n");
        return false;
    }
    if (!path.empty()) {
        std::string refusal;
        shell.referenceImage = loadReferencePicture(path, refusal);
        if (shell.referenceImage.empty()) {
            std::printf("Couldn't load histogram: %s\n", quotedName(path).c_str());
            if (!refusal.empty()) {
                diagnose(options, quotedName(path) + ": " + refusal);
            }
            return false;
        }
    }
    if (options.readsClip && line.clip.empty()) {
        diagnose(options, "no clip given; usage: " + std::string(options.programName) +
                              (line.learn ? " --learn [OUT.png] CLIP" : " REFERENCE CLIP"));
        return false;
    }
    if (line.learn && shell.referenceImage.empty()) {
        diagnose(options, "nothing learnt yet in " + quotedName(line.learnPath) +
                              ": drag a rectangle over your object in the Camsteer window");
    }
    return true;
}

}  // namespace camsteer
