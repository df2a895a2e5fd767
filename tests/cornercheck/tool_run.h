#pragma once

// Runs the cornercheck binary as a child process, without a shell, in a
// fresh working directory per test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fresh working directory per test.
inline std::string workdir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    const std::string dir = std::string(SCRATCH_DIR) + "/cli_" + info->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Runs the binary in cwd with args after the invocation name, no shell.
inline ToolRun run_tool(const std::string& cwd, const std::vector<std::string>& args) {
    std::vector<std::string> all = {CORNERCHECK_BIN};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out_path = cwd + "/.stdout", err_path = cwd + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out_path);
    run.err = slurp(err_path);
    return run;
}
