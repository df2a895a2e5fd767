// platebench seen from outside: usage, start-up messages, exit codes.
#include "command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kUsage =
    "Usage: platebench [options]\n"
    "  --input-mode roi|frame|auto\n"
    "  --plate-det-model models/rknn/plate_det.rknn\n"
    "  --plate-corner-model models/rknn/plate_corner.rknn\n"
    "  --ppocr-det-model models/rknn/ppocrv6_det.rknn\n"
    "  --ppocr-rec-model models/rknn/ppocrv6_rec.rknn\n"
    "  --dict-region dict/region_words.txt\n"
    "  --ocr-dict dict/ppocrv6_rec_dict.txt\n"
    "  --input-list samples/real_lpr/real_lpr_expected.csv\n"
    "  --output-dir output/v21_product_validation\n";

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

// A working directory holding every default input: the three stage models,
// a 10-entry dictionary matching an 11-class recogniser and an empty list.
class PlatebenchCli : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pb_cli_" + std::to_string(::getpid()) + "_" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir / "models/rknn");
        fs::copy_file(fixture("corner.onnx"), dir / "models/rknn/plate_corner.rknn");
        fs::copy_file(fixture("textdet.onnx"), dir / "models/rknn/ppocrv6_det.rknn");
        fs::copy_file(fixture("rec_c11.onnx"), dir / "models/rknn/ppocrv6_rec.rknn");
        write_file(dir / "dict/region_words.txt", "品川\n横浜\n");
        write_file(dir / "dict/ppocrv6_rec_dict.txt", "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n");
        write_file(dir / "samples/real_lpr/real_lpr_expected.csv", "image_path,expected,group_id\n");
    }
    void TearDown() override { fs::remove_all(dir); }

    CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), PLATEBENCH_BIN);
        return run_command(args, dir.string());
    }
    fs::path dir;
};

} // namespace

