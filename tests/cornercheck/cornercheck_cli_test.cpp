// The cornercheck binary run on generated corner models and a plate picture:
// every exit code with its message and the files it leaves.
#include "tool_run.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kFixtures = FIXTURE_DIR;
const std::string kPlate = kFixtures + "/plate.png";
const char* const kFiles[] = {"roi.jpg", "corner_debug.jpg", "rectified_plate.jpg", "kana_left_lower_wide.jpg",
                              "result.txt"};

std::string model(const std::string& name) { return kFixtures + "/" + name; }

std::string usage() {
    const std::string prog = CORNERCHECK_BIN;
    return "Usage:\n  " + prog + " plate_corner.rknn roi_or_plate_image.jpg output_dir [input_w input_h]\n\n" +
           "Example:\n  " + prog + " models/plate_corner.rknn samples/real_003.jpg output/real_003\n";
}

std::string report(const std::string& image, const std::string& out, const std::string& raw,
                   const std::string& corners, const std::string& valid) {
    return "image: " + image + "\nroi_size: 400x200\nraw output: " + raw + "\ncorners:\n" + corners +
           "corner_area: 38400\ncorners_valid: " + valid + "\nsaved:\n  " + out + "/roi.jpg\n  " + out +
           "/corner_debug.jpg\n  " + out + "/rectified_plate.jpg\n  " + out + "/kana_left_lower_wide.jpg\n  " + out +
           "/result.txt\n";
}

int files_in(const std::string& dir) {
    if (!std::filesystem::is_directory(dir)) return 0;
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
    return n;
}

} // namespace

TEST(CornerCheckCli, TooFewArgumentsPrintUsage) {
    const std::string cwd = workdir();
    const std::vector<std::vector<std::string>> cases = {{}, {model("corner_good.rknn")}, {model("corner_good.rknn"), kPlate}};
    for (const auto& args : cases) {
        const ToolRun run = run_tool(cwd, args);
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.err, usage());
        EXPECT_EQ(run.out, "");
    }
}

TEST(CornerCheckCli, ModelInputSizeMustBePositive) {
    const std::string cwd = workdir();
    const std::vector<std::pair<std::string, std::string>> cases = {{"0", "128"}, {"256", "-1"}, {"abc", "128"}, {"", ""}};
    for (const auto& [w, h] : cases) {
        const ToolRun run = run_tool(cwd, {model("corner_good.rknn"), kPlate, "out", w, h});
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.err, "invalid model input size: " + w + " " + h + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::exists(cwd + "/out"));
    }
}

TEST(CornerCheckCli, ValidCornersWriteEverythingAndExitZero) {
    const std::string cwd = workdir();
    const ToolRun run = run_tool(cwd, {model("corner_good.rknn"), kPlate, "out/a"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Loaded RKNN: " + model("corner_good.rknn") + " input=256x128 nhwc=0 outputs=1\n" +
                           report(kPlate, "out/a", "0.1 0.2 0.9 0.2 0.9 0.8 0.1 0.8",
                                  "  lt: 40, 40\n  rt: 360, 40\n  rb: 360, 160\n  lb: 40, 160\n", "true"));
    EXPECT_EQ(slurp(cwd + "/out/a/result.txt"), "image_path=" + kPlate +
                                                    "\nroi_size=400x200\n"
                                                    "raw_output=0.1,0.2,0.9,0.2,0.9,0.8,0.1,0.8\n"
                                                    "corners_lt=40,40\ncorners_rt=360,40\n"
                                                    "corners_rb=360,160\ncorners_lb=40,160\n"
                                                    "corner_area=38400\ncorners_valid=true\n"
                                                    "rectified_plate=rectified_plate.jpg\n"
                                                    "corner_debug=corner_debug.jpg\n"
                                                    "kana_crop=kana_left_lower_wide.jpg\n");
    const std::pair<const char*, cv::Size> pictures[] = {{"roi.jpg", {400, 200}},
                                                         {"corner_debug.jpg", {400, 200}},
                                                         {"rectified_plate.jpg", {320, 160}},
                                                         {"kana_left_lower_wide.jpg", {124, 108}}};
    for (const auto& [name, size] : pictures) EXPECT_EQ(cv::imread(cwd + "/out/a/" + name).size(), size) << name;
}

TEST(CornerCheckCli, InvalidCornersStillWriteAllFiveAndExitTen) {
    const std::string cwd = workdir();
    const ToolRun run = run_tool(cwd, {model("corner_swapped.rknn"), kPlate, "out"});
    EXPECT_EQ(run.code, 10);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "Loaded RKNN: " + model("corner_swapped.rknn") + " input=256x128 nhwc=0 outputs=1\n" +
                           report(kPlate, "out", "0.9 0.2 0.1 0.2 0.1 0.8 0.9 0.8",
                                  "  lt: 360, 40\n  rt: 40, 40\n  rb: 40, 160\n  lb: 360, 160\n", "false"));
    for (const char* name : kFiles) EXPECT_TRUE(std::filesystem::is_regular_file(cwd + "/out/" + name)) << name;
    EXPECT_NE(slurp(cwd + "/out/result.txt").find("corners_lt=360,40\n"), std::string::npos);
    EXPECT_NE(slurp(cwd + "/out/result.txt").find("corners_valid=false\n"), std::string::npos);
}

