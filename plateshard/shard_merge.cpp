#include "shard_merge.h"

#include "frame_table.h"
#include "shard_plan.h"

#include "driver/frame_pipeline.h"
#include "driver/group_report.h"
#include "driver/group_vote.h"
#include "driver/result_files.h"
#include "driver/text_util.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

bool read_whole(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    content = ss.str();
    return true;
}

// The raw value of a member of FINAL_RESULT.json as platebench writes it:
// one member per line, so the value runs to the line's end, less a comma.
std::string json_member(const std::string& json, const std::string& key) {
    const std::string tag = "  \"" + key + "\": ";
    const size_t at = json.find(tag);
    if (at == std::string::npos) return "";
    const size_t begin = at + tag.size();
    size_t end = json.find('\n', begin);
    if (end == std::string::npos) end = json.size();
    if (end > begin && json[end - 1] == ',') --end;
    return json.substr(begin, end - begin);
}

struct ShardFacts {
    std::string input_mode; // as written, quotes included
    std::string use_plate_det;
};

[[noreturn]] void foreign(const std::string& dir, size_t line) {
    throw std::runtime_error("shard output does not match its case list: " + dir + " (frame table line " +
                             std::to_string(line) + ")");
}

ShardFacts read_one_shard(const std::vector<CaseItem>& cases, const std::vector<size_t>& mine, int shard,
                          const std::string& dir, MergedRun& run) {
    std::error_code ec;
    std::string table;
    const std::string table_path = dir + "/frame_summary.csv";
    if (!fs::is_directory(dir, ec) || !read_whole(table_path, table))
        throw std::runtime_error("shard output missing: " + dir);
    const CsvRecords records = split_csv_records(table);
    const std::string header = frame_summary_header();
    if (records.records.empty() || table.compare(0, records.records.front().length, header) != 0 ||
        records.records.front().length != header.size())
        foreign(dir, 1);
    table.clear();
    table.shrink_to_fit();

    const size_t found = records.records.size() - 1;
    for (size_t j = 0; j < found; ++j) {
        const CsvRecord& r = records.records[j + 1];
        if (j >= mine.size() || r.fields.size() != kFrameColumns) foreign(dir, j + 2);
        const CaseItem& c = cases[mine[j]];
        if (r.fields[kGroupId] != c.group_id || r.fields[kImagePath] != c.image_path ||
            r.fields[kExpected] != c.expected || r.fields[kStatus] != plate_status(c.expected, r.fields[kPlateText]))
            foreign(dir, j + 2);
        FrameResult& f = run.frames[mine[j]];
        f.group_id = c.group_id;
        f.expected = c.expected;
        f.plate.region = r.fields[kRegion];
        f.plate.class_no = r.fields[kClassNo];
        f.plate.kana = r.fields[kKana];
        f.plate.serial = r.fields[kSerial];
        if (r.fields[kStatus] == "correct") ++run.frame_correct;
        run.rows[mine[j]] = {shard, r.offset, r.length};
    }
    if (found < mine.size() || records.truncated)
        throw std::runtime_error("shard output incomplete: " + dir + " (" + std::to_string(found) + " of " +
                                 std::to_string(mine.size()) + " frames)");

    std::string final_json;
    if (!read_whole(dir + "/FINAL_RESULT.json", final_json) ||
        json_member(final_json, "frame_total") != std::to_string(found))
        throw std::runtime_error("shard output incomplete: " + dir + " (no FINAL_RESULT.json of these frames)");

    // One listing instead of a look-up per case: folders are many.
    std::unordered_set<std::string> present;
    for (const auto& entry : fs::directory_iterator(dir + "/cases", ec))
        if (entry.is_directory(ec)) present.insert(entry.path().filename().string());
    if (ec) throw std::runtime_error("shard output incomplete: " + dir + " (no cases folder)");
    present.insert("");
    // Every case of a folder is in this shard, so the folder is whole here.
    std::unordered_set<std::string> named;
    for (size_t i : mine) {
        const std::string name = case_folder_name(cases[i].image_path);
        // cases/.. is the output folder itself, where the report files are.
        if (name == "..") throw std::runtime_error("image name gives no case folder: " + cases[i].image_path);
        if (!present.count(name))
            throw std::runtime_error("shard output incomplete: " + dir + " (no case folder " + name + ")");
        if (named.insert(name).second) run.case_folders.push_back({dir + "/cases/" + name, name});
    }
    return {json_member(final_json, "input_mode"), json_member(final_json, "use_plate_det")};
}

