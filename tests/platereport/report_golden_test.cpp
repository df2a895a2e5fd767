// The platereport binary from outside: golden reports on generated trees,
// errors and exit codes.
#include "tree_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace {

TestTree escape_tree() {
    TestTree t;
    t.input_mode = "frame";
    t.use_plate_det = true;
    t.frames = {
        {"g<1>&\"", "imgs/a\"b<c>.jpg", "品川 300 あ 12-34", "品川 300 <お> 12-34", "check", "品川", "300", "<お>",
         "12-34", "original_full:品川 300, \"x\" / gray_full:<b>'q'</b>\nline2"},
        {"g2", "x/dup.jpg", "湘南 555 り 95-93", "湘南 555 り 95-93", "correct", "湘南", "555", "り", "95-93",
         "original_full:湘南 555"},
        {"g2", "y/dup.jpg", "湘南 555 り 95-93", "湘南 555  95-93", "check", "湘南", "555", "", "95-93", ""},
        {"g3", "z/no_case.jpg", "横浜 500 さ 1-23 x", "横浜 500 さ 1-23", "check", "横浜", "500", "さ", "1-23",
         "up2x_full:横浜"},
    };
    t.groups = {
        {"g2", "湘南 555 り 95-93", "湘南 555 り 95-93", "correct", "湘南", "555", "り", "95-93", "2"},
        {"g3", "横浜 500 さ 1-23 x", "横浜 500 さ 1-23", "check", "横浜", "500", "さ", "1-23", "1"},
        {"g<1>&\"", "品川 300 あ 12-34", "品川 300 <お> 12-34", "check", "品川", "300", "<お>", "12-34", "1"},
    };
    t.pictures = {
        {"a\"b<c>",
         {"rectified_plate.jpg", "plate_roi.jpg", "corner_debug.jpg", "ocr_variant_original.jpg",
          "ocr_variant_original_det_boxes.jpg", "ocr_variant_original_det_mask.jpg", "ocr_original_crop_0.jpg",
          "ocr_original_crop_10.jpg", "ocr_original_crop_2.jpg", "extra_<x>.jpg", "notes.txt"}},
        {"dup",
         {"rectified_plate.jpg", "plate_det_debug.jpg", "kana_fallback_rect_a_original.jpg",
          "kana_fallback_roi_b_gray.jpg", "ocr_variant_up2x_det_boxes.jpg"}},
    };
    return t;
}

TestTree unknown_tree() {
    TestTree t;
    t.frames = {
        {"u1", "p/u1.jpg", "", "", "unknown", "", "", "", "", ""},
        {"u1", "p/u2.jpg", "", "足立 100 は 88-88", "unknown", "足立", "100", "は", "88-88", "original_full:足立"},
    };
    t.groups = {{"u1", "", "足立 100 は 88-88", "unknown", "足立", "100", "は", "88-88", "2"}};
    t.pictures = {{"u2", {"rectified_plate.jpg"}}};
    return t;
}

// Set PLATEREPORT_UPDATE_GOLDEN=1 to rewrite the golden files after a deliberate change.
void check_golden(const fs::path& report, const std::string& golden_name) {
    const fs::path golden = fs::path(GOLDEN_DIR) / golden_name;
    const std::string text = slurp(report);
    if (std::getenv("PLATEREPORT_UPDATE_GOLDEN")) spit(golden, text);
    ASSERT_TRUE(fs::exists(golden)) << golden;
    EXPECT_TRUE(text == slurp(golden)) << "report differs from " << golden << "; diff it against " << report;
}

std::map<std::string, std::string> tree_files(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) files[e.path().string()] = slurp(e.path());
    return files;
}

} // namespace

TEST(PlatereportGolden, ReportsMatchGoldenFiles) {
    const struct {
        std::string name;
        TestTree tree;
        std::string summary;
    } cases[] = {
        {"escape_run", escape_tree(), "report=escape_run/report.html frames=4 groups=3\n"},
        {"empty_run", TestTree{}, "report=empty_run/report.html frames=0 groups=0\n"},
        {"unknown_run", unknown_tree(), "report=unknown_run/report.html frames=2 groups=1\n"},
    };
    const fs::path work = scratch_dir("golden");
    for (const auto& c : cases) {
        write_tree(work / c.name, c.tree);
        const auto before = tree_files(work / c.name);
        const CommandResult r = run_command({PLATEREPORT_BIN, c.name}, work);
        EXPECT_EQ(r.exit_code, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, c.summary);
        EXPECT_EQ(r.err, "");
        check_golden(work / c.name / "report.html", c.name + ".html");
        auto after = tree_files(work / c.name);
        after.erase((work / c.name / "report.html").string());
        EXPECT_EQ(after, before) << c.name << ": the tree's own files changed";
    }
}

