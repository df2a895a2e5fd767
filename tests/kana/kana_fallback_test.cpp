#include "kana/kana_fallback.h"
#include "driver/debug_picture.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir()
        : path_(fs::temp_directory_path() / ("kana_fallback_test_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string str() const { return path_.string(); }

private:
    fs::path path_;
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

size_t count_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

// The debug pictures are written in the background; wait for them first.
std::vector<std::string> fallback_files(const std::string& dir) {
    finish_debug_pictures();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    return names;
}

cv::Mat test_picture(int w, int h) {
    cv::Mat bgr(h, w, CV_8UC3);
    cv::randu(bgr, 0, 256);
    return bgr;
}

// One reading per variant, chosen by the test; the variant's index travels in its pixel.
struct Reading {
    const char* name;
    const char* text;
    const char* kana_constrained;
};

std::string search(const std::vector<Reading>& readings, const std::string& dir) {
    std::vector<KanaVariant> variants;
    for (size_t i = 0; i < readings.size(); ++i)
        variants.push_back({readings[i].name, cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(static_cast<double>(i)))});
    auto index = [](const cv::Mat& image) { return image.at<cv::Vec3b>(0, 0)[0]; };
    return search_kana_variants(
        variants, [&](const cv::Mat& image) { return std::string(readings[index(image)].text); },
        [&](const cv::Mat& image) { return std::string(readings[index(image)].kana_constrained); }, dir);
}

} // namespace

TEST(KanaFallback, WeightsByAreaAndVariant) {
    const struct { const char* name; int32_t w; } cases[] = {
        {"rect_kana_left_lower_wide_original", 1},
        {"rect_kana_left_lower_wide_up4x", 1},
        {"roi_kana_left_lower_wide_clahe_up5x", 3},
        {"rect_kana_narrow_low_otsu_inv", 5},
        {"rect_kana_narrow_00_22_gray_up8x", 6},
        {"roi_kana_narrow_00_18_gray_up5x", 7},
        {"roi_kana_narrow_02_26_otsu", 6},
    };
    for (const auto& c : cases) EXPECT_EQ(kana_fallback_weight(c.name), c.w) << c.name;
}

TEST(KanaFallback, HundredVariantsAreaByArea) {
    const std::vector<KanaVariant> v = make_kana_fallback_variants(test_picture(320, 96), test_picture(200, 100));
    ASSERT_EQ(v.size(), 100u);
    const struct { size_t i; const char* name; int w; int h; } cases[] = {
        {0, "rect_kana_left_lower_wide_original", 144, 63},
        {6, "rect_kana_left_lower_wide_up4x", 576, 252},
        {8, "rect_kana_left_lower_wide_gray_up8x", 1152, 504},
        {10, "roi_kana_left_lower_wide_original", 90, 65},
        {17, "roi_kana_left_lower_wide_gray_up5x", 450, 325},
        {25, "rect_kana_narrow_00_18_otsu_inv", 58, 62},
        {99, "roi_kana_narrow_low_clahe_up5x", 280, 275},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(v[c.i].name, c.name);
        EXPECT_EQ(v[c.i].image.size(), cv::Size(c.w, c.h)) << c.name;
    }
    cv::Mat sum;
    cv::add(v[24].image, v[25].image, sum, cv::noArray(), CV_16UC3);
    EXPECT_EQ(cv::countNonZero(sum.reshape(1) != 255), 0) << "otsu and otsu_inv are complements";
}