void fail_write(const fs::path& path) { throw std::runtime_error("failed to write case folder: " + path.string()); }

// Files of `from` replace those of the same name under `to`; others stay, as
// when a run writes into a folder an earlier run left. files_only: `from` is
// a shared folder of which only the loose files belong to the case.
void install_folder(const fs::path& from, const fs::path& to, bool move, bool files_only = false) {
    std::error_code ec;
    // A rename replaces a missing or empty folder and fails on any other.
    if (move && !files_only) {
        fs::rename(from, to, ec);
        if (!ec) return;
    }
    fs::create_directories(to, ec);
    if (!fs::is_directory(to, ec)) fail_write(to);
    for (const auto& entry : fs::directory_iterator(from, ec)) {
        const fs::path target = to / entry.path().filename();
        if (entry.is_directory(ec)) {
            if (!files_only) install_folder(entry.path(), target, move);
            continue;
        }
        if (move) {
            fs::rename(entry.path(), target, ec);
            if (!ec) continue;
        }
        fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing, ec);
        if (ec) fail_write(target);
    }
    if (ec) fail_write(from);
}

// Each shard's rows are its table's records in list order, so the merged
// table reads every shard table once, front to back.
void write_frame_table(const MergedRun& run, const std::string& path) {
    std::vector<std::ifstream> tables;
    std::vector<size_t> at(run.frame_tables.size(), frame_summary_header().size());
    for (const auto& t : run.frame_tables) {
        tables.emplace_back(t, std::ios::binary);
        tables.back().seekg(static_cast<std::streamoff>(at.front()));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << frame_summary_header();
    std::string row;
    for (const RowPlace& place : run.rows) {
        std::ifstream& in = tables[place.shard];
        row.resize(place.length);
        in.read(row.data(), static_cast<std::streamsize>(place.length));
        if (at[place.shard] != place.offset || !in)
            throw std::runtime_error("shard output changed while merging: " + run.frame_tables[place.shard]);
        at[place.shard] += place.length;
        out << row;
    }
    out.close();
    if (!out) throw std::runtime_error("failed to write file: " + path);
}

} // namespace

MergedRun read_shard_outputs(const std::vector<CaseItem>& cases, const std::vector<std::string>& shard_dirs) {
    const int n = static_cast<int>(shard_dirs.size());
    const std::vector<std::vector<size_t>> plan = shard_cases(assign_shards(cases, n), n);
    MergedRun run;
    run.rows.resize(cases.size());
    run.frames.resize(cases.size());
    for (int k = 0; k < n; ++k) {
        run.frame_tables.push_back(shard_dirs[k] + "/frame_summary.csv");
        const ShardFacts facts = read_one_shard(cases, plan[k], k, shard_dirs[k], run);
        const std::string mode = facts.input_mode.size() >= 2 ? facts.input_mode.substr(1, facts.input_mode.size() - 2)
                                                              : facts.input_mode;
        if (k == 0) {
            run.input_mode = mode;
            run.use_plate_det = facts.use_plate_det == "true";
        } else if (mode != run.input_mode || (facts.use_plate_det == "true") != run.use_plate_det) {
            throw std::runtime_error("shard output of another mode: " + shard_dirs[k]);
        }
    }
    return run;
}

int write_merged_run(const MergedRun& run, const std::string& output_dir, bool fail_on_error, bool move_cases,
                     std::ostream& out) {
    ensure_dir(output_dir);
    ensure_dir(output_dir + "/cases");
    for (const auto& folder : run.case_folders)
        install_folder(folder.from, output_dir + "/cases/" + folder.name, move_cases, folder.name.empty());

    write_frame_table(run, output_dir + "/frame_summary.csv");

    const GroupReport groups = group_report(run.frames);
    write_text_file(output_dir + "/summary.csv", groups.summary_csv);

    RunTotals totals;
    totals.frame_total = static_cast<int32_t>(run.frames.size());
    totals.frame_correct = run.frame_correct;
    totals.frame_check_or_failed = totals.frame_total - run.frame_correct;
    totals.group_total = groups.group_total;
    totals.group_correct = groups.group_correct;
    totals.group_check_or_failed = groups.group_check_or_failed;
    write_text_file(output_dir + "/FINAL_RESULT.json",
                    final_result_json(run.input_mode, run.use_plate_det, totals, output_dir));
    out << final_block(run.input_mode, run.use_plate_det, totals, output_dir);
    return fail_on_error && totals.group_check_or_failed > 0 ? 2 : 0;
}
