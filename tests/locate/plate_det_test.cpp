#include "locate/plate_det.h"
#include "driver/debug_picture.h"

#include "stage_fixtures.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

const float not_a_number = std::numeric_limits<float>::quiet_NaN();

} // namespace

TEST(ParseDetectionRows, LayoutsScalingAndInclusiveCorners) {
    const struct {
        std::vector<float> row;
        int img_w, img_h;
        float thresh;
        std::vector<cv::Rect> want;
    } cases[] = {
        {{0, 0.9f, 100, 50, 300, 120}, 640, 480, 0.5f, {{100, 50, 201, 71}}},       // score second, pixels
        {{0.1f, 0.2f, 0.6f, 0.5f, 0.8f, 0}, 1000, 500, 0.5f, {}},                  // score second: 0.2 < 0.5
        {{0.1f, 0.2f, 0.6f, 0.5f, 0.8f, 0}, 1000, 500, 0.2f, {{600, 0, 201, 251}}}, // normalised, corners swapped
        {{10, 20, 300, 120, 0.7f, 0}, 640, 480, 0.5f, {{10, 20, 291, 101}}},        // score fifth
        {{0, 0.9f, 100.5f, 50.5f, 299.5f, 119.5f}, 640, 480, 0.5f, {{100, 50, 201, 71}}}, // floor and ceil
        {{0, 0.9f, 10, 10, 1.5f, 300}, 640, 480, 0.5f, {{1, 10, 10, 291}}},          // y_b > 2: pixels
        {{0, 0.9f, 0.5f, 0.5f, 1.5f, 1.5f}, 100, 100, 0.5f, {{50, 50, 50, 50}}},     // normalised past the edge
        {{0, 0.9f, 600, 400, 900, 700}, 640, 480, 0.5f, {{600, 400, 40, 80}}},       // clamped to the last pixel
        {{-50, -40, -10, -5, 0.9f, 0}, 640, 480, 0.5f, {}},                          // left of the scene: collapses
        {{0, 0.9f, 10, 10, 18, 40}, 640, 480, 0.5f, {}},                             // 9 wide
        {{0, 0.9f, 10, 10, 19, 40}, 640, 480, 0.5f, {{10, 10, 10, 31}}},             // 10 wide
        {{0, 0.5f, 10, 10, 100, 100}, 640, 480, 0.5f, {{10, 10, 91, 91}}},           // score equal to thresh
    };
    for (const auto& c : cases) {
        std::vector<cv::Rect> got;
        for (const PlateDetection& d : parse_detection_output_as_n6(c.row, c.img_w, c.img_h, c.thresh)) got.push_back(d.box);
        EXPECT_EQ(got, c.want) << c.row[0] << " " << c.row[1] << " " << c.row[2] << " " << c.row[3];
    }
}

TEST(ParseDetectionRows, ScoresAndSortOrder) {
    const std::vector<float> rows = {0, 0.8f, 10, 10, 100, 100,  //
                                     0, 0.95f, 20, 20, 200, 200, //
                                     30, 30, 300, 300, 0.9f, 0};
    const std::vector<PlateDetection> got = parse_detection_output_as_n6(rows, 640, 480, 0.5f);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].score, 0.95f);
    EXPECT_EQ(got[1].score, 0.9f);
    EXPECT_EQ(got[2].score, 0.8f);
    EXPECT_EQ(got[1].box, cv::Rect(30, 30, 271, 271));
}

TEST(ParseDetectionRows, CountsThatAreNoRowsGiveNothing) {
    EXPECT_TRUE(parse_detection_output_as_n6({}, 640, 480, 0.5f).empty());
    EXPECT_TRUE(parse_detection_output_as_n6(std::vector<float>(13, 0.9f), 640, 480, 0.0f).empty());
    EXPECT_TRUE(parse_detection_output_as_n6(std::vector<float>(5, 0.9f), 640, 480, 0.0f).empty());
}

TEST(ParseDetectionRows, NanScoresStillSortWithinBounds) {
    std::vector<float> rows;
    for (int i = 0; i < 40; ++i) {
        const float score = i % 3 == 0 ? not_a_number : 0.5f + 0.01f * static_cast<float>(i);
        rows.insert(rows.end(), {10, 10, 100, 100, score, 0}); // a NaN score is not below the threshold
    }
    EXPECT_EQ(parse_detection_output_as_n6(rows, 640, 480, 0.5f).size(), 40u);
}

TEST(RunPlateDet, NullModelGivesTheWholeSceneAndNoFile) {
    const TempDir temp("null");
    const std::string& dir = temp.path;
    const std::vector<PlateDetection> got = run_plate_det(nullptr, cv::Mat(100, 200, CV_8UC3), 0.5f, dir);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].box, cv::Rect(0, 0, 200, 100));
    EXPECT_EQ(got[0].score, 1.0f);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(RunPlateDet, RowsOfAllTensorsSortedByScore) {
    RknnModel model;
    load_quietly(model, "det_rows.onnx");
    const TempDir temp("rows");
    const std::string& dir = temp.path;
    const cv::Mat scene(100, 200, CV_8UC3, cv::Scalar(0, 0, 0));
    testing::internal::CaptureStderr();
    const std::vector<PlateDetection> got = run_plate_det(&model, scene, 0.5f, dir);
    finish_debug_pictures();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].box, cv::Rect(5, 5, 56, 46)); // second tensor, score fifth
    EXPECT_EQ(got[0].score, 0.95f);
    EXPECT_EQ(got[1].box, cv::Rect(20, 20, 81, 71)); // first tensor, normalised
    EXPECT_EQ(got[1].score, 0.8f);

    const cv::Mat debug = cv::imread(dir + "/plate_det_debug.jpg");
    ASSERT_EQ(debug.size(), scene.size());
    const cv::Vec3b edge = debug.at<cv::Vec3b>(50, 20);
    EXPECT_GT(edge[1], 200);
    EXPECT_LT(edge[0], 60);
    EXPECT_LT(edge[2], 60);
}

TEST(RunPlateDet, NothingFoundWarnsAndFallsBackToTheScene) {
    RknnModel model;
    load_quietly(model, "det_malformed.onnx");
    const TempDir temp("malformed");
    const std::string& dir = temp.path;
    const cv::Mat scene(100, 200, CV_8UC3, cv::Scalar(0, 0, 0));
    testing::internal::CaptureStderr();
    const std::vector<PlateDetection> got = run_plate_det(&model, scene, 0.5f, dir);
    finish_debug_pictures();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[WARN] plate_det produced no valid final boxes. Fallback to full image ROI.\n");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].box, cv::Rect(0, 0, 200, 100));
    EXPECT_EQ(got[0].score, 0.0f);
    finish_debug_pictures();
    EXPECT_EQ(cv::imread(dir + "/plate_det_debug.jpg").at<cv::Vec3b>(50, 0)[1] > 200, true);
}

TEST(RunPlateDet, ModelErrorsPassThroughWithoutAFile) {
    RknnModel unloaded;
    const TempDir temp("unloaded");
    const std::string& dir = temp.path;
    // An unloaded model has no input description to size the picture from.
    EXPECT_THROW(run_plate_det(&unloaded, cv::Mat(100, 200, CV_8UC3), 0.5f, dir), std::out_of_range);
    finish_debug_pictures();
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}
