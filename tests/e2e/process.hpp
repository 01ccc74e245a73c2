#pragma once

// Programs run by the end-to-end tests as child processes: the built programs, and any other
// program a test bed needs (a terminal, a compositor, xdotool), with their environment, folder
// and user chosen by the test and their output captured in files.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "../common/poll_until.hpp"
#include "files.hpp"

extern char** environ;

namespace camsteer::e2e {

using namespace std::chrono_literals;
using test::Clock;
using test::pollUntil;

// Bounds for things that normally take well under a second; generous for a loaded machine.
// They only end a wait that would otherwise hang, they time nothing.
constexpr auto kStartBound = 60s;  // until a program's windows are up and show frames
constexpr auto kExitBound = 60s;   // until a program has ended after being asked to

// A wait status, readable in failure messages.
struct ExitStatus {
    int raw = 0;
    bool exited() const { return WIFEXITED(raw); }
    int code() const { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }
    bool signaled() const { return WIFSIGNALED(raw); }
    int signal() const { return WIFSIGNALED(raw) ? WTERMSIG(raw) : 0; }
    std::string describe() const {
        if (exited()) {
            return "exit status " + std::to_string(code());
        }
        if (signaled()) {
            return std::string("killed by ") + strsignal(signal());
        }
        return "wait status " + std::to_string(raw);
    }
};

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// The session variables a program reads, all cleared but DISPLAY, which names `display`
// (or is cleared too when `display` is nullopt).
inline EnvChanges sessionEnv(const std::optional<std::string>& display) {
    return {{"DISPLAY", display},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"XDG_SESSION_TYPE", std::nullopt},
            {"QT_QPA_PLATFORM", std::nullopt}};
}

// A user a child runs as instead of the suite's own.
struct RunAs {
    uid_t uid = 0;
    gid_t gid = 0;
};

// A user without privileges, for programs that refuse to run as root: the suite's own user
// when that is not root, else "nobody"; nullopt when there is none.
inline std::optional<RunAs> unprivilegedUser() {
    if (geteuid() != 0) {
        return RunAs{getuid(), getgid()};
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || nobody->pw_uid == 0) {
        return std::nullopt;
    }
    return RunAs{nobody->pw_uid, nobody->pw_gid};
}

// Where PATH finds the program `name` (a name with a slash stands for itself); empty when it is
// not installed, which a test reports with GTEST_SKIP.
inline std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? name : "";
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

// What a child process runs, and how.
struct Launch {
    std::string program;  // a path, or a name PATH finds
    std::vector<std::string> args;
    EnvChanges env;             // on top of the suite's own environment
    std::string cwd;            // empty: the suite's working folder
    std::optional<RunAs> user;  // nullopt: the suite's own user
};

// A program run as a child process. Standard input is /dev/null, standard output and error go
// to files in `outDir`; the destructor kills and reaps a child that is still running.
class Process {
  public:
    Process(const Launch& launch, const std::string& outDir) {
        static int serial = 0;
        const std::string stem = outDir + "/run" + std::to_string(++serial);
        outPath_ = stem + ".out";
        errPath_ = stem + ".err";

        // Everything is prepared before fork: only exec-safe calls in the child.
        const std::string found = findProgram(launch.program);
        std::vector<std::string> argStore{found.empty() ? launch.program : found};
        argStore.insert(argStore.end(), launch.args.begin(), launch.args.end());
        std::vector<std::string> envStore;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (launch.env.count(entry.substr(0, entry.find('='))) == 0) {
                envStore.push_back(entry);
            }
        }
        for (const auto& [name, value] : launch.env) {
            if (value) {
                envStore.push_back(name + "=" + *value);
            }
        }
        std::vector<char*> argv;
        for (std::string& a : argStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : envStore) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        const bool switchUser = launch.user && launch.user->uid != geteuid();
        const RunAs user = launch.user.value_or(RunAs{});
        const std::string& cwd = launch.cwd;

        const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || err < 0 || in < 0) {
            throw std::runtime_error("cannot open the output files in " + outDir);
        }
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            // A process group of its own whose parent (this test) shares its session: never an
            // orphaned group, in which a stop signal like SIGTSTP would not stop the program.
            setpgid(0, 0);
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);  // a crash shows in the status, not as a file
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
                ::signal(signo, SIG_DFL);
            }
            dup2(in, STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            if (switchUser &&
                (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0)) {
                _exit(126);
            }
            // No stray program if the test process dies; set after the change of user, which
            // clears it.
            if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
                _exit(126);
            }
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
                _exit(126);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        ::close(out);
        ::close(err);
        ::close(in);
        if (pid < 0) {
            throw std::runtime_error("fork failed: " + std::string(strerror(errno)));
        }
        pid_ = pid;
    }
    Process(const std::string& program, const std::vector<std::string>& args, const EnvChanges& env,
            const std::string& cwd, const std::string& outDir)
        : Process(Launch{program, args, env, cwd, std::nullopt}, outDir) {}
    ~Process() {
        if (running()) {
            ::kill(pid_, SIGKILL);
            int raw = 0;
            while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
            }
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        reap();
        return !status_.has_value();
    }
    void signal(int signo) {
        if (running()) {
            ::kill(pid_, signo);
        }
    }
    // The exit status once the program has ended, nullopt when it still runs after `bound`.
    std::optional<ExitStatus> wait(Clock::duration bound = kExitBound) {
        pollUntil([this] { return !running(); }, bound, 10ms);
        return status_;
    }
    std::string out() const { return readFile(outPath_); }
    std::string err() const { return readFile(errPath_); }

  private:
    void reap() {
        if (status_ || pid_ <= 0) {
            return;
        }
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = ExitStatus{raw};
        }
    }

    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
    std::string outPath_;
    std::string errPath_;
};

// Ends each running process in turn with SIGTERM, waiting for it (bounded), and forgets it.
inline void stopInOrder(std::initializer_list<std::unique_ptr<Process>*> processes) {
    for (std::unique_ptr<Process>* process : processes) {
        if (*process) {
            (*process)->signal(SIGTERM);
            (*process)->wait(10s);
            process->reset();
        }
    }
}

// Runs a program to its end (bounded); the status is nullopt if it did not end.
struct Finished {
    std::optional<ExitStatus> status;
    std::string out;
    std::string err;
};
inline Finished runToEnd(const Launch& launch, const std::string& outDir) {
    Process process(launch, outDir);
    Finished result;
    result.status = process.wait();
    result.out = process.out();
    result.err = process.err();
    return result;
}
inline Finished runToEnd(const std::string& program, const std::vector<std::string>& args,
                         const EnvChanges& env, const std::string& cwd, const std::string& outDir) {
    return runToEnd(Launch{program, args, env, cwd, std::nullopt}, outDir);
}

}  // namespace camsteer::e2e