TEST(KanaFallback, DirectReadingBeatsConstrainedVotes) {
    const struct {
        const char* what;
        std::vector<Reading> readings;
        const char* kana;
        const char* result_line;
    } cases[] = {
        {"one weight-1 direct hit against many constrained",
         {{"rect_kana_left_lower_wide_original", "ろ", ""},
          {"roi_kana_narrow_00_18_gray_up5x", "", "か"},
          {"roi_kana_narrow_00_22_gray_up5x", "1", "か"},
          {"roi_kana_narrow_02_26_gray_up8x", "", "か"}},
         "ろ", "[KANA_FALLBACK_RESULT] mode=direct best=ろ"},
        {"direct tie to the byte-wise first",
         {{"rect_kana_left_lower_wide_original", "ろ", ""}, {"rect_kana_left_lower_wide_gray", "か", ""}},
         "か", "[KANA_FALLBACK_RESULT] mode=direct best=か"},
        {"direct weights decide",
         {{"rect_kana_left_lower_wide_original", "か", ""}, {"roi_kana_left_lower_wide_original", "ろ", ""}},
         "ろ", "[KANA_FALLBACK_RESULT] mode=direct best=ろ"},
        {"look-alike kanji",
         {{"rect_kana_left_lower_wide_original", "品愛", "ね"}},
         "あ", "[KANA_FALLBACK_RESULT] mode=direct best=あ"},
        {"constrained only",
         {{"roi_kana_narrow_low_otsu", "12", "ろ"}, {"rect_kana_narrow_low_gray", "", "か"}},
         "ろ", "[KANA_FALLBACK_RESULT] mode=constrained best=ろ"},
        {"constrained tie to the byte-wise first",
         {{"roi_kana_narrow_low_otsu", "", "ろ"}, {"rect_kana_narrow_low_otsu", "", "か"},
          {"rect_kana_left_lower_wide_original", "", "か"}},
         "か", "[KANA_FALLBACK_RESULT] mode=constrained best=か"},
        {"nothing read",
         {{"rect_kana_left_lower_wide_original", "12", ""}, {"rect_kana_narrow_low_gray", "", ""}},
         "", nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ::testing::internal::CaptureStderr();
        const std::string kana = search(c.readings, dir.str());
        const std::vector<std::string> lines = lines_of(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(kana, c.kana) << c.what;
        EXPECT_EQ(count_prefix(lines, "[KANA_FALLBACK] "), c.readings.size()) << c.what;
        EXPECT_EQ(count_prefix(lines, "[KANA_FALLBACK_RESULT] "), c.result_line ? 1u : 0u) << c.what;
        if (c.result_line && !lines.empty()) {
            EXPECT_EQ(lines.back(), c.result_line) << c.what;
        }
        EXPECT_EQ(fallback_files(dir.str()).size(), c.readings.size()) << c.what;
    }
}

TEST(KanaFallback, LogsEveryReading) {
    TempDir dir;
    ::testing::internal::CaptureStderr();
    search({{"roi_kana_narrow_low_up4x", " 愛1 ", "ね"}}, dir.str());
    const std::vector<std::string> lines = lines_of(::testing::internal::GetCapturedStderr());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "[KANA_FALLBACK] roi_kana_narrow_low_up4x text= 愛1  kana=あ kana_constrained=ね");
    finish_debug_pictures();
    EXPECT_TRUE(fs::exists(dir.str() + "/kana_fallback_roi_kana_narrow_low_up4x.jpg"));
}

TEST(KanaFallback, RecogniserRunLeavesHundredPicturesAndLines) {
    const std::vector<std::string> dict = {"1", "か", "ろ", "愛", "あ", "ね"};
    const struct { const char* model; std::vector<std::string> dict; const char* kana; size_t result_lines; } cases[] = {
        {"rec_direct.onnx", dict, "あ", 1},
        {"rec_constrained.onnx", dict, "ろ", 1},
        {"rec_constrained.onnx", {"1", "2", "3", "4", "5", "6"}, "", 0},
    };
    for (const auto& c : cases) {
        RknnModel model;
        model.load(std::string(FIXTURE_DIR) + "/" + c.model);
        TempDir dir;
        ::testing::internal::CaptureStderr();
        const std::string kana = run_kana_fallback(model, test_picture(320, 96), test_picture(180, 60), c.dict, dir.str());
        const std::vector<std::string> lines = lines_of(::testing::internal::GetCapturedStderr());
        EXPECT_EQ(kana, c.kana) << c.model;
        EXPECT_EQ(count_prefix(lines, "[KANA_FALLBACK] "), 100u) << c.model;
        EXPECT_EQ(count_prefix(lines, "[KANA_FALLBACK_RESULT] "), c.result_lines) << c.model;
        const std::vector<std::string> files = fallback_files(dir.str());
        EXPECT_EQ(files.size(), 100u) << c.model;
        for (const std::string& f : files) EXPECT_EQ(f.rfind("kana_fallback_", 0), 0u) << f;
    }
}
