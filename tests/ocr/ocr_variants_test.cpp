#include "ocr/ocr_variants.h"
#include "driver/debug_picture.h"

#include "stage_fixtures.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

// The debug pictures are written in the background; wait for them first.
std::vector<std::string> files_in(const std::string& dir) {
    finish_debug_pictures();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> sources_of(const std::vector<OcrText>& texts) {
    std::vector<std::string> sources;
    for (const OcrText& t : texts) sources.push_back(t.source);
    return sources;
}

cv::Mat test_plate() {
    cv::Mat plate(96, 320, CV_8UC3);
    cv::randu(plate, 0, 256);
    return plate;
}

const char* const variant_names[] = {"original", "gray", "clahe", "sharpen", "up2x"};
const char* const fixed_tags[] = {"_full", "_upper_row", "_lower_row", "_serial_area"};
// The recognition fixtures decode to " A11 " (and only spaces) with this dictionary.
const std::vector<std::string> dict = {"A", "1", " "};

} // namespace

TEST(AddTextIfValid, TrimsEndsAndDropsEmptyTexts) {
    const struct {
        const char* text;
        const char* kept; // nullptr: nothing added
    } cases[] = {
        {"  AB 1 ", "AB 1"},
        {"\t\r\n\v\f", nullptr},
        {"   ", nullptr},
        {"", nullptr},
        {"\xe3\x80\x80", "\xe3\x80\x80"}, // a full-width space is text
        {"x", "x"},
    };
    for (const auto& c : cases) {
        std::vector<OcrText> list = {{"before", "t"}};
        add_text_if_valid(list, "src", c.text);
        if (c.kept == nullptr) {
            EXPECT_EQ(list.size(), 1u) << c.text;
        } else {
            ASSERT_EQ(list.size(), 2u);
            EXPECT_EQ(list[1].source, "src");
            EXPECT_EQ(list[1].text, c.kept);
        }
    }
}

TEST(ReadDetectedBoxes, BoxesOutsideThePictureTakeNoNumber) {
    RknnModel rec;
    load_quietly(rec, "rec_3d.onnx");
    const TempDir temp("read_boxes");
    const std::string& dir = temp.path;
    const std::vector<TextBox> boxes = {
        {cv::Rect(400, 0, 20, 20), 1.0f}, // entirely right of the picture
        {cv::Rect(-10, -10, 30, 40), 1.0f},
        {cv::Rect(0, 96, 50, 10), 1.0f}, // just below it
        {cv::Rect(300, 90, 50, 50), 1.0f},
    };
    std::vector<OcrText> texts;
    read_detected_boxes(rec, test_plate(), boxes, dict, dir, "gray", texts);
    EXPECT_EQ(sources_of(texts), (std::vector<std::string>{"gray_det_crop_0", "gray_det_crop_1"}));
    EXPECT_EQ(texts[0].text, "A11");
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"ocr_gray_crop_0.jpg", "ocr_gray_crop_1.jpg"}));
    EXPECT_EQ(cv::imread(dir + "/ocr_gray_crop_0.jpg").size(), cv::Size(20, 30));
    EXPECT_EQ(cv::imread(dir + "/ocr_gray_crop_1.jpg").size(), cv::Size(20, 6));
}

TEST(WholePlateOcr, NoBoxesGiveTheTwentyFixedReadingsInOrder) {
    RknnModel det, rec;
    load_quietly(det, "det_none.onnx");
    load_quietly(rec, "rec_3d.onnx");
    const TempDir temp("no_boxes");
    const std::string& dir = temp.path;
    const std::vector<OcrText> texts = run_whole_plate_ocr_variants(det, rec, test_plate(), dict, dir);

    std::vector<std::string> want_sources, want_files;
    for (const char* v : variant_names) {
        for (const char* tag : fixed_tags) want_sources.push_back(std::string(v) + tag);
        for (const char* suffix : {".jpg", "_det_boxes.jpg", "_det_mask.jpg"})
            want_files.push_back(std::string("ocr_variant_") + v + suffix);
    }
    std::sort(want_files.begin(), want_files.end());
    EXPECT_EQ(sources_of(texts), want_sources);
    for (const OcrText& t : texts) EXPECT_EQ(t.text, "A11");
    EXPECT_EQ(files_in(dir), want_files);
    EXPECT_EQ(cv::imread(dir + "/ocr_variant_up2x.jpg").size(), cv::Size(640, 192));
    EXPECT_EQ(cv::imread(dir + "/ocr_variant_up2x_det_mask.jpg").size(), cv::Size(640, 192));
}

TEST(WholePlateOcr, SixteenBoxesPerVariantMakeAHundredReadings) {
    RknnModel det, rec;
    load_quietly(det, "det_sixteen.onnx");
    load_quietly(rec, "rec_3d.onnx");
    const TempDir temp("sixteen_boxes");
    const std::string& dir = temp.path;
    const std::vector<OcrText> texts = run_whole_plate_ocr_variants(det, rec, test_plate(), dict, dir);

    std::vector<std::string> want_sources;
    for (const char* v : variant_names) {
        for (int k = 0; k < 16; ++k) want_sources.push_back(std::string(v) + "_det_crop_" + std::to_string(k));
        for (const char* tag : fixed_tags) want_sources.push_back(std::string(v) + tag);
    }
    EXPECT_EQ(sources_of(texts), want_sources);

    int crops = 0, variants = 0, det_debug = 0;
    for (const std::string& f : files_in(dir)) {
        if (f.find("_crop_") != std::string::npos) ++crops;
        else if (f.find("_det_") != std::string::npos) ++det_debug;
        else if (f.rfind("ocr_variant_", 0) == 0) ++variants;
    }
    EXPECT_EQ(crops, 80);
    EXPECT_EQ(variants, 5);
    EXPECT_EQ(det_debug, 10);
    EXPECT_EQ(files_in(dir).size(), 95u);
    // First box of the 160 x 160 map, block (10, 10, 10, 10), on the 320 x 96 plate.
    EXPECT_EQ(cv::imread(dir + "/ocr_original_crop_0.jpg").size(), cv::Size(30, 14));
    EXPECT_TRUE(std::filesystem::exists(dir + "/ocr_up2x_crop_15.jpg"));
}

TEST(WholePlateOcr, TextsOfOnlySpacesLeaveNoCandidates) {
    RknnModel det, rec;
    load_quietly(det, "det_sixteen.onnx");
    load_quietly(rec, "rec_spaces.onnx");
    const TempDir temp("spaces");
    const std::string& dir = temp.path;
    EXPECT_TRUE(run_whole_plate_ocr_variants(det, rec, test_plate(), dict, dir).empty());
}

TEST(WholePlateOcr, RecognitionErrorsPassThrough) {
    RknnModel det, rec;
    load_quietly(det, "det_none.onnx");
    const TempDir temp("no_rec");
    const std::string& dir = temp.path;
    try {
        run_whole_plate_ocr_variants(det, rec, test_plate(), dict, dir);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "RKNN model not loaded");
    }
}
