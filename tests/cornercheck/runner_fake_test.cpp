// The model runner and the program's failure exits against a scripted
// runtime, for layouts and failures our CPU runtime never produces.
#include "corner_check.h"
#include "fake_rknn.h"
#include "rknn_model.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A file to load; the scripted runtime never looks inside.
std::string model_file() {
    const std::string dir = std::string(SCRATCH_DIR) + "/runner_fake";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/model.rknn";
    std::ofstream(path) << "blob";
    return path;
}

void script_input(rknn_tensor_format fmt, std::vector<uint32_t> dims) {
    fake_rknn::reset();
    fake_rknn::script().input.fmt = fmt;
    fake_rknn::script().input.n_dims = static_cast<uint32_t>(dims.size());
    for (size_t i = 0; i < dims.size(); ++i) fake_rknn::script().input.dims[i] = dims[i];
}

// Two pixels, BGR: (3, 2, 1) and (6, 5, 4), so RGB 1 2 3 and 4 5 6.
cv::Mat two_pixels() {
    cv::Mat bgr(1, 2, CV_8UC3);
    bgr.at<cv::Vec3b>(0, 0) = cv::Vec3b(3, 2, 1);
    bgr.at<cv::Vec3b>(0, 1) = cv::Vec3b(6, 5, 4);
    return bgr;
}

struct Loaded {
    orvex::RKNNModel model;
    std::string out;
    bool ok = false;
    Loaded() {
        CaptureStdout();
        ok = model.Load(model_file());
        out = GetCapturedStdout();
    }
};

} // namespace

TEST(RunnerLoad, SizeAndLayoutFollowTheDeclaredFormat) {
    struct Case {
        rknn_tensor_format fmt;
        std::vector<uint32_t> dims;
        int channels;
        const char* line_end;
    };
    const Case cases[] = {
        {RKNN_TENSOR_NCHW, {1, 3, 128, 256}, 3, " input=256x128 nhwc=0 outputs=2\n"},
        {RKNN_TENSOR_NHWC, {1, 128, 256, 3}, 3, " input=256x128 nhwc=1 outputs=2\n"},
        {RKNN_TENSOR_NHWC, {1, 32, 64, 1}, 1, " input=64x32 nhwc=1 outputs=2\n"},
    };
    for (const Case& c : cases) {
        script_input(c.fmt, c.dims);
        fake_rknn::script().io_num = {1, 2};
        Loaded loaded;
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.out, "Loaded RKNN: " + model_file() + c.line_end);
        EXPECT_EQ(loaded.model.channels, c.channels);
        EXPECT_EQ(loaded.model.num_outputs, 2);
    }
}

TEST(RunnerLoad, RuntimeFailuresReturnFalseAndOnlyInitSaysWhy) {
    struct Case {
        int init, query_num, query_input;
        const char* err;
    };
    const Case cases[] = {
        {-2, 0, 0, "rknn_init failed: -2\n"},
        {0, -1, 0, ""},
        {0, 0, -5, ""},
    };
    for (const Case& c : cases) {
        script_input(RKNN_TENSOR_NCHW, {1, 3, 128, 256});
        fake_rknn::script().init_ret = c.init;
        fake_rknn::script().query_num_ret = c.query_num;
        fake_rknn::script().query_input_ret = c.query_input;
        CaptureStderr();
        Loaded loaded;
        EXPECT_EQ(GetCapturedStderr(), c.err);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.out, "");
    }
}

TEST(ReadFile, StopsOneByteBeyondTheLimit) {
    const std::string path = model_file();  // "blob"
    struct Case {
        std::string path;
        uint64_t max_bytes;
        std::string bytes;
    };
    const Case cases[] = {
        {path, UINT64_MAX, "blob"}, {path, 4, "blob"}, {path, 3, "blob"}, {path, 1, "bl"}, {path, 0, "b"},
        {"/dev/zero", 70000, std::string(70001, '\0')},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> got = orvex::ReadFile(c.path, c.max_bytes);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.bytes) << c.path << " max " << c.max_bytes;
    }
}

TEST(RunnerLoad, UnopenableFileThrowsWithThePath) {
    orvex::RKNNModel model;
    try {
        model.Load("/no/such/model.rknn");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "failed to open rknn model: /no/such/model.rknn");
    }
}

