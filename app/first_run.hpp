#pragma once

#include <memory>
#include <string>

#include "app/options.hpp"
#include "app/shell.hpp"
#include "platform/camera/camera_list.hpp"
#include "platform/camera/frame_sources.hpp"

namespace camsteer {

// Answers what the command line asks for instead of a run: --help, --version, --list-cameras,
// or the usage after a bad option. Returns the exit status, or -1 when the run goes on.
int answerWithoutRunning(const CommandLine& line, const ShellOptions& options);

// The reference picture the run starts from: REFERENCE, or with --learn the saved picture when
// there is one and otherwise none (no colour model until the first selection). False, after
// saying why, when the run cannot start with what was given.
bool loadStartingReference(ShellState& shell, const CommandLine& line, const ShellOptions& options);

// Where frames come from: the clip of camsteer_replay, or the camera the command line names.
std::unique_ptr<FrameSource> frameSourceFor(const CommandLine& line, const ShellState& shell);

// Lets the user teach by dragging over "Camsteer" (main thread, window present). With --learn,
// each taught picture is also saved to the learn path and named on standard error.
void installTeaching(ShellState& shell, const CommandLine& line, const ShellOptions& options);

// Window loop, every turn: when a selection's clean frame has come, its pixels become the
// reference, the hue model is rebuilt and shown, and (with --learn) the picture is saved.
void adoptTaughtReference(ShellState& shell);

// A failure once the windows are up: the one line on standard error and, with
// --show-failures, the same text in "Camsteer" until the user dismisses it.
void reportRunFailure(const CommandLine& line, const ShellOptions& options, const std::string& why);

}  // namespace camsteer