TEST_F(PlatebenchCli, HelpPrintsTheUsageAndExitsZero) {
    const std::vector<std::vector<std::string>> lines = {
        {"--help"}, {"-h"}, {"--input-mode", "frame", "-h"}, {"--input-mode", "Frame", "-h", "--bogus"},
    };
    for (const auto& args : lines) {
        const CommandResult r = run(args);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(PlatebenchCli, CommandLineErrors) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--output-dir"}, "[ERROR] missing value for --output-dir\n"},
        {{"--bogus"}, "[ERROR] unknown argument: --bogus\n"},
        {{"--bogus", "-h"}, "[ERROR] unknown argument: --bogus\n"},
        {{"--input-mode", "Frame"}, "[ERROR] --input-mode must be roi, frame, or auto\n"},
        {{"--input-mode", "Frame", "--x"}, "[ERROR] unknown argument: --x\n"},
        {{"--input-mode", "--help"}, "[ERROR] --input-mode must be roi, frame, or auto\n"},
        {{"--input-mode=roi"}, "[ERROR] unknown argument: --input-mode=roi\n"},
        {{"--fail-on-error", "--plate-det-thresh"}, "[ERROR] missing value for --plate-det-thresh\n"},
    };
    for (const auto& c : cases) {
        const CommandResult r = run(c.args);
        EXPECT_EQ(r.exit_code, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(PlatebenchCli, RequiredFilesAreCheckedInOrder) {
    const char* order[] = {"models/rknn/plate_corner.rknn", "models/rknn/ppocrv6_det.rknn",
                           "models/rknn/ppocrv6_rec.rknn", "dict/region_words.txt", "dict/ppocrv6_rec_dict.txt",
                           "samples/real_lpr/real_lpr_expected.csv"};
    for (const char* path : order) fs::rename(dir / path, dir / (std::string(path) + ".away"));
    for (const char* path : order) {
        const CommandResult r = run({});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "[ERROR] missing required file: " + std::string(path) + "\n");
        fs::rename(dir / (std::string(path) + ".away"), dir / path);
    }
    fs::create_directories(dir / "dictdir");
    const CommandResult r = run({"--ocr-dict", "dictdir"});
    EXPECT_EQ(r.err, "[ERROR] missing required file: dictdir\n");
    EXPECT_FALSE(fs::exists(dir / "output")) << "nothing is created before the files are checked";
}

TEST_F(PlatebenchCli, DetectorIsRequiredInFrameModeOnly) {
    CommandResult r = run({"--input-mode", "frame"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "[ERROR] missing required file: models/rknn/plate_det.rknn\n");

    r = run({"--input-mode", "auto"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("[INFO] use_plate_det=false\n"), std::string::npos);

    r = run({"--input-mode", "roi", "--plate-det-model", "/nonexistent"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(PlatebenchCli, OutputDirectoryThatCannotBeMade) {
    write_file(dir / "blocker", "x");
    const CommandResult r = run({"--output-dir", "blocker/out"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "[ERROR] mkdir failed: blocker/out\n");
}

TEST_F(PlatebenchCli, StartUpLinesAndModelBlocksInLoadOrder) {
    fs::copy_file(fixture("det.onnx"), dir / "models/rknn/plate_det.rknn");
    write_file(dir / "list.csv", "");
    const struct {
        std::string mode;
        std::string use_det;
        std::vector<std::string> blocks;
    } cases[] = {
        {"roi", "false", {"plate_corner", "ppocrv6_det", "ppocrv6_rec"}},
        {"frame", "true", {"plate_det", "plate_corner", "ppocrv6_det", "ppocrv6_rec"}},
        {"auto", "true", {"plate_det", "plate_corner", "ppocrv6_det", "ppocrv6_rec"}},
    };
    for (const auto& c : cases) {
        const CommandResult r = run({"--input-mode", c.mode, "--input-list", "list.csv"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        const std::string head = "[INFO] input_mode=" + c.mode + "\n[INFO] use_plate_det=" + c.use_det +
                                 "\n[INFO] cases=0\n[INFO] region_words=2\n[INFO] ocr_chars_loaded=10\n";
        EXPECT_EQ(r.err.substr(0, head.size()), head);
        std::string expected_blocks;
        for (const auto& b : c.blocks) expected_blocks += "[RKNN] models/rknn/" + b + ".rknn\n";
        std::string got_blocks;
        size_t pos = 0;
        while ((pos = r.err.find("[RKNN] ", pos)) != std::string::npos) {
            got_blocks += r.err.substr(pos, r.err.find('\n', pos) - pos + 1);
            ++pos;
        }
        EXPECT_EQ(got_blocks, expected_blocks);
    }
}

TEST_F(PlatebenchCli, DictionaryIsReconciledWithTheRecogniser) {
    const std::string info11 = "[INFO] rec_classes=11 ocr_chars_after_shape_check=10 expected_chars=10\n";
    const std::string warn_appended = "[WARN] OCR dict was missing one char; appended half-width space in memory.\n";
    const std::string info12 = "[INFO] rec_classes=12 ocr_chars_after_shape_check=11 expected_chars=11\n";
    const std::string info13 = "[INFO] rec_classes=13 ocr_chars_after_shape_check=10 expected_chars=12\n";
    const std::string warn_mismatch =
        "[WARN] OCR dict size still does not match rec output classes. CTC decode may be wrong.\n";
    const struct {
        std::string model;
        std::string tail;
    } cases[] = {
        {"rec_c11.onnx", info11},
        {"rec_c12.onnx", warn_appended + info12},
        {"rec_c13.onnx", info13 + warn_mismatch},
    };
    for (const auto& c : cases) {
        const CommandResult r = run({"--ppocr-rec-model", fixture(c.model)});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        const std::string rec_block_end = "  output[0] name=logits";
        const size_t at = r.err.find(rec_block_end);
        ASSERT_NE(at, std::string::npos) << r.err;
        const size_t after = r.err.find('\n', at) + 1;
        EXPECT_EQ(r.err.substr(after, c.tail.size()), c.tail) << r.err;
        EXPECT_EQ(r.err.find("[WARN]", after + c.tail.size()), std::string::npos) << r.err;
    }
}

TEST_F(PlatebenchCli, CorruptTextDetectorStopsBeforeTheRecogniser) {
    write_file(dir / "models/rknn/ppocrv6_det.rknn", "not a model");
    const CommandResult r = run({});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("[RKNN] models/rknn/plate_corner.rknn\n"), std::string::npos);
    EXPECT_EQ(r.err.find("[RKNN] models/rknn/ppocrv6_rec.rknn"), std::string::npos);
    const std::string tail = "  output[0] name=corners dims=[1,8] elems=8 type=0 fmt=0\n"
                             "[ERROR] rknn_init failed: models/rknn/ppocrv6_det.rknn, ret=-2\n";
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

TEST_F(PlatebenchCli, EmptyCaseListCompletesWithEmptyReports) {
    const CommandResult r = run({"--fail-on-error"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "========== FINAL_RESULT ==========\n"
              "input_mode=roi use_plate_det=false\n"
              "frame_total=0 frame_correct=0 frame_check_or_failed=0\n"
              "group_total=0 group_correct=0 group_check_or_failed=0\n"
              "summary=output/v21_product_validation/summary.csv\n");
    const fs::path out = dir / "output/v21_product_validation";
    EXPECT_EQ(slurp((out / "frame_summary.csv").string()),
              "group_id,image_path,expected,final_plate_number,status,region,class_no,kana,serial,ocr_texts\n");
    EXPECT_EQ(slurp((out / "summary.csv").string()),
              "group_id,expected,final_plate_number,status,region,class_no,kana,serial,frame_count\n");
    EXPECT_EQ(slurp((out / "FINAL_RESULT.json").string()),
              "{\n"
              "  \"input_mode\": \"roi\",\n"
              "  \"use_plate_det\": false,\n"
              "  \"frame_total\": 0,\n"
              "  \"frame_correct\": 0,\n"
              "  \"frame_check_or_failed\": 0,\n"
              "  \"group_total\": 0,\n"
              "  \"group_correct\": 0,\n"
              "  \"group_check_or_failed\": 0,\n"
              "  \"frame_summary_csv\": \"output/v21_product_validation/frame_summary.csv\",\n"
              "  \"summary_csv\": \"output/v21_product_validation/summary.csv\"\n"
              "}\n");
    EXPECT_TRUE(fs::is_directory(out / "cases"));
}
