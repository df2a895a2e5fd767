// Runs a program through the shell and captures its exit code and streams.
#pragma once

#include "driver/text_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct CommandResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Creates the parent folders too.
inline void write_file(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Runs argv[0] with the given arguments in working directory cwd.
inline CommandResult run_command(const std::vector<std::string>& argv, const std::string& cwd) {
    const std::string tag = std::to_string(::getpid());
    const std::string out = (std::filesystem::temp_directory_path() / ("pb_cmd_out_" + tag)).string();
    const std::string err = (std::filesystem::temp_directory_path() / ("pb_cmd_err_" + tag)).string();
    std::string line = "cd " + shell_quote(cwd) + " &&";
    for (const auto& a : argv) line += " " + shell_quote(a);
    line += " >" + shell_quote(out) + " 2>" + shell_quote(err) + " </dev/null";
    const int status = std::system(line.c_str());
    CommandResult r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return r;
}
