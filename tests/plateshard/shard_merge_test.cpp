// Merging shard outputs built by hand: tables in list order and voted across
// shards, case folders, and every way a shard output can be unfit.
#include "shard_merge.h"
#include "temp_dir.h"

#include "driver/frame_pipeline.h"
#include "driver/group_report.h"
#include "driver/group_vote.h"
#include "driver/result_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void put(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

FrameResult frame(const std::string& path, const std::string& expected, const std::string& group,
                  const std::string& serial) {
    FrameResult f{path, expected, group, {}, {{"original_full", "品川,300 \"" + serial + "\""}}};
    f.plate = {"品川", "300", "あ", serial, ""};
    f.plate.plate_text = compose_plate_text(f.plate);
    return f;
}

// The list below, split in two: group A alone in shard 0, B and C in shard 1.
const std::vector<FrameResult> kFrames = {
    frame("img/a1.jpg", "品川 300 あ 12-34", "A", "12-34"),
    frame("img/b1.jpg", "", "B", "56-78"),
    frame("img/a2.jpg", "品川 300 あ 12-34", "A", "99-99"),
    frame("img/c1.jpg", "品川300あ11-11", "C", "22-22"),
};
const std::vector<std::vector<size_t>> kShards = {{0, 2}, {1, 3}};

std::vector<CaseItem> list_cases() {
    std::vector<CaseItem> cases;
    for (const auto& f : kFrames) cases.push_back({f.image_path, f.expected, f.group_id});
    return cases;
}

// What platebench leaves in a shard's output folder.
void write_shard(const std::string& dir, const std::vector<size_t>& mine, const std::string& mode = "roi") {
    std::string table = frame_summary_header();
    std::vector<FrameResult> frames;
    RunTotals t;
    for (size_t i : mine) {
        const FrameResult& f = kFrames[i];
        const std::string status = plate_status(f.expected, f.plate.plate_text);
        table += frame_summary_row(f, status);
        const std::string base = fs::path(f.image_path).stem().string();
        put(dir + "/cases/" + base + "/result.txt", result_txt(f, status));
        put(dir + "/cases/" + base + "/plate_roi.jpg", "picture of " + f.image_path);
        frames.push_back(f);
        ++(status == "correct" ? t.frame_correct : t.frame_check_or_failed);
    }
    put(dir + "/frame_summary.csv", table);
    const GroupReport g = group_report(frames);
    put(dir + "/summary.csv", g.summary_csv);
    t.frame_total = static_cast<int32_t>(frames.size());
    t.group_total = g.group_total;
    put(dir + "/FINAL_RESULT.json", final_result_json(mode, false, t, dir));
}

class ShardMerge : public testing::Test {
protected:
    void SetUp() override {
        for (size_t k = 0; k < kShards.size(); ++k) {
            dirs.push_back(tmp.file("s" + std::to_string(k)));
            write_shard(dirs.back(), kShards[k]);
        }
    }
    TempDir tmp{"shard_merge_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())};
    std::vector<std::string> dirs;
};

} // namespace

TEST_F(ShardMerge, WritesOneRunsTablesFromShards) {
    const MergedRun run = read_shard_outputs(list_cases(), dirs);
    std::ostringstream out;
    const std::string merged = tmp.file("out");
    EXPECT_EQ(write_merged_run(run, merged, true, false, out), 2) << "group C is not correct";

    std::string table = frame_summary_header();
    RunTotals t;
    for (const auto& f : kFrames) {
        const std::string status = plate_status(f.expected, f.plate.plate_text);
        table += frame_summary_row(f, status);
        ++(status == "correct" ? t.frame_correct : t.frame_check_or_failed);
    }
    const GroupReport groups = group_report(kFrames);
    t.frame_total = 4;
    t.group_total = groups.group_total;
    t.group_correct = groups.group_correct;
    t.group_check_or_failed = groups.group_check_or_failed;
    EXPECT_EQ(slurp(merged + "/frame_summary.csv"), table);
    EXPECT_EQ(slurp(merged + "/summary.csv"), groups.summary_csv);
    EXPECT_NE(groups.summary_csv.find("A,品川 300 あ 12-34,品川 300 あ 12-34,correct,品川,300,あ,12-34,2\n"),
              std::string::npos)
        << "A's serial votes over both its frames: the tie goes to the smaller\n" << groups.summary_csv;
    EXPECT_EQ(slurp(merged + "/FINAL_RESULT.json"), final_result_json("roi", false, t, merged));
    EXPECT_EQ(out.str(), final_block("roi", false, t, merged));
    EXPECT_EQ(slurp(merged + "/cases/c1/plate_roi.jpg"), "picture of img/c1.jpg");
    EXPECT_TRUE(fs::exists(dirs[1] + "/cases/c1/plate_roi.jpg")) << "a merge copies";
    EXPECT_EQ(write_merged_run(run, merged, false, false, out), 0);
}

