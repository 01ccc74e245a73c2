#include "app/options.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tracker/tracker.hpp"

namespace camsteer {

namespace {

bool isOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// A camera number from 1, in plain decimal; 0 when `text` is not one.
int cameraNumberFrom(const std::string& text) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != text.npos) {
        return 0;
    }
    return std::atoi(text.c_str());
}

// A --steady value: a whole number 0..Tracker::kMaxSteady; -1 when `text` is not one.
int steadyFrom(const std::string& text) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != text.npos) {
        return -1;
    }
    const int n = std::atoi(text.c_str());
    return n <= Tracker::kMaxSteady ? n : -1;
}

// `text` broken at spaces into lines of at most `width` characters, each indented by `indent`.
std::string wrapped(const std::string& text, size_t indent, size_t width) {
    std::string out;
    std::string line(indent, ' ');
    size_t start = 0;
    while (start < text.size()) {
        const size_t space = std::min(text.find(' ', start), text.size());
        const std::string word = text.substr(start, space - start);
        if (line.size() > indent && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.assign(indent, ' ');
        }
        line += (line.size() > indent ? " " : "") + word;
        start = space + 1;
    }
    return out + line + "\n";
}

// What an option that takes a value wants, for the message when it is missing.
std::string valueWanted(const std::string& option) {
    if (option == "--camera") {
        return "a camera number or a device such as /dev/video0";
    }
    if (option == "--keys") {
        return "bindings such as up=w,left=a";
    }
    return "a number of pixels from 0 to " + std::to_string(Tracker::kMaxSteady);
}

CommandLine usageError(const std::string& why) {
    CommandLine line;
    line.action = CommandLine::Action::Usage;
    line.usageError = why;
    return line;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, bool clipProgram,
                             const std::string& defaultLearnPath) {
    CommandLine line;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || !isOption(arg)) {
            positional.push_back(arg);
            continue;
        }
        // "--name=value" is the same as "--name value".
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const bool inlineValue = equals != arg.npos && arg.rfind("--", 0) == 0;
        const std::string value = inlineValue ? arg.substr(equals + 1) : std::string();
        const bool takesValue = name == "--camera" || name == "--keys" || name == "--steady";
        if (inlineValue && !takesValue && name != "--learn") {
            return usageError("option " + name + " takes no value");
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (name == "--help" || name == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        } else if (name == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        } else if (name == "--list-cameras") {
            line.action = CommandLine::Action::ListCameras;
        } else if (name == "--show-failures") {
            line.showFailures = true;
        } else if (name == "--learn") {
            line.learn = true;
            if (inlineValue) {
                if (value.empty()) {
                    return usageError("--learn= names no picture");
                }
                line.learnPath = value;
            }
        } else if (takesValue && (name != "--camera" || !clipProgram) && !inlineValue &&
                   i + 1 >= argc) {
            return usageError(name + " needs " + valueWanted(name));
        } else if (name == "--keys") {
            std::string why;
            if (!parseKeyBindings(inlineValue ? value : argv[++i], line.keys, why)) {
                return usageError("--keys: " + why);
            }
            line.keysGiven = true;
        } else if (name == "--steady") {
            const std::string text = inlineValue ? value : argv[++i];
            if ((line.steady = steadyFrom(text)) < 0) {
                return usageError("--steady " + text + ": give " + valueWanted(name));
            }
            line.steadyGiven = true;
        } else if (name == "--camera" && !clipProgram) {
            const std::string device = inlineValue ? value : argv[++i];
            if (!device.empty() && device[0] == '/') {
                line.cameraPath = device;
            } else if ((line.cameraNumber = cameraNumberFrom(device)) < 1) {
                return usageError("--camera " + device +
                                  ": give a camera number from 1 (see --list-cameras) or a device "
                                  "such as /dev/video0");
            }
        } else {
            return usageError("unknown option " + name);
        }
    }

    // With --learn the reference's place holds the picture to learn into, which may be left
    // out: then everything given is the clip (camsteer_replay) or nothing (the camera programs).
    const size_t wanted = clipProgram ? 2 : 1;
    size_t next = 0;
    if (line.learn) {
        if (line.learnPath.empty()) {
            line.learnPath = positional.size() >= wanted ? positional[next++] : defaultLearnPath;
        }
    } else if (next < positional.size()) {
        line.reference = positional[next++];
    }
    if (clipProgram && next < positional.size()) {
        line.clip = positional[next++];
    }
    return line;
}

std::string usageSynopsis(const std::string& program, bool clipProgram, bool oneLine) {
    const std::string tail = clipProgram ? " CLIP" : "";
    const std::string withReference = program + " [OPTION]... REFERENCE" + tail;
    const std::string learning = program + " [OPTION]... --learn [OUT.png]" + tail;
    if (oneLine) {
        return withReference + " | " + learning;
    }
    return "Usage: " + withReference + "\n" + "  or:  " + learning + "\n";
}

std::string usageText(const std::string& program, bool clipProgram) {
    std::string text = usageSynopsis(program, clipProgram);
    text += clipProgram
                ? "Follow a coloured object through the video file CLIP and steer the focused\n"
                  "program with arrow keys and keypad +/-, as camsteer does with a camera.\n"
                : "Follow a coloured object held before the webcam and steer the focused program\n"
                  "with arrow keys and keypad +/-.\n";
    text +=
        "\n"
        "REFERENCE is a picture of the object's colour. With --learn, drag a rectangle\n"
        "over the object in the Camsteer window to teach it instead: each selection is\n"
        "used at once and saved to OUT.png (by default\n"
        "$XDG_DATA_HOME/camsteer/reference.png), where the next --learn run starts.\n"
        "The trackbars, --keys and --steady are kept beside it in OUT.conf: each OUT.png\n"
        "is a set-up of its own, one per game.\n"
        "\n"
        "Options:\n"
        "  --learn [OUT.png]    teach the object by dragging over it; save it to OUT.png\n"
        "  --keys up=KEY,down=KEY,left=KEY,right=KEY,forward=KEY,back=KEY\n"
        "                       send these keys (any of the six; the others stay Up,\n"
        "                       Down, Left, Right, KP_Add, KP_Subtract), for example\n"
        "                       --keys up=w,left=a,down=s,right=d. KEY is an X key name:\n" +
        wrapped(commonKeyNames(), 23, 79) +
        "  --steady N           hold a key until the object is N pixels back over its\n"
        "                       grid line (or Near, Far) and press it only N pixels\n"
        "                       past: no taps from a hand's tremor (0 to " +
        std::to_string(Tracker::kMaxSteady) +
        ", default 0;\n"
        "                       4 suits most games)\n";
    if (!clipProgram) {
        text +=
            "  --camera N|DEVICE    use capture device number N (from 1, the default) or the\n"
            "                       device node DEVICE, such as /dev/video2\n";
    }
    text +=
        "  --list-cameras       list the capture devices: number, node and name\n"
        "  --show-failures      also show a camera that cannot be opened or is lost in\n"
        "                       the Camsteer window, until Escape or its close\n"
        "  -h, --help           show this help and exit\n"
        "      --version        show the version and exit\n"
        "\n"
        "In the windows: Esc quits, B switches the mask view. See man camsteer.\n";
    return text;
}

std::string defaultLearnPath(const DesktopSession& session) {
    return session.dataHome.empty() ? "" : session.dataHome + "/camsteer/reference.png";
}

}  // namespace camsteer