TEST(RunnerRun, BytesGoInTheModelsOwnLayoutRedFirst) {
    struct Case {
        rknn_tensor_format fmt;
        std::vector<uint8_t> sent;
    };
    const Case cases[] = {
        {RKNN_TENSOR_NCHW, {1, 4, 2, 5, 3, 6}},
        {RKNN_TENSOR_NHWC, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        script_input(c.fmt, c.fmt == RKNN_TENSOR_NHWC ? std::vector<uint32_t>{1, 1, 2, 3} : std::vector<uint32_t>{1, 3, 1, 2});
        Loaded loaded;
        std::vector<std::vector<float>> outputs;
        ASSERT_TRUE(loaded.model.RunImage(two_pixels(), outputs, 2, 1, false));
        EXPECT_EQ(fake_rknn::script().sent_bytes, c.sent);
        EXPECT_EQ(fake_rknn::script().sent.type, RKNN_TENSOR_UINT8);
        EXPECT_EQ(fake_rknn::script().sent.fmt, c.fmt);
        EXPECT_EQ(fake_rknn::script().sent.size, 6u);
        EXPECT_EQ(fake_rknn::script().sent.index, 0u);
    }
}

TEST(RunnerRun, FloatsAreNormalisedPerChannelInTheModelsLayout) {
    cv::Mat bgr(1, 2, CV_8UC3, cv::Scalar(0, 0, 0));
    bgr.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 255);
    const float red_255 = (1.0f - 0.485f) / 0.229f;
    const float red_0 = (0.0f - 0.485f) / 0.229f;
    const float green_0 = (0.0f - 0.456f) / 0.224f;
    const float blue_0 = (0.0f - 0.406f) / 0.225f;
    struct Case {
        rknn_tensor_format fmt;
        std::vector<float> sent;
    };
    const Case cases[] = {
        {RKNN_TENSOR_NCHW, {red_255, red_0, green_0, green_0, blue_0, blue_0}},
        {RKNN_TENSOR_NHWC, {red_255, green_0, blue_0, red_0, green_0, blue_0}},
    };
    for (const Case& c : cases) {
        script_input(c.fmt, {1, 3, 1, 2});
        Loaded loaded;
        std::vector<std::vector<float>> outputs;
        ASSERT_TRUE(loaded.model.RunImage(bgr, outputs, 2, 1, true));
        const auto& bytes = fake_rknn::script().sent_bytes;
        ASSERT_EQ(bytes.size(), 24u);
        std::vector<float> sent(6);
        std::memcpy(sent.data(), bytes.data(), bytes.size());
        EXPECT_EQ(sent, c.sent);
        EXPECT_EQ(fake_rknn::script().sent.type, RKNN_TENSOR_FLOAT32);
        EXPECT_EQ(fake_rknn::script().sent.size, 24u);
    }
    EXPECT_FLOAT_EQ(red_255, 2.2489083f);
}

TEST(RunnerRun, ElementCountIsTheReturnedByteSizeOverFour) {
    script_input(RKNN_TENSOR_NCHW, {1, 3, 1, 2});
    fake_rknn::script().io_num = {1, 3};
    fake_rknn::script().outputs = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3}, {}};
    fake_rknn::script().output_sizes = {34, 8, 0};
    Loaded loaded;
    std::vector<std::vector<float>> outputs = {{99}};
    ASSERT_TRUE(loaded.model.RunImage(two_pixels(), outputs, 2, 1, false));
    const std::vector<std::vector<float>> expected = {{1, 2, 3, 4, 5, 6, 7, 8}, {1, 2}, {}};
    EXPECT_EQ(outputs, expected);
    EXPECT_EQ(fake_rknn::script().requested_indexes, (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(fake_rknn::script().requested_want_float, (std::vector<uint8_t>{1, 1, 1}));
}

TEST(RunnerRun, FailuresReturnFalseWithTheirMessages) {
    struct Case {
        int inputs_set, run, outputs_get;
        const char* err;
    };
    const Case cases[] = {
        {-8, 0, 0, "rknn_inputs_set failed -8\n"},
        {0, -1, 0, "rknn_run failed -1\n"},
        {0, 0, -9, ""},
    };
    for (const Case& c : cases) {
        script_input(RKNN_TENSOR_NCHW, {1, 3, 1, 2});
        fake_rknn::script().io_num = {1, 2};
        fake_rknn::script().inputs_set_ret = c.inputs_set;
        fake_rknn::script().run_ret = c.run;
        fake_rknn::script().outputs_get_ret = c.outputs_get;
        Loaded loaded;
        std::vector<std::vector<float>> outputs;
        CaptureStderr();
        EXPECT_FALSE(loaded.model.RunImage(two_pixels(), outputs, 2, 1, false));
        EXPECT_EQ(GetCapturedStderr(), c.err);
    }
    // A failed fetch leaves one empty vector per output.
    std::vector<std::vector<float>> outputs;
    Loaded loaded;
    loaded.model.RunImage(two_pixels(), outputs, 2, 1, false);
    EXPECT_EQ(outputs, (std::vector<std::vector<float>>{{}, {}}));
}

TEST(RunnerRun, NeverLoadedModelRefusesSilently) {
    fake_rknn::reset();
    orvex::RKNNModel model;
    std::vector<std::vector<float>> outputs;
    CaptureStderr();
    EXPECT_FALSE(model.RunImage(two_pixels(), outputs, 2, 1, false));
    EXPECT_EQ(GetCapturedStderr(), "");
}

// Exits that need a runtime failure or an output list our runtime never gives.
TEST(CornerCheckExit, ScriptedRuntimeFailures) {
    const std::string dir = std::string(SCRATCH_DIR) + "/runner_fake_exit";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string image = dir + "/plate.png";
    cv::imwrite(image, cv::Mat(40, 100, CV_8UC3, cv::Scalar(255, 255, 255)));
    const std::string model = model_file();
    const std::string out = dir + "/out";
    struct Case {
        int query_num, run;
        uint32_t n_outputs;
        int code;
        std::string err;
    };
    const Case cases[] = {
        {-1, 0, 1, 3, "failed to load plate corner RKNN model: " + model + "\n"},
        {0, -3, 1, 4, "rknn_run failed -3\nplate corner rknn inference failed\n"},
        {0, 0, 0, 5, "invalid plate corner output size: 0\n"},
    };
    for (const Case& c : cases) {
        script_input(RKNN_TENSOR_NCHW, {1, 3, 128, 256});
        fake_rknn::script().query_num_ret = c.query_num;
        fake_rknn::script().run_ret = c.run;
        fake_rknn::script().io_num = {1, c.n_outputs};
        CaptureStdout();
        CaptureStderr();
        const int code = cornercheck::RunCornerCheck({"cornercheck", model, image, out});
        const std::string err = GetCapturedStderr();
        GetCapturedStdout();
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(err, c.err);
        EXPECT_TRUE(std::filesystem::is_empty(out));
    }
}
