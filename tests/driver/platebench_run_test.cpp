// Whole platebench runs with fixture models whose readings are known: every
// report file byte for byte, the status and group rules, failures mid-list.
#include "command.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

const char* const kVariants[] = {"original", "gray", "clahe", "sharpen", "up2x"};
const char* const kAreas[] = {"_full", "_upper_row", "_lower_row", "_serial_area"};

// With a text detector that finds nothing, every variant is read in its four
// fixed areas, each reading the recogniser's one text.
std::string joined_texts(const std::string& text) {
    std::string s;
    for (const char* v : kVariants)
        for (const char* a : kAreas) s += (s.empty() ? "" : " / ") + std::string(v) + a + ":" + text;
    return s;
}

class PlatebenchRun : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pb_run_" + std::to_string(::getpid()) + "_" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir / "img");
        write_file(dir / "regions.txt", "川\n品川\n");
        write_file(dir / "dict.txt", "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n-\n・\n品\n川\nあ\nさ\n");
        const cv::Mat picture(60, 160, CV_8UC3, cv::Scalar(200, 220, 240));
        for (const char* name : {"g1_a", "g1_b", "g2_a", "g10_a"}) cv::imwrite((dir / "img" / (std::string(name) + ".png")).string(), picture);
    }
    void TearDown() override { fs::remove_all(dir); }

    CommandResult run(const std::string& rec, std::vector<std::string> extra, const std::string& profile = "") {
        std::vector<std::string> args = {"env", "PLATEBENCH_PROFILE=" + profile, PLATEBENCH_BIN,
                                         "--plate-det-model", fixture("run_det.onnx"),
                                         "--plate-corner-model", fixture("run_corner.onnx"),
                                         "--ppocr-det-model", fixture("run_textdet.onnx"),
                                         "--ppocr-rec-model", fixture(rec),
                                         "--dict-region", "regions.txt",
                                         "--ocr-dict", "dict.txt",
                                         "--input-list", "list.csv",
                                         "--output-dir", "out"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_command(args, dir.string());
    }
    std::string read(const std::string& rel) { return slurp((dir / rel).string()); }
    fs::path dir;
};

} // namespace

TEST_F(PlatebenchRun, RoiModeWritesEveryReportExactly) {
    write_file(dir / "list.csv",
               "image_path,expected,group_id\n"
               "img/g1_a.png,品川 300 あ 12-34,G1\n"
               "img/g2_a.png,,G2\n"
               "img/g1_b.png,\"品川300\tあ12-34\",G1\n");
    const CommandResult r = run("run_rec_kana.onnx", {});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string texts = joined_texts("品川300あ12-34");
    const std::string plate = "品川 300 あ 12-34";

    EXPECT_EQ(read("out/frame_summary.csv"),
              "group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n"
              "G1,img/g1_a.png," + plate + "," + plate + ",correct,品川,300,あ,12-34," + texts + "\n" +
              "G2,img/g2_a.png,," + plate + ",unknown,品川,300,あ,12-34," + texts + "\n" +
              "G1,img/g1_b.png,品川300\tあ12-34," + plate + ",correct,品川,300,あ,12-34," + texts + "\n");
    EXPECT_EQ(read("out/summary.csv"),
              "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\n"
              "G1," + plate + "," + plate + ",correct,品川,300,あ,12-34,2\n"
              "G2,," + plate + ",unknown,品川,300,あ,12-34,1\n");
    EXPECT_EQ(read("out/cases/g2_a/result.txt"),
              "group_id: G2\nimage_path: img/g2_a.png\nexpected: \nocr_texts: " + texts +
                  "\nregion: 品川\nclass_no: 300\nkana: あ\nserial: 12-34\nfinal_plate_number: " + plate +
                  "\nstatus: unknown\n");
    EXPECT_EQ(read("out/cases/g1_b/result.json"),
              "{\n  \"group_id\": \"G1\",\n  \"image_path\": \"img/g1_b.png\",\n"
              "  \"expected\": \"品川300\\tあ12-34\",\n  \"final_plate_number\": \"" + plate + "\",\n"
              "  \"region\": \"品川\",\n  \"class_no\": \"300\",\n  \"kana\": \"あ\",\n  \"serial\": \"12-34\",\n"
              "  \"ocr_texts\": \"" + texts + "\",\n  \"status\": \"correct\"\n}\n");
    EXPECT_EQ(read("out/FINAL_RESULT.json"),
              "{\n  \"input_mode\": \"roi\",\n  \"use_plate_det\": false,\n  \"frame_total\": 3,\n"
              "  \"frame_correct\": 2,\n  \"frame_check_or_failed\": 1,\n  \"group_total\": 2,\n"
              "  \"group_correct\": 1,\n  \"group_check_or_failed\": 1,\n"
              "  \"frame_summary_csv\": \"out/frame_summary.csv\",\n  \"summary_csv\": \"out/summary.csv\"\n}\n");
    EXPECT_EQ(r.out,
              "========== FINAL_RESULT ==========\ninput_mode=roi use_plate_det=false\n"
              "frame_total=3 frame_correct=2 frame_check_or_failed=1\n"
              "group_total=2 group_correct=1 group_check_or_failed=1\nsummary=out/summary.csv\n");
    EXPECT_NE(r.err.find("========== CASE 2/3: img/g2_a.png group=G2 ==========\n"), std::string::npos);

    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir / "out/cases/g1_a")) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    std::vector<std::string> want = {"corner_debug.jpg", "plate_roi.jpg", "rectified_plate.jpg", "result.json",
                                     "result.txt"};
    for (const char* v : kVariants)
        for (const char* suffix : {".jpg", "_det_mask.jpg", "_det_boxes.jpg"})
            want.push_back(std::string("ocr_variant_") + v + suffix);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(files, want) << "no detector picture in roi mode, no kana search when the kana was read";

    const cv::Mat roi = cv::imread((dir / "out/cases/g1_a/plate_roi.jpg").string());
    EXPECT_EQ(roi.size(), cv::Size(160, 60));
    EXPECT_EQ(cv::imread((dir / "out/cases/g1_a/rectified_plate.jpg").string()).size(), cv::Size(320, 96));

    const CommandResult strict = run("run_rec_kana.onnx", {"--fail-on-error"});
    EXPECT_EQ(strict.exit_code, 2);
}

