#pragma once

// The Windows programs under Wine, for tests run on Linux: where the cross-built programs are,
// a Wine prefix booted once per build tree and copied for each test, and a bed of a test's own
// (a private Xvfb, its own prefix and wineserver, a scratch folder).

#include <sys/file.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../e2e/fixture.hpp"

namespace camsteer::windows {

using namespace e2e;

// The folder the Windows build put its programs in (CAMSTEER_WINDOWS_BUILD).
inline std::string windowsBuild() {
    return CAMSTEER_WINDOWS_BUILD;
}

// Where the Windows build has `name` (camsteer_replay.exe, camsteer_receiver.exe...); empty
// when it has not been built.
inline std::string windowsProgram(const std::string& name) {
    for (const char* folder : {"", "/app", "/bin", "/tests/windows", "/tests"}) {
        const std::string path = windowsBuild() + folder + "/" + name;
        if (access(path.c_str(), R_OK) == 0) {
            return path;
        }
    }
    return "";
}

// A Linux path as the Windows programs name it: Wine's drive Z: is the root.
inline std::string winePath(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "Z:" + path;
}

// Why the Windows tests cannot run here, or "" when they can.
inline std::string wineMissing(const std::vector<std::string>& programs) {
    for (const char* tool : {"wine", "wineserver", "wineboot", "Xvfb"}) {
        if (findProgram(tool).empty()) {
            return std::string(tool) + " is not installed (scripts/install-deps.sh installs it)";
        }
    }
    for (const std::string& program : programs) {
        if (windowsProgram(program).empty()) {
            return program + " is not built in " + windowsBuild() + ": run ./scripts/build-windows";
        }
    }
    return "";
}

// The settings every prefix gets: Wine places the windows itself, exactly where the program
// asks (with a window manager they would be offset by its frame, and every close would wait
// for it), and a crash ends the program without a dialog waiting for a click.
constexpr const char* kPrefixSettings =
    "REGEDIT4\n\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Managed\"=\"N\"\n\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n\"ShowCrashDialog\"=dword:00000000\n";

// The environment of a Wine run in `prefix` on `display`.
inline EnvChanges wineEnv(const std::string& prefix, const std::optional<std::string>& display) {
    EnvChanges env = sessionEnv(display);
    env["WINEPREFIX"] = prefix;
    env["WINEDEBUG"] = "-all";
    env["WINEDLLOVERRIDES"] = "mscoree=d;mshtml=d";  // no offer to install Mono or Gecko
    env["WINEARCH"] = std::nullopt;
    return env;
}

// The prefix all tests copy, booted (about 15 s) the first time a test of this build tree
// needs it, under a lock so that tests run in parallel boot it once. Empty with `why` set when
// it cannot be made.
inline std::string prefixTemplate(std::string& why) {
    const std::string folder = binaryPath("wine-prefix");
    const std::string ready = folder + "/camsteer-ready";
    const int lock =
        ::open(binaryPath("wine-prefix.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        why = "cannot lock " + binaryPath("wine-prefix.lock");
        return "";
    }
    if (access(ready.c_str(), F_OK) != 0) {
        TempDir scratch;
        std::system(("rm -rf '" + folder + "'").c_str());
        writeFile(scratch.file("settings.reg"), kPrefixSettings);
        const EnvChanges env = wineEnv(folder, std::nullopt);
        const std::vector<std::pair<std::string, std::vector<std::string>>> steps = {
            {"wineboot", {"-i"}},
            {"wine", {"regedit", "/S", winePath(scratch.file("settings.reg"))}},
            {"wineserver", {"-w"}}};
        for (const auto& [program, args] : steps) {
            const Finished done = runToEnd(program, args, env, "", scratch.path());
            if (!done.status || !done.status->exited() || done.status->code() != 0) {
                why = "making a Wine prefix failed at " + program + ": " + done.err;
                ::close(lock);
                return "";
            }
        }
        writeFile(ready, "");
    }
    ::close(lock);  // copies are taken without it: the template is never changed again
    return folder;
}

// A test's own Wine: a private Xvfb and a copy of the template prefix, so that each test has
// its own wineserver, registry and key state. The destructor ends every Windows process of it.
class WineBed {
  public:
    // Sets `why` when the bed cannot be made (then nothing else may be used).
    explicit WineBed(std::string& why) {
        const std::string from = prefixTemplate(why);
        if (from.empty()) {
            return;
        }
        // Beside the template, so that the files Wine only reads can be hard links (else
        // copies); the registry, which it rewrites, is copied.
        std::string run = binaryPath("wine-prefix-run-XXXXXX");
        if (mkdtemp(run.data()) == nullptr) {
            why = "cannot make a folder in " + binaryPath("");
            return;
        }
        run_ = run;
        prefix_ = run_ + "/prefix";
        if (std::system(("cp -al '" + from + "' '" + prefix_ + "' 2>/dev/null || cp -a '" + from +
                         "' '" + prefix_ + "' && for f in '" + from +
                         "'/*.reg; do cp --remove-destination \"$f\" '" + prefix_ + "'/; done")
                            .c_str()) != 0) {
            why = "cannot copy the Wine prefix " + from;
            return;
        }
        xvfb_ = std::make_unique<test::Xvfb>("1024x768x24");
        if (!xvfb_->running()) {
            why = "Xvfb did not start: " + xvfb_->error();
            return;
        }
        x_ = std::make_unique<XClient>(xvfb_->display());
        if (!x_->ok()) {
            why = "cannot connect to " + xvfb_->display();
        }
    }
    ~WineBed() {
        if (!prefix_.empty()) {
            runToEnd("wineserver", {"-k"}, env(), "", dir_.path());
        }
        if (x_) {
            x_->close();
        }
        if (!run_.empty()) {
            std::system(("rm -rf '" + run_ + "'").c_str());
        }
    }
    WineBed(const WineBed&) = delete;
    WineBed& operator=(const WineBed&) = delete;

    EnvChanges env(bool withDisplay = true) const {
        return wineEnv(prefix_,
                       withDisplay && xvfb_ ? std::optional(xvfb_->display()) : std::nullopt);
    }
    // Starts the Windows program `name` of the build with `args`, from its folder.
    std::unique_ptr<Process> start(const std::string& name, const std::vector<std::string>& args,
                                   bool withDisplay = true) {
        const std::string program = windowsProgram(name);
        std::vector<std::string> wineArgs{program};
        wineArgs.insert(wineArgs.end(), args.begin(), args.end());
        return std::make_unique<Process>("wine", wineArgs, env(withDisplay),
                                         program.substr(0, program.rfind('/')), dir_.path());
    }
    // Runs it to its end (bounded); its output as Linux would have it: Windows writes text with
    // "\r\n" line ends.
    Finished run(const std::string& name, const std::vector<std::string>& args,
                 bool withDisplay = true) {
        std::unique_ptr<Process> process = start(name, args, withDisplay);
        const auto unix = [](std::string text) {
            for (size_t at = text.find("\r\n"); at != std::string::npos;
                 at = text.find("\r\n", at)) {
                text.erase(at, 1);
            }
            return text;
        };
        const std::optional<ExitStatus> status = process->wait();
        return Finished{status, unix(process->out()), unix(process->err())};
    }

    TempDir& dir() { return dir_; }
    XClient& x() { return *x_; }

  private:
    TempDir dir_;
    std::string run_;  // the folder the prefix is copied into
    std::string prefix_;
    std::unique_ptr<test::Xvfb> xvfb_;
    std::unique_ptr<XClient> x_;
};

// A test's bed once it can run: null after skipping the test (no Wine, no Windows build of
// `programs`) or failing it (the bed cannot be made), for the test to return at once.
inline std::unique_ptr<WineBed> wineBedFor(const std::vector<std::string>& programs) {
    std::string why = wineMissing(programs);
    if (!why.empty()) {
        [&] { GTEST_SKIP() << why; }();  // records the skip; the test returns on the null
        return nullptr;
    }
    auto bed = std::make_unique<WineBed>(why);
    if (!why.empty()) {
        ADD_FAILURE() << why;
        return nullptr;
    }
    return bed;
}

}  // namespace camsteer::windows