TEST(PlatereportGolden, OutElsewhereLinksBackIntoTheTree) {
    const fs::path work = scratch_dir("out_elsewhere");
    write_tree(work / "run", escape_tree());
    fs::create_directories(work / "reports");
    const CommandResult r = run_command({PLATEREPORT_BIN, "run/", "--out", "reports/r.html"}, work);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(fs::exists(work / "run" / "report.html"));
    const std::string html = slurp(work / "reports" / "r.html");
    EXPECT_NE(html.find("src=\"../run/cases/dup/rectified_plate.jpg\""), std::string::npos);
    EXPECT_NE(html.find("href=\"../run/frame_summary.csv\""), std::string::npos);
}

TEST(PlatereportErrors, ExitOneWithOneClearLine) {
    const struct {
        std::string what;
        std::string file;    // relative to the tree; empty: remove the tree
        std::string content; // replaces the file; "-" removes it
        std::string err;
    } cases[] = {
        {"no tree", "", "", "[ERROR] not a platebench output tree: bad (not a directory)\n"},
        {"no final record", "FINAL_RESULT.json", "-", "[ERROR] not a platebench output tree: bad (no FINAL_RESULT.json)\n"},
        {"no group table", "summary.csv", "-", "[ERROR] not a platebench output tree: bad (no summary.csv)\n"},
        {"unterminated quote", "frame_summary.csv",
         "group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n"
         "g,a.jpg,x,x,check,,,,,\"open\n",
         "[ERROR] malformed csv: bad/frame_summary.csv: line 2: unterminated quoted field\n"},
        {"short row", "frame_summary.csv",
         "group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n"
         "g,a.jpg,x,x,check\n",
         "[ERROR] malformed csv: bad/frame_summary.csv: line 2: 5 fields, expected 10\n"},
        {"wrong header", "summary.csv", "group_id,expected\n",
         "[ERROR] malformed csv: bad/summary.csv: line 1: header is \"group_id,expected\", expected "
         "\"group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\"\n"},
        {"empty table", "summary.csv", "", "[ERROR] malformed csv: bad/summary.csv: line 1: no header line\n"},
        {"bad status", "summary.csv",
         "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\ng,,,wrong,,,,,1\n",
         "[ERROR] unexpected status: \"wrong\" in bad/summary.csv\n"},
        {"bad frame count", "summary.csv",
         "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\ng,,,unknown,,,,,x\n",
         "[ERROR] malformed csv: bad/summary.csv: frame_count \"x\"\n"},
        {"bad json", "FINAL_RESULT.json", "{\"input_mode\": \"roi\",",
         "[ERROR] malformed json: bad/FINAL_RESULT.json: expected '\"' at byte 21\n"},
        {"json without counters", "FINAL_RESULT.json", "{\"input_mode\": \"roi\", \"use_plate_det\": false}",
         "[ERROR] malformed json: bad/FINAL_RESULT.json: no number \"frame_total\"\n"},
    };
    const fs::path work = scratch_dir("errors");
    for (const auto& c : cases) {
        write_tree(work / "bad", TestTree{});
        if (c.file.empty()) fs::remove_all(work / "bad");
        else if (c.content == "-") fs::remove(work / "bad" / c.file);
        else spit(work / "bad" / c.file, c.content);
        const CommandResult r = run_command({PLATEREPORT_BIN, "bad"}, work);
        EXPECT_EQ(r.exit_code, 1) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_FALSE(fs::exists(work / "bad" / "report.html")) << c.what;
    }
}

TEST(PlatereportErrors, CommandLine) {
    const fs::path work = scratch_dir("cli");
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{}, 1, "usage: platereport OUTPUT_DIR [--out FILE]\n"},
        {{"a", "--out"}, 1, "[ERROR] missing value for --out\n"},
        {{"a", "--bogus"}, 1, "[ERROR] unknown argument: --bogus\n"},
        {{"a", "b"}, 1, "[ERROR] unexpected argument: b\n"},
        {{"--help"}, 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {PLATEREPORT_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const CommandResult r = run_command(argv, work);
        EXPECT_EQ(r.exit_code, c.code);
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    }
}
