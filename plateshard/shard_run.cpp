#include "shard_run.h"

#include "case_rows.h"
#include "shard_merge.h"
#include "shard_plan.h"

#include "driver/args.h"
#include "driver/text_util.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// platebench's options that take a value, so a value is never read as an option.
const char* const kValueOptions[] = {"--input-mode",     "--plate-det-model", "--plate-corner-model",
                                     "--ppocr-det-model", "--ppocr-rec-model", "--dict-region",
                                     "--ocr-dict",         "--input-list",      "--output-dir",
                                     "--plate-det-thresh"};

Args parse_platebench_args(const std::vector<std::string>& args) {
    std::vector<std::string> storage = {"platebench"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    return parse_args(static_cast<int>(storage.size()), argv.data());
}

// A folder of this run's own beside the output folder, removed however the run ends.
struct WorkDir {
    std::string path;
    explicit WorkDir(const std::string& output_dir) {
        fs::path out = output_dir;
        if (!out.has_filename()) out = out.parent_path(); // "out/" is "out", not a folder inside it
        fs::path parent = out.parent_path();
        if (parent.empty()) parent = ".";
        std::string pattern = (fs::absolute(parent) / ".plateshard-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdir failed: " + pattern);
        path = pattern;
    }
    ~WorkDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
};

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t begin = 0;
    while (begin <= dirs.size()) {
        size_t end = dirs.find(':', begin);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > begin ? dirs.substr(begin, end - begin) : ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        begin = end + 1;
    }
    return false;
}