TEST_F(ShardMerge, MovingLeavesEarlierFilesOfAFolderAsARunWould) {
    const std::string merged = tmp.file("out");
    put(merged + "/cases/a1/old_only.jpg", "from an earlier run");
    put(merged + "/cases/a1/plate_roi.jpg", "from an earlier run");
    std::ostringstream out;
    write_merged_run(read_shard_outputs(list_cases(), dirs), merged, false, true, out);
    EXPECT_EQ(slurp(merged + "/cases/a1/old_only.jpg"), "from an earlier run");
    EXPECT_EQ(slurp(merged + "/cases/a1/plate_roi.jpg"), "picture of img/a1.jpg");
    EXPECT_EQ(slurp(merged + "/cases/b1/plate_roi.jpg"), "picture of img/b1.jpg");
    EXPECT_FALSE(fs::exists(dirs[1] + "/cases/b1")) << "moved, not copied";
}

TEST_F(ShardMerge, NamesTheFirstUnfitShard) {
    const auto rewrite = [](const std::string& path, const std::function<std::string(std::string)>& edit) {
        put(path, edit(slurp(path)));
    };
    const auto replace = [](std::string s, const std::string& from, const std::string& to) {
        const size_t at = s.find(from);
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    const struct {
        const char* what;
        std::function<void(std::vector<std::string>&)> spoil;
        std::string message; // %1: the second shard's folder, wherever it is given
    } table[] = {
        {"no folder", [](auto& d) { fs::remove_all(d[1]); }, "shard output missing: %1"},
        {"no frame table", [](auto& d) { fs::remove(d[1] + "/frame_summary.csv"); }, "shard output missing: %1"},
        {"stopped after one frame",
         [&](auto& d) {
             rewrite(d[1] + "/frame_summary.csv",
                     [](std::string s) { return s.substr(0, s.find('\n', s.find('\n') + 1) + 1); });
         },
         "shard output incomplete: %1 (1 of 2 frames)"},
        {"last row cut short",
         [&](auto& d) {
             rewrite(d[1] + "/frame_summary.csv", [](std::string s) { return s.substr(0, s.size() - 3); });
         },
         "shard output incomplete: %1 (1 of 2 frames)"},
        {"another list's case",
         [&](auto& d) {
             rewrite(d[1] + "/frame_summary.csv", [&](std::string s) { return replace(s, "img/b1.jpg", "img/z.jpg"); });
         },
         "shard output does not match its case list: %1 (frame table line 2)"},
        {"an extra row",
         [&](auto& d) {
             rewrite(d[1] + "/frame_summary.csv", [](std::string s) { return s + s.substr(s.rfind("B,")); });
         },
         "shard output does not match its case list: %1 (frame table line 4)"},
        {"a status the reading does not give",
         [&](auto& d) {
             rewrite(d[1] + "/frame_summary.csv", [&](std::string s) { return replace(s, ",check,", ",correct,"); });
         },
         "shard output does not match its case list: %1 (frame table line 3)"},
        {"no frame table header",
         [&](auto& d) {
             rewrite(d[1] + "/frame_summary.csv", [&](std::string s) { return replace(s, "group_id,", "group,"); });
         },
         "shard output does not match its case list: %1 (frame table line 1)"},
        {"shards in another order", [](auto& d) { std::swap(d[0], d[1]); },
         "shard output does not match its case list: %1 (frame table line 2)"},
        {"one shard too many", [&](auto& d) { d.push_back(d[1]); },
         "shard output does not match its case list: %1 (frame table line 3)"},
        {"no final record", [](auto& d) { fs::remove(d[1] + "/FINAL_RESULT.json"); },
         "shard output incomplete: %1 (no FINAL_RESULT.json of these frames)"},
        {"a final record of another run",
         [&](auto& d) {
             rewrite(d[1] + "/FINAL_RESULT.json",
                     [&](std::string s) { return replace(s, "\"frame_total\": 2", "\"frame_total\": 5"); });
         },
         "shard output incomplete: %1 (no FINAL_RESULT.json of these frames)"},
        {"a case folder gone", [](auto& d) { fs::remove_all(d[1] + "/cases/c1"); },
         "shard output incomplete: %1 (no case folder c1)"},
        {"another input mode", [](auto& d) { write_shard(d[1], kShards[1], "frame"); },
         "shard output of another mode: %1"},
    };
    for (const auto& t : table) {
        dirs.clear();
        for (const auto& e : fs::directory_iterator(tmp.path)) fs::remove_all(e.path());
        SetUp();
        std::vector<std::string> d = dirs;
        t.spoil(d);
        std::string want = t.message;
        want.replace(want.find("%1"), 2, dirs[1]);
        try {
            read_shard_outputs(list_cases(), d);
            ADD_FAILURE() << t.what << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), want) << t.what;
        }
    }
}