TEST(CornerCheckCli, InputSizeIsTakenOnlyWhenBothAreGiven) {
    // The fixture takes 64 by 32 pictures; the runtime refuses any other size.
    const std::string cwd = workdir();
    struct Case {
        std::vector<std::string> extra;
        int code;
    };
    const Case cases[] = {{{}, 4}, {{"64"}, 4}, {{"64", "32"}, 0}, {{"64", "32", "9"}, 0}, {{"64", "64"}, 4}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = "out" + std::to_string(n++);
        std::vector<std::string> args = {model("corner_small_input.rknn"), kPlate, out};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ToolRun run = run_tool(cwd, args);
        EXPECT_EQ(run.code, c.code) << out;
        EXPECT_EQ(files_in(cwd + "/" + out), c.code == 0 ? 5 : 0);
        if (c.code == 4) {
            EXPECT_EQ(run.err.substr(0, 22), "rknn_inputs_set failed");
            EXPECT_EQ(run.err.substr(run.err.find('\n') + 1), "plate corner rknn inference failed\n");
        }
    }
}

TEST(CornerCheckCli, FailuresBeforeDecodingWriteNoFiles) {
    const std::string cwd = workdir();
    const std::string missing_model = cwd + "/missing.rknn";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const Case cases[] = {
        {{model("corner_good.rknn"), cwd + "/missing.png", "out"}, 2, "failed to read image: " + cwd + "/missing.png\n"},
        {{model("corner_good.rknn"), model("not_a_model.rknn"), "out"}, 2,
         "failed to read image: " + model("not_a_model.rknn") + "\n"},
        {{missing_model, kPlate, "out"}, 3,
         "failed to open rknn model: " + missing_model + "\nfailed to load plate corner RKNN model: " + missing_model + "\n"},
        {{model("not_a_model.rknn"), kPlate, "out"}, 3,
         "rknn_init failed: -2\nfailed to load plate corner RKNN model: " + model("not_a_model.rknn") + "\n"},
        {{model("corner_seven.rknn"), kPlate, "out"}, 5, "invalid plate corner output size: 7\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = run_tool(cwd, c.args);
        EXPECT_EQ(run.code, c.code) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_TRUE(std::filesystem::is_directory(cwd + "/out"));
        EXPECT_EQ(files_in(cwd + "/out"), 0);
    }
}

TEST(CornerCheckCli, OutputDirectoryNameRunsNothing) {
    const std::string cwd = workdir();
    const std::string out = "o\"$(touch pwned1)`touch pwned2`'; touch pwned3 #";
    const ToolRun run = run_tool(cwd, {model("corner_good.rknn"), kPlate, out});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    for (const char* name : {"pwned1", "pwned2", "pwned3"}) EXPECT_FALSE(std::filesystem::exists(cwd + "/" + name));
    for (const char* name : kFiles) EXPECT_TRUE(std::filesystem::is_regular_file(cwd + "/" + out + "/" + name)) << name;
}

// The directory is only warned about; the result record that then cannot be
// written ends the run with its own code and no report, whatever the corners.
TEST(CornerCheckCli, UncreatableOutputDirectoryFailsOnTheRecord) {
    const std::string cwd = workdir();
    std::ofstream(cwd + "/file") << "x";
    for (const std::string name : {"corner_good.rknn", "corner_swapped.rknn"}) {
        const ToolRun run = run_tool(cwd, {model(name), kPlate, "file/out"});
        EXPECT_EQ(run.code, 6);
        EXPECT_EQ(run.err.rfind("warning: mkdir failed for file/out, ret=", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\n[ERROR] failed to write file: file/out/result.txt\n"), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("saved:"), std::string::npos);
    }
}