// Runs argv in cwd with its standard output on our standard error, so that
// our own standard output carries the final block alone. A Ctrl-C reaches the
// child too; we outlive it to remove the work folder.
int run_program(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<char*> argv;
    std::vector<std::string> storage = args;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::cout.flush();
    struct sigaction ignore = {}, old_int = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &old_int);
    const pid_t pid = fork();
    if (pid == 0) {
        sigaction(SIGINT, &old_int, nullptr);
        const int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0) dup2(null_in, STDIN_FILENO);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        if (chdir(cwd.c_str()) == 0) execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    pid_t waited = -1;
    while (pid > 0 && (waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    sigaction(SIGINT, &old_int, nullptr);
    if (pid < 0) throw std::runtime_error("fork failed: " + args[0]);
    if (waited < 0) throw std::runtime_error("waitpid failed: " + args[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

bool platebench_takes_value(const std::string& arg) {
    return std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) != std::end(kValueOptions);
}

std::vector<std::string> shard_platebench_args(const std::vector<std::string>& args) {
    std::vector<std::string> kept;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--fail-on-error") continue;
        if (!platebench_takes_value(a)) {
            kept.push_back(a);
            continue;
        }
        const bool whole_run = a == "--input-list" || a == "--output-dir";
        if (!whole_run) kept.push_back(a);
        if (i + 1 < args.size()) {
            ++i;
            if (!whole_run) kept.push_back(args[i]);
        }
    }
    return kept;
}

std::string pin_to_slot_cores(int jobs) {
    if (jobs < 2) return "";
    const std::string j = std::to_string(jobs);
    // Slot s of J takes cores [s*c/J, (s+1)*c/J) of the c the job may use, at least one.
    // Where those numbers are not the job's own cores (a cpuset that starts past 0),
    // taskset refuses the trial run and the shard runs unpinned.
    return "c=$(nproc); s=$(( ({%} - 1) % " + j + " )); a=$(( s * c / " + j + " )); b=$(( (s + 1) * c / " + j +
           " - 1 )); [ \"$b\" -lt \"$a\" ] && b=$a; taskset -c \"$a-$b\" true 2>/dev/null && "
           "pin=\"taskset -c $a-$b\"; ";
}

std::string shard_command(const std::string& platebench, const std::vector<std::string>& args,
                          const std::string& cwd, bool remote, int jobs) {
    std::string run = "cd " + shell_quote(cwd) + " && " + (remote ? "" : "exec ") + "$pin " + shell_quote(platebench);
    for (const auto& a : args) run += " " + shell_quote(a);
    run += " --input-list \"$w\"/{}.csv --output-dir \"$w\"/{}.out";
    const std::string start = "w=$PWD; pin=; " + pin_to_slot_cores(jobs);
    if (!remote) return start + run;
    return start + "(" + run + ") && tar -C \"$w\" -cf \"$w\"/{}.tar {}.out && rm -rf \"$w\"/{}.out";
}

int machine_count(const RunOptions& options) {
    int machines = 0;
    for (const auto& login : options.sshlogins) {
        machines += 1;
        for (size_t i = 0; i < login.size(); ++i) {
            if (login[i] == '\\' || (login[i] == ',' && i + 1 < login.size() && login[i + 1] == ',')) ++i;
            else if (login[i] == ',') ++machines;
        }
    }
    for (const auto& file : options.sshlogin_files) {
        std::ifstream in(file);
        if (!in) throw std::runtime_error("failed to open: " + file);
        std::string line;
        while (std::getline(in, line)) {
            line = trim(line);
            if (!line.empty() && line[0] != '#') ++machines;
        }
    }
    return std::max(machines, 1);
}

int run_sharded(const RunOptions& options, std::ostream& out) {
    const auto split_start = std::chrono::steady_clock::now();
    const Args args = parse_platebench_args(options.platebench_args);
    // The start-up checks of platebench, so that a missing file is one error, not one per shard.
    for (const std::string* path : {&args.plate_corner_model, &args.ppocr_det_model, &args.ppocr_rec_model,
                                    &args.dict_region, &args.ocr_dict, &args.input_list})
        check_file(*path);
    const bool use_plate_det =
        args.input_mode == "frame" || (args.input_mode == "auto" && file_exists(args.plate_det_model));
    if (use_plate_det) check_file(args.plate_det_model);
    ensure_dir(args.output_dir);
    ensure_dir(args.output_dir + "/cases");
    if (!on_path("parallel")) throw std::runtime_error("missing program: parallel");

    const CaseRows list = read_case_rows(args.input_list);
    const std::vector<CaseItem> cases = case_items(list);
    const int wanted = options.shards > 0 ? options.shards : options.jobs * machine_count(options);
    const int shards = std::max(1, std::min(wanted, cluster_count(cases)));
    const std::vector<int> shard_of = assign_shards(cases, shards);

    const WorkDir work(args.output_dir);
    const std::string prefix = fs::path(work.path).filename().string() + ".";
    write_shard_lists(list, shard_of, shards, work.path, prefix);
    const double split_ms = ms_since(split_start);

    const auto runs_start = std::chrono::steady_clock::now();
    const bool remote = !options.sshlogins.empty() || !options.sshlogin_files.empty();
    std::vector<std::string> parallel = {"parallel", "-j", std::to_string(options.jobs), "--halt", "now,fail=1"};
    if (!options.ssh.empty()) parallel.insert(parallel.end(), {"--ssh", options.ssh});
    for (const auto& login : options.sshlogins) parallel.insert(parallel.end(), {"--sshlogin", login});
    for (const auto& file : options.sshlogin_files)
        parallel.insert(parallel.end(), {"--slf", fs::absolute(file).string()});
    if (remote) parallel.insert(parallel.end(), {"--transferfile", "{}.csv", "--return", "{}.tar", "--cleanup"});
    parallel.push_back(shard_command(fs::absolute(options.platebench).string(),
                                     shard_platebench_args(options.platebench_args), fs::current_path().string(),
                                     remote, options.jobs));
    parallel.push_back(":::");
    std::vector<std::string> shard_dirs;
    for (int s = 0; s < shards; ++s) {
        const std::string name = shard_name(prefix, s, shards);
        parallel.push_back(name);
        shard_dirs.push_back(work.path + "/" + name + ".out");
    }
    const int parallel_code = run_program(parallel, work.path);
    if (parallel_code != 0)
        throw std::runtime_error("shard runs failed: parallel exit code " + std::to_string(parallel_code));
    if (remote)
        for (int s = 0; s < shards; ++s) {
            const std::string tar = shard_name(prefix, s, shards) + ".tar";
            if (file_exists(work.path + "/" + tar) && run_program({"tar", "-xf", tar}, work.path) != 0)
                throw std::runtime_error("failed to unpack shard output: " + work.path + "/" + tar);
        }
    const double runs_ms = ms_since(runs_start);

    const auto merge_start = std::chrono::steady_clock::now();
    const MergedRun merged = read_shard_outputs(cases, shard_dirs);
    const int code = write_merged_run(merged, args.output_dir, args.fail_on_error, true, out);
    std::cerr << "[INFO] shards=" << shards << " split_ms=" << static_cast<long>(split_ms)
              << " shard_runs_ms=" << static_cast<long>(runs_ms)
              << " merge_ms=" << static_cast<long>(ms_since(merge_start)) << "\n";
    return code;
}
