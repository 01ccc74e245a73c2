#pragma once

// The test clips and the fixture every end-to-end test of the programs starts from: a private
// Xvfb, the suite's connection to it and a scratch folder, with camsteer_replay started on a
// clip and its three windows found.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../common/xvfb.hpp"
#include "files.hpp"
#include "process.hpp"
#include "screen.hpp"
#include "x_client.hpp"

namespace camsteer::e2e {

using test::Xvfb;

// Writes a clip of `frames` frames of the ball held still at (cx, cy) in the stored picture, at
// `fps` frames a second (nullopt: camsteer_make_clip's own rate), after `emptyFrames` frames
// without the ball (these need `fps`); the clip's path, empty on failure.
inline std::string makeHoldClip(const TempDir& dir, const std::string& name, int cx, int cy,
                                int radius, int frames = 30, std::optional<int> fps = std::nullopt,
                                int emptyFrames = 0) {
    const std::string path = dir.file(name);
    std::vector<std::string> args{path,
                                  "hold",
                                  std::to_string(cx),
                                  std::to_string(cy),
                                  std::to_string(radius),
                                  std::to_string(frames)};
    if (fps) {
        args.push_back(std::to_string(*fps));
        args.push_back(std::to_string(emptyFrames));
    }
    const Finished made =
        runToEnd(binaryPath("images/camsteer_make_clip"), args, {}, dir.path(), dir.path());
    return made.status && made.status->exited() && made.status->code() == 0 ? path : "";
}

// The three windows of a running program.
struct ProgramWindows {
    Window camsteer = 0;
    Window output = 0;
    Window histogram = 0;
};

// A test with an Xvfb of its own, a connection of the suite to it and a scratch folder.
class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Xvfb::installed()) {
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh installs it)";
        }
        xvfb_ = std::make_unique<Xvfb>("1024x768x24", xvfbArgs());
        ASSERT_TRUE(xvfb_->running()) << xvfb_->error();
        x_ = std::make_unique<XClient>(xvfb_->display());
        ASSERT_TRUE(x_->ok()) << "cannot connect to " << xvfb_->display();
    }
    void TearDown() override {
        x_.reset();
        xvfb_.reset();
    }
    virtual std::vector<std::string> xvfbArgs() const { return {}; }

    EnvChanges env() const { return sessionEnv(xvfb_->display()); }

    // camsteer_replay with `options` on the blue sample and `clip`, run from the source tree
    // (where images/ is found).
    std::unique_ptr<Process> startReplay(const std::string& clip,
                                         std::vector<std::string> options = {}) {
        options.insert(options.end(), {sampleBlue(), clip});
        return std::make_unique<Process>(programPath("camsteer_replay"), options, env(),
                                         sourcePath(""), dir_.path());
    }

    // Waits for the three windows; false (with a failure recorded) when they do not come.
    bool waitForWindows(ProgramWindows& windows) {
        const std::pair<const char*, Window*> wanted[] = {{"Camsteer", &windows.camsteer},
                                                          {"Output", &windows.output},
                                                          {"Histogram", &windows.histogram}};
        for (const auto& [name, where] : wanted) {
            const std::optional<Window> found = x_->waitForWindow(name, kStartBound);
            if (!found) {
                ADD_FAILURE() << "no window \"" << name << "\" appeared";
                return false;
            }
            *where = *found;
        }
        return true;
    }

    // The camera picture of "Camsteer" as the user sees it (the trackbars are below it).
    cv::Mat cameraPicture(Window camsteer) {
        return screenshot(*x_, camsteer, cv::Rect(0, 0, 320, 240));
    }

    TempDir dir_;
    std::unique_ptr<Xvfb> xvfb_;
    std::unique_ptr<XClient> x_;
};

}  // namespace camsteer::e2e
