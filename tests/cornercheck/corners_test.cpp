// Corner decoding, the validity test, the crops and the result record, on
// hand-built values.
#include "common.h"
#include "corner_check.h"
#include "lpr_pipeline.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using cornercheck::CornerArea;
using cornercheck::CornersLookValid;
using orvex::PlateCorners;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

PlateCorners corners(float ltx, float lty, float rtx, float rty, float rbx, float rby, float lbx, float lby) {
    return PlateCorners{{ltx, lty}, {rtx, rty}, {rbx, rby}, {lbx, lby}};
}

std::string text(const PlateCorners& c) {
    std::ostringstream s;
    s << c.lt << c.rt << c.rb << c.lb;
    return s.str();
}

float below(float v) { return std::nextafter(v, -kInf); }
float above(float v) { return std::nextafter(v, kInf); }

std::string scratch(const std::string& name) {
    const std::string dir = std::string(SCRATCH_DIR) + "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(DecodePlateCorners, NormalisedOrPixelsIsDecidedOnceForAllEight) {
    struct Case {
        std::vector<float> values;
        int w, h;
        PlateCorners expected;
    };
    const Case cases[] = {
        {{0.1f, 0.2f, 0.9f, 0.2f, 0.9f, 0.8f, 0.1f, 0.8f}, 400, 200, corners(40, 40, 360, 40, 360, 160, 40, 160)},
        {{10, 20, 300, 20, 300, 100, 10, 100}, 400, 200, corners(10, 20, 300, 20, 300, 100, 10, 100)},
        {{0.5f, 1.5f, 2.5f, 0.5f, 1, 1, 0, 1}, 100, 10, corners(0.5f, 1.5f, 2.5f, 0.5f, 1, 1, 0, 1)},
        {{2, 0, 0, 0, 0, 0, 0, 1}, 100, 10, corners(200, 0, 0, 0, 0, 0, 0, 10)},
        {{0.5f, 0, 0, 0, 0, 0, 0, 1, 500}, 100, 10, corners(50, 0, 0, 0, 0, 0, 0, 10)},
        {{0.5f, 0, 0, 0, 0, 0, 0, kInf}, 100, 10, corners(0.5f, 0, 0, 0, 0, 0, 0, kInf)},
        {{0.1f, 0.2f, 0.9f, 0.2f, 0.9f, 0.8f, 0.1f}, 400, 200, PlateCorners()},
        {{0.1f, 0.2f, 0.9f, 0.2f, 0.9f, 0.8f, 0.1f, 0.8f}, 0, 200, PlateCorners()},
        {{0.1f, 0.2f, 0.9f, 0.2f, 0.9f, 0.8f, 0.1f, 0.8f}, 400, -1, PlateCorners()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text(orvex::DecodePlateCorners(c.values, c.w, c.h)), text(c.expected)) << text(c.expected);
}

TEST(DecodePlateCorners, NonNumbersStayNonNumbers) {
    // A non-number first value leaves the maximum undefined: pixels.
    const PlateCorners first = orvex::DecodePlateCorners({kNaN, 1, 1, 1, 1, 1, 1, 1}, 100, 10);
    EXPECT_TRUE(std::isnan(first.lt.x));
    EXPECT_EQ(first.rb, cv::Point2f(1, 1));
    // Later ones never win the comparison: still normalised.
    const PlateCorners later = orvex::DecodePlateCorners({1, 1, kNaN, 1, 1, 1, 1, 1}, 100, 10);
    EXPECT_TRUE(std::isnan(later.rt.x));
    EXPECT_EQ(later.rb, cv::Point2f(100, 10));
}

TEST(CornersLookValid, RangeLimitsAreSinglePrecisionAndInclusive) {
    // On a 400 by 200 picture the limits are -0.3f*400 = -120.0000076 (not
    // -120), 1.3f*400 = 520, -0.3f*200, 1.3f*200.
    const float x_lo = -0.3f * 400.0f, x_hi = 1.3f * 400.0f;
    const float y_lo = -0.3f * 200.0f, y_hi = 1.3f * 200.0f;
    ASSERT_NE(static_cast<double>(x_lo), -0.3 * 400.0);
    struct Case {
        PlateCorners c;
        bool valid;
    };
    const Case cases[] = {
        {corners(40, 40, 360, 40, 360, 160, 40, 160), true},
        {corners(x_lo, 40, 360, 40, 360, 160, 40, 160), true},
        {corners(below(x_lo), 40, 360, 40, 360, 160, 40, 160), false},
        {corners(-120.0f, 40, 360, 40, 360, 160, 40, 160), true},
        {corners(40, 40, 360, 40, x_hi, 160, 40, 160), true},
        {corners(40, 40, 360, 40, above(x_hi), 160, 40, 160), false},
        {corners(40, y_lo, 360, 40, 360, 160, 40, 160), true},
        {corners(40, below(y_lo), 360, 40, 360, 160, 40, 160), false},
        {corners(40, 40, 360, 40, 360, 160, 40, y_hi), true},
        {corners(40, 40, 360, 40, 360, 160, 40, above(y_hi)), false},
    };
    for (const Case& c : cases) EXPECT_EQ(CornersLookValid(c.c, 400, 200), c.valid) << text(c.c);
}

TEST(CornersLookValid, NonNumbersFailWhereverTheyAre) {
    for (int i = 0; i < 8; ++i) {
        for (float bad : {kNaN, kInf, -kInf}) {
            float v[8] = {40, 40, 360, 40, 360, 160, 40, 160};
            v[i] = bad;
            EXPECT_FALSE(CornersLookValid(corners(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]), 400, 200)) << i;
        }
    }
}