TEST_F(PlatebenchRun, FrameModeCutsTheDetectedBox) {
    write_file(dir / "list.csv", "img/g1_a.png,品川 300 あ 12-34,G1\n");
    const CommandResult r = run("run_rec_kana.onnx", {"--input-mode", "frame", "--fail-on-error"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out/cases/g1_a/plate_det_debug.jpg"));
    // Normalised (0.25, 0.2)-(0.75, 0.8) on 160x60: x 40..120, y 12..48 inclusive.
    EXPECT_EQ(cv::imread((dir / "out/cases/g1_a/plate_roi.jpg").string()).size(), cv::Size(81, 37));
    EXPECT_NE(r.out.find("input_mode=frame use_plate_det=true\n"), std::string::npos);
}

TEST_F(PlatebenchRun, KanaSearchFillsTheMissingKana) {
    write_file(dir / "list.csv", "img/g1_a.png,品川 300 さ 12-34,G1\n");
    const CommandResult r = run("run_rec_nokana.onnx", {});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read("out/summary.csv"),
              "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\n"
              "G1,品川 300 さ 12-34,品川 300 さ 12-34,correct,品川,300,さ,12-34,1\n");
    size_t lines = 0, pos = 0;
    while ((pos = r.err.find("[KANA_FALLBACK] ", pos)) != std::string::npos) ++lines, ++pos;
    EXPECT_EQ(lines, 100u);
    EXPECT_NE(r.err.find("[KANA_FALLBACK_RESULT] mode=constrained best=さ\n"), std::string::npos);
    size_t pictures = 0;
    for (const auto& e : fs::directory_iterator(dir / "out/cases/g1_a"))
        pictures += e.path().filename().string().rfind("kana_fallback_", 0) == 0;
    EXPECT_EQ(pictures, 100u);
}

TEST_F(PlatebenchRun, GroupsComeOutInByteOrder) {
    write_file(dir / "list.csv", "img/g2_a.png,x,G2\nimg/g10_a.png,,G10\nimg/g1_a.png,,G1\n");
    const CommandResult r = run("run_rec_kana.onnx", {});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string summary = read("out/summary.csv");
    const size_t g1 = summary.find("\nG1,"), g10 = summary.find("\nG10,"), g2 = summary.find("\nG2,");
    EXPECT_LT(g1, g10);
    EXPECT_LT(g10, g2);
    EXPECT_NE(summary.find("\nG2,x,品川 300 あ 12-34,check,"), std::string::npos);
}

TEST_F(PlatebenchRun, UnreadableImageEndsTheRunKeepingEarlierFrames) {
    write_file(dir / "list.csv", "img/g1_a.png,,G1\nimg/missing.png,,G1\nimg/g2_a.png,,G2\n");
    write_file(dir / "out/summary.csv", "old run\n");
    const CommandResult r = run("run_rec_kana.onnx", {});
    EXPECT_EQ(r.exit_code, 1);
    const std::string tail =
        "========== CASE 2/3: img/missing.png group=G1 ==========\n[ERROR] failed to read image: img/missing.png\n";
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    EXPECT_EQ(r.out, "");
    const std::string rows = read("out/frame_summary.csv");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 2) << rows;
    EXPECT_TRUE(fs::exists(dir / "out/cases/g1_a/result.json"));
    EXPECT_FALSE(fs::exists(dir / "out/cases/g2_a"));
    EXPECT_FALSE(fs::exists(dir / "out/FINAL_RESULT.json"));
    EXPECT_EQ(read("out/summary.csv"), "old run\n") << "an earlier run's group table is left alone";
}

TEST_F(PlatebenchRun, ProfilingLeavesTheReportsAsTheyAre) {
    write_file(dir / "list.csv", "img/g1_a.png,品川 300 さ 12-34,G1\nimg/g2_a.png,,G2\n");
    const CommandResult plain = run("run_rec_nokana.onnx", {});
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    const std::string frames = read("out/frame_summary.csv"), final_json = read("out/FINAL_RESULT.json");

    const CommandResult profiled = run("run_rec_nokana.onnx", {}, (dir / "profile.tsv").string());
    EXPECT_EQ(profiled.exit_code, 0);
    EXPECT_EQ(profiled.out, plain.out);
    EXPECT_EQ(profiled.err, plain.err);
    EXPECT_EQ(read("out/frame_summary.csv"), frames);
    EXPECT_EQ(read("out/FINAL_RESULT.json"), final_json);

    const std::string report = read("profile.tsv");
    EXPECT_EQ(report.rfind("frames\t2\nframe_ms\t", 0), 0u) << report;
    // Per frame: 5 text detections, 20 fixed-area readings, 200 kana-search readings.
    EXPECT_NE(report.find("bucket\tmodel:run_rec_nokana.onnx\t440\t"), std::string::npos) << report;
    EXPECT_NE(report.find("bucket\tmodel:run_textdet.onnx\t10\t"), std::string::npos) << report;
    EXPECT_NE(report.find("bucket\tdebug_jpeg\t"), std::string::npos) << report;
    EXPECT_NE(report.find("bucket\timage_prep\t"), std::string::npos) << report;
}
