// Starts a program as a child with a file-size limit, a deadline and its
// streams in files, so a test can kill it mid-run or stop one that blocks.
#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

struct ChildOptions {
    std::string cwd = ".";
    std::string out_path = "/dev/null";
    std::string err_path = "/dev/null";
    long file_size_limit = -1; // bytes; -1 for none
};

struct ChildExit {
    bool exited = false; // false: killed by a signal (or by the deadline)
    int code = -1;
    bool timed_out = false;
};

inline pid_t start_child(const std::vector<std::string>& argv, const ChildOptions& opt) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // Child: only async-signal-safe calls from here on.
    if (::chdir(opt.cwd.c_str()) != 0) ::_exit(120);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(opt.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(opt.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(121);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (opt.file_size_limit >= 0) {
        // Ignored, SIGXFSZ turns a write past the limit into EFBIG, as a
        // full disk turns it into ENOSPC.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{static_cast<rlim_t>(opt.file_size_limit), static_cast<rlim_t>(opt.file_size_limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(122);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Waits at most timeout_s, then kills the child and reaps it.
inline ChildExit wait_child(pid_t pid, double timeout_s) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    ChildExit r;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            r.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.exited = WIFEXITED(status);
    r.code = r.exited ? WEXITSTATUS(status) : -1;
    return r;
}

inline bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// A throw-away tmpfs (needs CAP_SYS_ADMIN, i.e. root); unmounted on scope exit.
class ScratchMount {
public:
    ScratchMount(const std::string& path, const std::string& options) : path_(path) {
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~ScratchMount() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool mounted() const { return mounted_; }
    // Remounts read-only, keeping what was written.
    bool make_read_only() { return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    std::string path_;
    bool mounted_ = false;
};
