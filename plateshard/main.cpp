// plateshard: one platebench validation run cut into shards, the shards run
// by GNU parallel on this machine's cores or over ssh, and their outputs put
// together into the tree the one run would have written.
#include "case_rows.h"
#include "shard_merge.h"
#include "shard_plan.h"
#include "shard_run.h"

#include "driver/case_list.h"
#include "driver/text_util.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void print_usage(std::ostream& out) {
    out << "Usage: plateshard split --input-list LIST --shards N --out DIR\n"
        << "       plateshard merge --input-list LIST --output-dir OUT [--fail-on-error] [--move] SHARD_OUTPUT...\n"
        << "       plateshard run -j N [--shards N] [--sshlogin LOGIN]... [--slf FILE]... [--ssh COMMAND]\n"
        << "                      [--platebench PATH] [platebench options]\n";
}

struct Usage {};

// A count of jobs or shards; a million is more than any run has frames to give.
int positive(const std::string& option, const std::string& value) {
    const auto bad = [&] { return std::runtime_error(option + " must be a positive integer: " + value); };
    long n = 0;
    for (char c : value) {
        if (!is_ascii_digit(c)) throw bad();
        n = n * 10 + (c - '0');
        if (n > 1000000) throw bad();
    }
    if (n < 1) throw bad();
    return static_cast<int>(n);
}

// Walks the arguments after the subcommand; `take` gets each option with a
// way to read its value and returns whether it knew it.
template <typename Take>
void walk(const std::vector<std::string>& args, Take take) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") throw Usage();
        const auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::runtime_error("missing value for " + arg);
            return args[++i];
        };
        if (!take(arg, value)) throw std::runtime_error("unknown argument: " + arg);
    }
}

void require(const std::string& value, const char* option) {
    if (value.empty()) throw std::runtime_error(std::string("missing option: ") + option);
}

int split(const std::vector<std::string>& args) {
    std::string list_path, out_dir;
    int shards = 0;
    walk(args, [&](const std::string& arg, auto value) {
        if (arg == "--input-list") list_path = value();
        else if (arg == "--out") out_dir = value();
        else if (arg == "--shards") shards = positive(arg, value());
        else return false;
        return true;
    });
    require(list_path, "--input-list");
    require(out_dir, "--out");
    if (shards == 0) throw std::runtime_error("missing option: --shards");
    const CaseRows list = read_case_rows(list_path);
    const std::vector<int> shard_of = assign_shards(case_items(list), shards);
    ensure_dir(out_dir);
    for (const auto& path : write_shard_lists(list, shard_of, shards, out_dir, "shard_")) std::cout << path << "\n";
    write_manifest(list, shard_of, shards, out_dir, "shard_");
    return 0;
}

int merge(const std::vector<std::string>& args) {
    std::string list_path, output_dir;
    bool fail_on_error = false, move = false;
    std::vector<std::string> shard_dirs;
    walk(args, [&](const std::string& arg, auto value) {
        if (arg == "--input-list") list_path = value();
        else if (arg == "--output-dir") output_dir = value();
        else if (arg == "--fail-on-error") fail_on_error = true;
        else if (arg == "--move") move = true;
        else if (arg.rfind("-", 0) == 0) return false;
        else shard_dirs.push_back(arg);
        return true;
    });
    require(list_path, "--input-list");
    require(output_dir, "--output-dir");
    if (shard_dirs.empty()) throw std::runtime_error("missing shard outputs");
    const MergedRun run = read_shard_outputs(read_input_list(list_path), shard_dirs);
    return write_merged_run(run, output_dir, fail_on_error, move, std::cout);
}

int run(const std::vector<std::string>& args) {
    RunOptions options;
    options.jobs = 0;
    options.platebench = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "platebench").string();
    walk(args, [&](const std::string& arg, auto value) {
        if (arg == "-j" || arg == "--jobs") options.jobs = positive(arg, value());
        else if (arg == "--shards") options.shards = positive(arg, value());
        else if (arg == "--sshlogin" || arg == "-S") options.sshlogins.push_back(value());
        else if (arg == "--slf" || arg == "--sshloginfile") options.sshlogin_files.push_back(value());
        else if (arg == "--ssh") options.ssh = value();
        else if (arg == "--platebench") options.platebench = value();
        else {
            options.platebench_args.push_back(arg);
            if (platebench_takes_value(arg)) options.platebench_args.push_back(value());
        }
        return true;
    });
    if (options.jobs == 0) throw std::runtime_error("missing option: -j");
    return run_sharded(options, std::cout);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty()) throw Usage();
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "split") return split(rest);
        if (args[0] == "merge") return merge(rest);
        if (args[0] == "run") return run(rest);
        if (args[0] == "-h" || args[0] == "--help") throw Usage();
        throw std::runtime_error("unknown command: " + args[0]);
    } catch (const Usage&) {
        print_usage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 1 : 0;
    } catch (const std::exception& e) {
        std::cerr << "[ERROR] " << e.what() << "\n";
        return 1;
    }
}
