#include "locate/plate_corner.h"

#include "stage_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

TEST(RunPlateCorner, NormalisedPointsScaleToTheRegionAndClamp) {
    RknnModel model;
    load_quietly(model, "corner_unit.onnx");
    const std::vector<cv::Point2f> corners = run_plate_corner(model, cv::Mat(60, 200, CV_8UC3, cv::Scalar(1, 2, 3)));
    EXPECT_EQ(corners, (std::vector<cv::Point2f>{{0, 0}, {199, 0}, {199, 59}, {0, 59}}));
}

TEST(RunPlateCorner, NormalisationIsDecidedPerPoint) {
    RknnModel model;
    load_quietly(model, "corner_mixed.onnx");
    // (150, 1.5) and (1.9, 40) are pixels; (-0.1, 0.5) is normalised; (NaN, NaN) lands on the last pixel.
    const std::vector<cv::Point2f> corners = run_plate_corner(model, cv::Mat(60, 200, CV_8UC3, cv::Scalar(0, 0, 0)));
    EXPECT_EQ(corners, (std::vector<cv::Point2f>{{150.0f, 1.5f}, {1.9f, 40.0f}, {0.0f, 30.0f}, {199.0f, 59.0f}}));
}

TEST(RunPlateCorner, ShortOutputThrows) {
    RknnModel model;
    load_quietly(model, "corner_short.onnx");
    try {
        run_plate_corner(model, cv::Mat(60, 200, CV_8UC3, cv::Scalar(0, 0, 0)));
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "plate_corner output invalid");
    }
}

TEST(WarpPlate, FullRegionCornersScaleTheWholePicture) {
    cv::Mat roi(60, 200, CV_8UC3, cv::Scalar(0, 0, 0));
    roi(cv::Rect(100, 0, 100, 60)).setTo(cv::Scalar(255, 255, 255));
    const cv::Mat plate = warp_plate(roi, {{0, 0}, {199, 0}, {199, 59}, {0, 59}}, 320, 96);
    ASSERT_EQ(plate.size(), cv::Size(320, 96));
    ASSERT_EQ(plate.type(), CV_8UC3);
    EXPECT_EQ(plate.at<cv::Vec3b>(48, 10), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(plate.at<cv::Vec3b>(48, 310), cv::Vec3b(255, 255, 255));
}

TEST(WarpPlate, OutsideTheRegionReplicatesEdges) {
    const cv::Mat roi(60, 200, CV_8UC3, cv::Scalar(90, 120, 150));
    // Corners beyond the region: the warp samples outside it.
    const cv::Mat plate = warp_plate(roi, {{-50, -20}, {250, -20}, {250, 80}, {-50, 80}}, 320, 96);
    EXPECT_EQ(cv::norm(plate, cv::Mat(96, 320, CV_8UC3, cv::Scalar(90, 120, 150)), cv::NORM_INF), 0.0);
}
