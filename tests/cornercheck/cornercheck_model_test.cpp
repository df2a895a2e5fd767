// cornercheck on the shipped corner model, when the checkout has it.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

TEST(CornerCheckModel, ShippedModelRunsOnAPlatePicture) {
    const std::string model = PLATE_CORNER_MODEL;
    if (!std::filesystem::exists(model)) GTEST_SKIP() << "no corner model at " << model;
    const std::string cwd = workdir();
    const ToolRun run = run_tool(cwd, {model, std::string(FIXTURE_DIR) + "/plate.png", "out"});
    EXPECT_TRUE(run.code == 0 || run.code == 10) << run.code << " " << run.err;
    EXPECT_EQ(run.out.rfind("Loaded RKNN: " + model + " input=256x128 nhwc=0 outputs=", 0), 0u) << run.out;
    for (const char* name : {"roi.jpg", "corner_debug.jpg", "rectified_plate.jpg", "kana_left_lower_wide.jpg",
                             "result.txt"})
        EXPECT_TRUE(std::filesystem::is_regular_file(cwd + "/out/" + name)) << name;
}
