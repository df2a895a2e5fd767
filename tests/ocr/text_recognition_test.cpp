#include "ocr/text_recognition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

rknn_tensor_attr attr_with_dims(std::initializer_list<uint32_t> dims) {
    rknn_tensor_attr attr;
    std::memset(&attr, 0, sizeof attr);
    for (uint32_t d : dims) attr.dims[attr.n_dims++] = d;
    return attr;
}

// One row per step with 1.0 at the chosen class.
std::vector<float> one_hot_steps(std::initializer_list<int> step_classes, int classes) {
    std::vector<float> logits;
    for (int c : step_classes)
        for (int k = 0; k < classes; ++k) logits.push_back(k == c ? 1.0f : 0.0f);
    return logits;
}

const std::vector<std::string> digit_dict = {"a", "1", "b", "2", "c"};

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

} // namespace

TEST(RecInput, KeepsAspectAndPadsWhiteAtRightOrBottom) {
    struct Case {
        int w, h, resized_w, resized_h;
    };
    const Case cases[] = {
        {100, 30, 160, 48},
        {640, 48, 320, 24},
        {1, 1, 48, 48},
        {320, 48, 320, 48},
        {2000, 10, 320, 2},
    };
    for (const Case& c : cases) {
        const cv::Mat crop(c.h, c.w, CV_8UC3, cv::Scalar(10, 20, 30));
        const cv::Mat input = make_rec_input_rgb(crop);
        ASSERT_EQ(input.type(), CV_8UC3);
        ASSERT_EQ(input.size(), cv::Size(320, 48));
        EXPECT_EQ(input.at<cv::Vec3b>(0, 0), cv::Vec3b(30, 20, 10)) << c.w << "x" << c.h; // now RGB
        EXPECT_EQ(input.at<cv::Vec3b>(c.resized_h - 1, c.resized_w - 1), cv::Vec3b(30, 20, 10)) << c.w << "x" << c.h;
        if (c.resized_w < 320) {
            EXPECT_EQ(input.at<cv::Vec3b>(0, c.resized_w), cv::Vec3b(255, 255, 255));
        }
        if (c.resized_h < 48) {
            EXPECT_EQ(input.at<cv::Vec3b>(c.resized_h, 0), cv::Vec3b(255, 255, 255));
        }
    }
}

TEST(RecInput, EmptyCropThrows) {
    try {
        make_rec_input_rgb(cv::Mat());
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "empty crop for recognition");
    }
}

TEST(CtcDecode, EveryShapeDescriptionDecodesTheSameList) {
    const std::vector<float> logits = one_hot_steps({0, 2, 2, 0, 2, 4, 4}, 6);
    EXPECT_EQ(ctc_decode(logits, attr_with_dims({1, 7, 6}), digit_dict), "112");
    EXPECT_EQ(ctc_decode(logits, attr_with_dims({1, 1, 7, 6}), digit_dict), "112");
    EXPECT_EQ(ctc_decode(logits, attr_with_dims({7, 6}), digit_dict), "112");
    EXPECT_EQ(ctc_decode(logits, attr_with_dims({42}), digit_dict), "112");
    EXPECT_EQ(ctc_decode(logits, attr_with_dims({}), digit_dict), "112");
}

TEST(CtcDecode, CollapsesRepeatsButNotAcrossBlank) {
    // Entries 2 and 4 of the dictionary are the digits 1 and 2.
    const std::vector<std::string> dict = {"x", "y", "1", "z", "2"};
    EXPECT_EQ(ctc_decode(one_hot_steps({0, 3, 3, 0, 3, 5, 5}, 6), attr_with_dims({1, 7, 6}), dict), "112");
    EXPECT_EQ(ctc_decode(one_hot_steps({3, 3, 3}, 6), attr_with_dims({1, 3, 6}), dict), "1");
    EXPECT_EQ(ctc_decode(one_hot_steps({0, 0, 0}, 6), attr_with_dims({1, 3, 6}), dict), "");
}

TEST(CtcDecode, ClassesWithoutEntryWriteNothingButSeparateRuns) {
    const std::vector<std::string> dict = {"a", "b", "c", "d", "e"};
    EXPECT_EQ(ctc_decode(one_hot_steps({7}, 8), attr_with_dims({1, 1, 8}), dict), "");
    EXPECT_EQ(ctc_decode(one_hot_steps({1, 7, 1}, 8), attr_with_dims({1, 3, 8}), dict), "aa");
    EXPECT_EQ(ctc_decode(one_hot_steps({1, 2}, 3), attr_with_dims({1, 2, 3}), {}), "");
}

