// Writes small platebench output trees for the tests, and runs programs.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void spit(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The same quoting rule as platebench's tables.
inline std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

inline std::string csv_row(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + csv_field(fields[i]);
    return line + "\n";
}

struct TestFrame {
    std::string group_id, image_path, expected, plate_text, status, region, class_no, kana, serial, ocr_texts;
};

struct TestGroup {
    std::string group_id, expected, plate_text, status, region, class_no, kana, serial, frame_count;
};

struct TestTree {
    std::string input_mode = "roi";
    bool use_plate_det = false;
    std::vector<TestFrame> frames;
    std::vector<TestGroup> groups;
    // case name -> picture file names to create (placeholder bytes unless a writer is given)
    std::vector<std::pair<std::string, std::vector<std::string>>> pictures;
};

inline void write_tree(const fs::path& dir, const TestTree& t) {
    fs::remove_all(dir);
    fs::create_directories(dir / "cases");
    int frame_correct = 0, group_correct = 0;
    std::string frames = "group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n";
    for (const auto& f : t.frames) {
        frames += csv_row({f.group_id, f.image_path, f.expected, f.plate_text, f.status, f.region, f.class_no, f.kana,
                           f.serial, f.ocr_texts});
        frame_correct += f.status == "correct";
    }
    std::string groups = "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\n";
    for (const auto& g : t.groups) {
        groups += csv_row({g.group_id, g.expected, g.plate_text, g.status, g.region, g.class_no, g.kana, g.serial,
                           g.frame_count});
        group_correct += g.status == "correct";
    }
    spit(dir / "frame_summary.csv", frames);
    spit(dir / "summary.csv", groups);
    const int nf = static_cast<int>(t.frames.size()), ng = static_cast<int>(t.groups.size());
    spit(dir / "FINAL_RESULT.json",
         "{\n  \"input_mode\": \"" + t.input_mode + "\",\n  \"use_plate_det\": " + (t.use_plate_det ? "true" : "false") +
             ",\n  \"frame_total\": " + std::to_string(nf) + ",\n  \"frame_correct\": " + std::to_string(frame_correct) +
             ",\n  \"frame_check_or_failed\": " + std::to_string(nf - frame_correct) + ",\n  \"group_total\": " +
             std::to_string(ng) + ",\n  \"group_correct\": " + std::to_string(group_correct) +
             ",\n  \"group_check_or_failed\": " + std::to_string(ng - group_correct) +
             ",\n  \"frame_summary_csv\": \"out/frame_summary.csv\",\n  \"summary_csv\": \"out/summary.csv\"\n}\n");
    for (const auto& [name, files] : t.pictures) {
        fs::create_directories(dir / "cases" / name);
        for (const auto& f : files) spit(dir / "cases" / name / f, "picture");
    }
}

struct CommandResult {
    int exit_code = -1;
    std::string out, err;
};

inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs argv through the shell in working directory cwd and captures both streams.
inline CommandResult run_command(const std::vector<std::string>& argv, const fs::path& cwd) {
    const fs::path out = cwd / ("cmd_out_" + std::to_string(::getpid()));
    const fs::path err = cwd / ("cmd_err_" + std::to_string(::getpid()));
    std::string line = "cd " + quoted(cwd.string()) + " &&";
    for (const auto& a : argv) line += " " + quoted(a);
    line += " >" + quoted(out.string()) + " 2>" + quoted(err.string()) + " </dev/null";
    const int status = std::system(line.c_str());
    CommandResult r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

inline fs::path scratch_root() {
    return fs::temp_directory_path() / ("platereport_test_" + std::to_string(::getpid()));
}

// Removes the process's scratch folders when the test program ends.
struct ScratchCleanup {
    ~ScratchCleanup() {
        std::error_code ec;
        fs::remove_all(scratch_root(), ec);
    }
};
inline ScratchCleanup scratch_cleanup;

// A scratch folder of its own per test process.
inline fs::path scratch_dir(const std::string& name) {
    const fs::path dir = scratch_root() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}
