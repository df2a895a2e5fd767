#include "ocr/text_detection.h"
#include "driver/debug_picture.h"

#include "stage_fixtures.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// A side x side map of `outside` with blocks (x, y, w, h) of `inside`.
std::vector<float> block_map(int side, const std::vector<cv::Rect>& blocks, float inside = 1.0f, float outside = 0.0f) {
    std::vector<float> values(static_cast<size_t>(side) * side, outside);
    for (const cv::Rect& b : blocks)
        for (int y = b.y; y < b.y + b.height; ++y)
            for (int x = b.x; x < b.x + b.width; ++x) values[static_cast<size_t>(y) * side + x] = inside;
    return values;
}

std::vector<cv::Rect> boxes_of(const std::vector<float>& values, int image_w, int image_h, float thresh = 0.3f) {
    std::vector<cv::Rect> rects;
    for (const TextBox& b : det_boxes_from_mask(det_mask_from_map(values, thresh), image_w, image_h)) {
        EXPECT_EQ(b.score, 1.0f);
        rects.push_back(b.rect);
    }
    return rects;
}

TextBox box_at(int x, int y, int w, int h) { return TextBox{cv::Rect(x, y, w, h), 1.0f}; }

} // namespace

TEST(TextDetection, SigmoidInSinglePrecision) {
    EXPECT_EQ(sigmoid(0.0f), 0.5f);
    EXPECT_FLOAT_EQ(sigmoid(4.0f), 1.0f / (1.0f + std::exp(-4.0f)));
    EXPECT_EQ(sigmoid(-200.0f), 0.0f);
}

TEST(TextDetection, MapSideOnlyForSquareCounts) {
    const struct {
        int n, side;
    } cases[] = {{409600, 640}, {25600, 160}, {409599, 0}, {1, 1}, {2, 0}, {409601, 0}, {0, 0}};
    for (const auto& c : cases) EXPECT_EQ(det_map_side(c.n), c.side) << c.n;
    EXPECT_TRUE(det_mask_from_map(std::vector<float>(409599, 1.0f), 0.3f).empty());
    EXPECT_EQ(det_mask_from_map(std::vector<float>(25600, 1.0f), 0.3f).size(), cv::Size(160, 160));
}

TEST(TextDetection, ThresholdIsStrictAndSquashingIsDecidedPerMap) {
    // One corner value decides whether the whole map is squashed; the centre shows what became of the rest.
    const struct {
        float corner, rest;
        uchar centre;
    } cases[] = {
        {1.01f, 0.0f, 0},     // still probabilities
        {1.02f, 0.0f, 255},   // squashed: a raw 0 becomes 0.5 and passes 0.3
        {-0.01f, 0.2f, 0},
        {-0.02f, 0.2f, 255},  // squashed from below as well: sigmoid(0.2) > 0.3
    };
    for (const auto& c : cases) {
        std::vector<float> values(64, c.rest);
        values[0] = c.corner;
        const cv::Mat mask = det_mask_from_map(values, 0.3f);
        ASSERT_EQ(mask.type(), CV_8U);
        ASSERT_EQ(mask.size(), cv::Size(8, 8));
        EXPECT_EQ(mask.at<uchar>(4, 4), c.centre) << c.corner << " " << c.rest;
    }
    // A value just above the threshold over a block survives; one exactly at it does not.
    EXPECT_EQ(cv::countNonZero(det_mask_from_map(block_map(16, {{4, 4, 6, 5}}, 0.31f), 0.3f)), 30);
    EXPECT_EQ(cv::countNonZero(det_mask_from_map(block_map(16, {{4, 4, 6, 5}}, 0.3f), 0.3f)), 0);
}

TEST(TextDetection, ClosingBridgesNarrowGapsOnly) {
    // A 5-wide element closes gaps of up to 4 columns, a 3-high one gaps of up to 2 rows.
    EXPECT_EQ(boxes_of(block_map(160, {{20, 20, 10, 10}, {34, 20, 10, 10}}), 160, 160).size(), 1u);
    EXPECT_EQ(boxes_of(block_map(160, {{20, 20, 10, 10}, {35, 20, 10, 10}}), 160, 160).size(), 2u);
    EXPECT_EQ(boxes_of(block_map(160, {{20, 20, 10, 10}, {20, 32, 10, 10}}), 160, 160).size(), 1u);
    EXPECT_EQ(boxes_of(block_map(160, {{20, 20, 10, 10}, {20, 33, 10, 10}}), 160, 160).size(), 2u);
}

TEST(TextDetection, BoxArithmeticInSinglePrecision) {
    const struct {
        int side;
        cv::Rect block;
        int image_w, image_h;
        std::vector<cv::Rect> want;
    } cases[] = {
        {640, {100, 200, 300, 100}, 320, 96, {{45, 26, 160, 24}}},   // ceil(100 * 0.15f) is 16
        {160, {20, 20, 10, 10}, 320, 96, {{35, 8, 30, 14}}},          // map scaled by picture / 160
        {640, {100, 200, 300, 100}, 640, 192, {{95, 56, 310, 39}}},
        {640, {0, 200, 100, 100}, 320, 96, {{0, 26, 60, 24}}},        // left border: full expanded width
        {640, {540, 0, 100, 100}, 320, 96, {{265, 0, 55, 24}}},       // moved down at the top, clipped at the right
        {640, {100, 634, 100, 6}, 320, 96, {}},                       // clipped to 5 rows: dropped
        {16, {4, 4, 6, 5}, 16, 16, {{0, 0, 16, 13}}},                 // area 20 passes
        {16, {4, 4, 5, 5}, 16, 16, {}},                               // area 16 does not
    };
    for (const auto& c : cases)
        EXPECT_EQ(boxes_of(block_map(c.side, {c.block}), c.image_w, c.image_h), c.want)
            << c.block << " on " << c.image_w << "x" << c.image_h;
}

