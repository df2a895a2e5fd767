#include "driver/frame_pipeline.h"
#include "driver/group_vote.h"
#include "driver/result_files.h"

#include <gtest/gtest.h>

namespace {
FrameResult frame(const std::string& group, const std::string& expected, PlateFields p) {
    FrameResult f;
    f.image_path = "img/" + group + ".jpg";
    f.group_id = group;
    f.expected = expected;
    f.plate = p;
    return f;
}
} // namespace

TEST(PlateStatus, WhiteSpaceInsensitiveOnlyForSpaceTabCrLf) {
    const struct {
        std::string expected, read, status;
    } cases[] = {
        {"", "品川 300 あ 12-34", "unknown"},
        {"", "", "unknown"},
        {"品川 300 あ 12-34", "品川300あ12-34", "correct"},
        {"品川\t300\r\nあ 12-34", "品川 300 あ 12-34", "correct"},
        {"品川 300 あ 1234", "品川 300 あ 12-34", "check"},
        {"品川\xE3\x80\x80" "300", "品川300", "check"},
        {"x", "", "check"},
    };
    for (const auto& c : cases) EXPECT_EQ(plate_status(c.expected, c.read), c.status) << c.expected;
}

TEST(VoteString, MostFrequentNonEmptyTiesToSmallest) {
    const struct {
        std::vector<std::string> values;
        std::string winner;
    } cases[] = {
        {{}, ""},
        {{"", "", ""}, ""},
        {{"あ", "さ", "さ"}, "さ"},
        {{"さ", "あ", ""}, "あ"},
        {{"", "", "x"}, "x"},
        {{"124", "123"}, "123"},
    };
    for (const auto& c : cases) EXPECT_EQ(vote_string(c.values), c.winner);
}

TEST(VoteGroup, FieldsVotedIndependently) {
    EXPECT_EQ(vote_group({}).frame_count, 0);
    EXPECT_EQ(vote_group({}).plate.plate_text, "");

    const GroupResult g = vote_group({
        frame("G", "品川 300 あ 12-34", {"品川", "", "", "", ""}),
        frame("G", "other", {"", "", "", "12-34", ""}),
        frame("G", "other", {"", "", "", "", ""}),
    });
    EXPECT_EQ(g.group_id, "G");
    EXPECT_EQ(g.expected, "品川 300 あ 12-34");
    EXPECT_EQ(g.frame_count, 3);
    EXPECT_EQ(g.plate.plate_text, "品川   12-34") << "empty middle fields keep their spaces";

    const GroupResult majority = vote_group({
        frame("H", "", {"品川", "300", "あ", "12-34", ""}),
        frame("H", "", {"品川", "300", "あ", "12-35", ""}),
        frame("H", "", {"品川", "300", "あ", "12-35", ""}),
    });
    EXPECT_EQ(majority.plate.plate_text, "品川 300 あ 12-35");
}

TEST(ResultFiles, RecordsInTheirOwnMemberOrder) {
    FrameResult f = frame("G\"1", "a\\b", {"品川", "300", "あ", "12-34", "品川 300 あ 12-34"});
    f.texts = {{"original_full", "品川300,あ"}, {"gray_upper_row", "品川300"}};
    EXPECT_EQ(result_txt(f, "check"),
              "group_id: G\"1\nimage_path: img/G\"1.jpg\nexpected: a\\b\n"
              "ocr_texts: original_full:品川300,あ / gray_upper_row:品川300\n"
              "region: 品川\nclass_no: 300\nkana: あ\nserial: 12-34\n"
              "final_plate_number: 品川 300 あ 12-34\nstatus: check\n");
    EXPECT_EQ(result_json(f, "check"),
              "{\n"
              "  \"group_id\": \"G\\\"1\",\n"
              "  \"image_path\": \"img/G\\\"1.jpg\",\n"
              "  \"expected\": \"a\\\\b\",\n"
              "  \"final_plate_number\": \"品川 300 あ 12-34\",\n"
              "  \"region\": \"品川\",\n"
              "  \"class_no\": \"300\",\n"
              "  \"kana\": \"あ\",\n"
              "  \"serial\": \"12-34\",\n"
              "  \"ocr_texts\": \"original_full:品川300,あ / gray_upper_row:品川300\",\n"
              "  \"status\": \"check\"\n"
              "}\n");
    EXPECT_EQ(frame_summary_row(f, "check"),
              "\"G\"\"1\",\"img/G\"\"1.jpg\",a\\b,品川 300 あ 12-34,check,品川,300,あ,12-34,"
              "\"original_full:品川300,あ / gray_upper_row:品川300\"\n");

    const FrameResult empty = frame("E", "", {});
    EXPECT_EQ(frame_summary_row(empty, "unknown"), "E,img/E.jpg,,,unknown,,,,,\n");
}

TEST(GroupReports, RowJsonAndBlock) {
    GroupResult g;
    g.group_id = "G,1";
    g.expected = "品川 300 あ 12-34";
    g.plate = {"品川", "300", "あ", "12-34", "品川 300 あ 12-34"};
    g.frame_count = 3;
    EXPECT_EQ(group_summary_row(g, "correct"),
              "\"G,1\",品川 300 あ 12-34,品川 300 あ 12-34,correct,品川,300,あ,12-34,3\n");
    RunTotals t{5, 3, 2, 2, 1, 1};
    EXPECT_EQ(final_block("frame", true, t, "out dir"),
              "========== FINAL_RESULT ==========\n"
              "input_mode=frame use_plate_det=true\n"
              "frame_total=5 frame_correct=3 frame_check_or_failed=2\n"
              "group_total=2 group_correct=1 group_check_or_failed=1\n"
              "summary=out dir/summary.csv\n");
    const std::string json = final_result_json("frame", true, t, "o\"d");
    EXPECT_NE(json.find("  \"use_plate_det\": true,\n  \"frame_total\": 5,\n"), std::string::npos);
    EXPECT_NE(json.find("  \"summary_csv\": \"o\\\"d/summary.csv\"\n}\n"), std::string::npos);
}

TEST(CornerDebug, RoundsHalfToEvenAndDrawsCirclesAndLines) {
    const cv::Mat roi(40, 60, CV_8UC3, cv::Scalar(0, 0, 0));
    const std::vector<cv::Point2f> corners = {{10.5f, 10.5f}, {49.5f, 10.f}, {49.5f, 29.5f}, {10.f, 29.5f}};
    const cv::Mat debug = draw_corner_debug(roi, corners);
    EXPECT_EQ(cv::countNonZero(roi.reshape(1)), 0) << "the region itself stays untouched";
    // (10.5, 10.5) rounds to (10, 10) and (49.5, 10) to (50, 10). Circle 0
    // lies under both its lines; circle 1 over the line entering it.
    EXPECT_EQ(debug.at<cv::Vec3b>(10, 10), cv::Vec3b(0, 255, 0));
    EXPECT_EQ(debug.at<cv::Vec3b>(10, 47), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(debug.at<cv::Vec3b>(10, 53), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(debug.at<cv::Vec3b>(10, 55), cv::Vec3b(0, 0, 0));
}
