#pragma once

#include <string>
#include <vector>

#include "platform/keys/key_names.hpp"
#include "platform/session/desktop_session.hpp"

namespace camsteer {

// What the command line asks for, before anything is opened or loaded.
struct CommandLine {
    enum class Action { Run, Help, Version, ListCameras, Usage };
    Action action = Action::Run;
    // Action::Usage: the one-line reason (without the program name), printed before the usage.
    std::string usageError;

    // The reference picture; empty when none was given (and not learning).
    std::string reference;
    // Learning: each selection dragged in "Camsteer" becomes the reference and is written to
    // learnPath; the run starts from learnPath when it exists.
    bool learn = false;
    std::string learnPath;
    // The clip of camsteer_replay; empty when none was given.
    std::string clip;
    // Camera number (1 = the first capture device) or, when cameraPath is set, a device node.
    int cameraNumber = 1;
    std::string cameraPath;
    // Start-up failures found once the windows are up are also shown in "Camsteer".
    bool showFailures = false;
    // --keys: the keys the steering keys send (the rest keep theirs); keysGiven when given.
    KeyBindings keys;
    bool keysGiven = false;
    // --steady: the decision's dead band in pixels (Tracker::decide); steadyGiven when given.
    int steady = 0;
    bool steadyGiven = false;
};

// Reads argv. `clipProgram`: the program takes a CLIP after the reference (camsteer_replay) and
// has no camera options. Options may come anywhere; "--" ends them. The first argument that is
// not an option is the reference picture (or, with --learn, the picture to learn into).
// `defaultLearnPath` is used when --learn names no picture.
CommandLine parseCommandLine(int argc, const char* const* argv, bool clipProgram,
                             const std::string& defaultLearnPath);

// The full usage text for --help. Its first lines, the synopsis, also follow a usage error,
// there joined into one line.
std::string usageText(const std::string& program, bool clipProgram);
std::string usageSynopsis(const std::string& program, bool clipProgram, bool oneLine = false);

// Where --learn writes when it names no picture: camsteer/reference.png in the session's data
// folder ($XDG_DATA_HOME, else ~/.local/share). Empty when there is none.
std::string defaultLearnPath(const DesktopSession& session);

}  // namespace camsteer