TEST(CtcDecode, MultiByteEntriesAreWrittenWhole) {
    const std::vector<std::string> dict = {"\xe3\x81\x82", "AB"};
    EXPECT_EQ(ctc_decode(one_hot_steps({1, 0, 2, 2}, 3), attr_with_dims({1, 4, 3}), dict), "\xe3\x81\x82" "AB");
}

TEST(CtcDecode, TiesGoToTheLowerClassAndNanNeverWins) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const rknn_tensor_attr one_step = attr_with_dims({1, 1, 4});
    const std::vector<std::string> dict = {"a", "b", "c"};
    EXPECT_EQ(ctc_decode({0.5f, 0.5f, 0.1f, 0.1f}, one_step, dict), "");   // blank ties a char: blank
    EXPECT_EQ(ctc_decode({0.1f, 0.2f, 0.9f, 0.9f}, one_step, dict), "b");  // two chars tie: lower
    EXPECT_EQ(ctc_decode({0.1f, nan, 0.3f, 0.2f}, one_step, dict), "b");
    EXPECT_EQ(ctc_decode({nan, 5.0f, 6.0f, 7.0f}, one_step, dict), "");    // NaN at the blank: blank
    EXPECT_EQ(ctc_decode({-3.0f, -2.0f, -9.0f, -1.0f}, one_step, dict), "c"); // raw scores decode alike
}

TEST(CtcDecode, UnusableShapesGiveEmptyText) {
    const std::vector<std::string> dict4 = {"a", "b", "c", "d"};
    std::vector<float> ten(10, 0.0f);
    ten[1] = 1.0f;
    ten[8] = 1.0f;
    struct Case {
        std::vector<float> logits;
        rknn_tensor_attr attr;
        std::vector<std::string> dict;
        std::string want, warning;
    };
    const Case cases[] = {
        {{}, attr_with_dims({1, 0, 6}), dict4, "", ""},
        {ten, attr_with_dims({10}), dict4, "ac", ""},                                   // T = 2, C = 5
        {std::vector<float>(11), attr_with_dims({11}), dict4, "", ""},                  // 11 % 5 != 0
        {std::vector<float>(4), attr_with_dims({4}), {}, "", ""},                       // C = 1
        {std::vector<float>(3999), attr_with_dims({1, 40, 100}), dict4, "",
         "[WARN] invalid rec output shape T=40 C=100 logits=3999\n"},
        {std::vector<float>(6), attr_with_dims({1, 0, 6}), dict4, "", "[WARN] invalid rec output shape T=0 C=6 logits=6\n"},
        {std::vector<float>(6), attr_with_dims({6, 0}), dict4, "", "[WARN] invalid rec output shape T=6 C=0 logits=6\n"},
        {std::vector<float>(6), attr_with_dims({1, 3000000000u, 2}), dict4, "",
         "[WARN] invalid rec output shape T=-1294967296 C=2 logits=6\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(ctc_decode(c.logits, c.attr, c.dict), c.want);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
    }
}

TEST(CtcDecode, ExtraFloatsAfterTheShapeAreIgnored) {
    std::vector<float> logits = one_hot_steps({1, 2, 3}, 5);
    EXPECT_EQ(ctc_decode(logits, attr_with_dims({1, 2, 5}), digit_dict), "a1");
}

TEST(RunPpocrRec, DecodesTheModelOutputWhateverItsRank) {
    const std::vector<std::string> dict = {"A", "1", " "};
    const cv::Mat crop(30, 100, CV_8UC3, cv::Scalar(0, 0, 0));
    for (const char* name : {"rec_3d.onnx", "rec_4d.onnx", "rec_2d.onnx", "rec_1d.onnx"}) {
        RknnModel model;
        testing::internal::CaptureStderr();
        model.load(fixture(name));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(run_ppocr_rec(model, crop, dict), " A11 ") << name;
    }
}

TEST(RunPpocrRec, ErrorsPassThrough) {
    RknnModel unloaded;
    const cv::Mat crop(30, 100, CV_8UC3, cv::Scalar(0, 0, 0));
    EXPECT_THROW(run_ppocr_rec(unloaded, cv::Mat(), {}), std::runtime_error);
    try {
        run_ppocr_rec(unloaded, crop, {});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "RKNN model not loaded");
    }
}