TEST(TextDetection, ReadingOrderJoinsRowsWithinTwelvePixels) {
    // Centre rows 40 and 52 are one row: left first. 40 and 53 are two rows: upper first.
    EXPECT_EQ(in_reading_order({box_at(50, 36, 10, 8), box_at(10, 48, 10, 8)})[0].rect.x, 10);
    EXPECT_EQ(in_reading_order({box_at(50, 36, 10, 8), box_at(10, 49, 10, 8)})[0].rect.x, 50);
    EXPECT_EQ(in_reading_order({box_at(10, 49, 10, 8), box_at(50, 36, 10, 8)})[0].rect.x, 50);
    // Centre row uses integer division: 36 + 9 / 2 = 40.
    EXPECT_EQ(in_reading_order({box_at(50, 36, 10, 9), box_at(10, 49, 10, 9)})[0].rect.x, 50);
}

TEST(TextDetection, ReadingOrderSortEndsForACycle) {
    // Centre rows 10 apart in turn: b before a and c before b by x, yet a before c by row.
    const TextBox a = box_at(30, 0, 10, 10), b = box_at(20, 10, 10, 10), c = box_at(10, 20, 10, 10);
    ASSERT_TRUE(text_box_reads_before(b, a) && text_box_reads_before(c, b) && text_box_reads_before(a, c));
    std::vector<TextBox> many;
    for (int i = 0; i < 60; ++i) many.push_back(box_at((i * 37) % 50, (i * 7) % 90, 10, 10));
    for (const std::vector<TextBox>& boxes : {std::vector<TextBox>{a, b, c}, std::vector<TextBox>{c, a, b}, many}) {
        std::vector<int> before, after;
        for (const TextBox& t : boxes) before.push_back(t.rect.x * 1000 + t.rect.y);
        for (const TextBox& t : in_reading_order(boxes)) after.push_back(t.rect.x * 1000 + t.rect.y);
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(before, after);
    }
}

TEST(TextDetection, CapKeepsTheSixteenLargestInReadingOrder) {
    // Twenty blocks in two rows; widths grow with the index, so blocks 4 and up are the sixteen largest.
    std::vector<cv::Rect> blocks;
    for (int i = 0; i < 20; ++i) blocks.push_back({(i % 10) * 60 + 5, (i / 10) * 300 + 20, 10 + i, 20});
    const std::vector<cv::Rect> got = boxes_of(block_map(640, blocks), 640, 640);
    ASSERT_EQ(got.size(), 16u);
    for (int k = 0; k < 16; ++k) {
        const cv::Rect& b = blocks[k + 4];
        EXPECT_EQ(got[k], cv::Rect(b.x - 5, b.y - 4, b.width + 10, b.height + 8)) << k;
    }
}

TEST(RunPpocrDet, RawScoresThroughTheModelAndDebugPictures) {
    RknnModel model;
    load_quietly(model, "det_raw.onnx");
    const TempDir temp("det_raw");
    const std::string& dir = temp.path;
    const cv::Mat plate(96, 320, CV_8UC3, cv::Scalar(200, 200, 200));
    const std::vector<TextBox> boxes = run_ppocr_det_boxes(model, plate, dir + "/p", 0.3f);
    finish_debug_pictures();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rect, cv::Rect(45, 26, 160, 24));
    EXPECT_EQ(cv::imread(dir + "/p_det_mask.jpg").size(), plate.size());
    EXPECT_EQ(cv::imread(dir + "/p_det_boxes.jpg").size(), plate.size());
}

TEST(RunPpocrDet, EmptyMapStillWritesBothPictures) {
    RknnModel model;
    load_quietly(model, "det_none.onnx");
    const TempDir temp("det_none");
    const std::string& dir = temp.path;
    EXPECT_TRUE(run_ppocr_det_boxes(model, cv::Mat(96, 320, CV_8UC3, cv::Scalar(0, 0, 0)), dir + "/p", 0.3f).empty());
    finish_debug_pictures();
    EXPECT_TRUE(std::filesystem::exists(dir + "/p_det_mask.jpg"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/p_det_boxes.jpg"));
}

TEST(RunPpocrDet, NonSquareOutputWarnsAndWritesNothing) {
    RknnModel model;
    load_quietly(model, "det_not_square.onnx");
    const TempDir temp("det_not_square");
    const std::string& dir = temp.path;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(run_ppocr_det_boxes(model, cv::Mat(96, 320, CV_8UC3, cv::Scalar(0, 0, 0)), dir + "/p", 0.3f).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[WARN] unexpected ppocr det output elems=11, skip DB boxes.\n");
    finish_debug_pictures();
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}