TEST(CornersLookValid, AtLeastFivePercentOfThePicture) {
    // 400 * 0.05f * 200 = 4000: a 100 by 40 box is exactly on it.
    struct Case {
        PlateCorners c;
        bool valid;
    };
    const Case cases[] = {
        {corners(0, 0, 100, 0, 100, 40, 0, 40), true},
        {corners(0, 0, 100, 0, 100, below(40), 0, below(40)), false},
        {corners(0, 0, 99, 0, 99, 40, 0, 40), false},
        {PlateCorners(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(CornersLookValid(c.c, 400, 200), c.valid) << text(c.c);
}

TEST(CornersLookValid, OrderingIsStrictOnAllFourSides) {
    struct Case {
        PlateCorners c;
        bool valid;
    };
    const Case cases[] = {
        {corners(360, 40, 40, 40, 40, 160, 360, 160), false},  // left and right swapped
        {corners(40, 160, 360, 160, 360, 40, 40, 40), false},  // top and bottom swapped
        {corners(40, 40, 40, 40, 360, 160, 40, 160), false},   // lt.x == rt.x
        {corners(40, 40, 360, 40, 40, 160, 40, 160), false},   // lb.x == rb.x
        {corners(40, 160, 360, 40, 360, 160, 40, 160), false}, // lt.y == lb.y
        {corners(40, 40, 360, 160, 360, 160, 40, 160), false}, // rt.y == rb.y
        {corners(0, 0, 360, 40, 400, 200, 40, 160), true},     // any quadrilateral in order
    };
    for (const Case& c : cases) EXPECT_EQ(CornersLookValid(c.c, 400, 200), c.valid) << text(c.c);
}

TEST(CropKanaLeftLowerWide, LowerLeftAreaAtLeastOnePixel) {
    struct Case {
        int w, h;
        cv::Rect area;
    };
    const Case cases[] = {
        {100, 40, cv::Rect(3, 15, 31, 22)},
        {400, 200, cv::Rect(12, 76, 124, 108)},
        {1, 1, cv::Rect(0, 0, 1, 1)},
        {2, 3, cv::Rect(0, 1, 1, 2)},
    };
    for (const Case& c : cases) {
        cv::Mat picture(c.h, c.w, CV_8UC3);
        cv::randu(picture, 0, 256);
        const cv::Mat kana = cornercheck::CropKanaLeftLowerWide(picture);
        ASSERT_EQ(kana.size(), c.area.size()) << c.w << "x" << c.h;
        EXPECT_EQ(cv::norm(kana, picture(c.area), cv::NORM_INF), 0.0);
        EXPECT_FALSE(kana.isSubmatrix());
    }
}

TEST(DrawPlateCorners, HalvesRoundAwayFromZero) {
    // All four corners at (10.5, 10.5): the dot is centred on (11, 11), not
    // on (10, 10) as rounding half to even would put it.
    const cv::Mat picture(40, 60, CV_8UC3, cv::Scalar(0, 0, 0));
    const cv::Mat debug = cornercheck::DrawPlateCorners(picture, corners(10.5f, 10.5f, 10.5f, 10.5f, 10.5f, 10.5f,
                                                                         10.5f, 10.5f));
    EXPECT_EQ(debug.at<cv::Vec3b>(13, 15), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(debug.at<cv::Vec3b>(8, 6), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(cv::norm(picture, cv::NORM_INF), 0.0);
}

TEST(DrawPlateCorners, UnusableCornersStillDraw) {
    const cv::Mat picture(40, 60, CV_8UC3, cv::Scalar(1, 2, 3));
    for (const PlateCorners& c : {corners(kNaN, 0, kInf, 0, -kInf, 1e30f, 0, kNaN), PlateCorners()})
        EXPECT_EQ(cornercheck::DrawPlateCorners(picture, c).size(), picture.size());
}

TEST(WarpPlate, CornersMapToTheResultsCorners) {
    // A grey picture with a white 200 by 100 box from (50, 30).
    cv::Mat picture(200, 300, CV_8UC3, cv::Scalar(90, 90, 90));
    cv::rectangle(picture, cv::Rect(50, 30, 200, 100), cv::Scalar(255, 255, 255), cv::FILLED);
    const cv::Mat plate = orvex::WarpPlate(picture, corners(50, 30, 249, 30, 249, 129, 50, 129), 320, 160);
    ASSERT_EQ(plate.size(), cv::Size(320, 160));
    EXPECT_EQ(cv::mean(plate), cv::Scalar(255, 255, 255, 0));
}

TEST(WarpPlate, DegenerateCornersGiveSomePictureOfTheSize) {
    const cv::Mat picture(40, 100, CV_8UC3, cv::Scalar(1, 2, 3));
    for (const PlateCorners& c : {PlateCorners(), corners(0, 0, 10, 10, 20, 20, 30, 30)})
        EXPECT_EQ(orvex::WarpPlate(picture, c, 320, 160).size(), cv::Size(320, 160));
}

TEST(LoadDict, KeepsNonEmptyLinesWithoutCarriageReturns) {
    const std::string path = scratch("load_dict") + "/dict.txt";
    std::ofstream(path, std::ios::binary) << "a\r\n\r\nb\r\n \r\nc\r\r\n";
    EXPECT_EQ(orvex::LoadDict(path), (std::vector<std::string>{"a", "b", " ", "c\r"}));
    EXPECT_THROW(
        {
            try {
                orvex::LoadDict(path + ".missing");
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), "failed to open dict: " + path + ".missing");
                throw;
            }
        },
        std::runtime_error);
}

TEST(WriteResultText, KeyValueRecord) {
    const std::string path = scratch("result_text") + "/result.txt";
    std::ofstream(path) << "old content that must go\n";
    EXPECT_TRUE(cornercheck::WriteResultText(path, "in/plate 1.jpg", {0.1f, 0.2f, 0.9f, 0.2f, 0.9f, 0.8f, 0.1f, 0.8f, 7, 7},
                                 corners(40, 40.5f, 360, 40, 1234567, 160, -0.25f, 160), 400, 200, false));
    EXPECT_EQ(slurp(path), "image_path=in/plate 1.jpg\n"
                           "roi_size=400x200\n"
                           "raw_output=0.1,0.2,0.9,0.2,0.9,0.8,0.1,0.8\n"
                           "corners_lt=40,40.5\n"
                           "corners_rt=360,40\n"
                           "corners_rb=1.23457e+06,160\n"
                           "corners_lb=-0.25,160\n"
                           "corner_area=7.40931e+07\n"
                           "corners_valid=false\n"
                           "rectified_plate=rectified_plate.jpg\n"
                           "corner_debug=corner_debug.jpg\n"
                           "kana_crop=kana_left_lower_wide.jpg\n");
    EXPECT_FALSE(cornercheck::WriteResultText(path + "/no/such/dir", "x", {}, PlateCorners(), 1, 1, true));
}
