#include "npu/rknn_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {
std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

template <typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}
} // namespace

TEST(ReadFileBinary, StopsOneByteBeyondTheLimit) {
    const TempDir dir("read_file_binary");
    const std::string path = dir.file("bytes");
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << bytes;
    struct Case {
        std::string path;
        uint64_t max_bytes;
        size_t size;
    };
    const Case cases[] = {
        {path, UINT64_MAX, 200000}, {path, 200000, 200000}, {path, 199999, 200000}, {path, 70000, 70001},
        {path, 65536, 65537},       {path, 0, 1},           {"/dev/zero", 100000, 100001},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> got = read_file_binary(c.path, c.max_bytes);
        ASSERT_EQ(got.size(), c.size) << c.path << " max " << c.max_bytes;
        if (c.path == path) {
            EXPECT_EQ(std::string(got.begin(), got.end()), bytes.substr(0, c.size)) << c.max_bytes;
        }
    }
}

TEST(RknnModel, LoadFailuresNameThePath) {
    RknnModel m;
    EXPECT_EQ(error_of([&] { m.load("/nonexistent/m.rknn"); }), "failed to open binary: /nonexistent/m.rknn");

    const TempDir dir("rknn_model");
    const std::string text = dir.file("not_a_model.rknn");
    std::ofstream(text) << "plain text, not a model\n";
    EXPECT_EQ(error_of([&] { m.load(text); }), "rknn_init failed: " + text + ", ret=-2");
    const std::string empty = dir.file("empty.rknn");
    std::ofstream{empty};
    EXPECT_EQ(error_of([&] { m.load(empty); }), "rknn_init failed: " + empty + ", ret=-2");
    EXPECT_EQ(error_of([&] { m.infer_uint8_nhwc(cv::Mat(4, 4, CV_8UC3)); }), "RKNN model not loaded");
}

TEST(RknnModel, RefusesPicturesThatAreNotRgbBytes) {
    RknnModel m;
    testing::internal::CaptureStderr();
    m.load(fixture("corner.onnx"));
    testing::internal::GetCapturedStderr();
    const cv::Mat bad[] = {cv::Mat(), cv::Mat(128, 256, CV_8UC1), cv::Mat(128, 256, CV_8UC4),
                           cv::Mat(128, 256, CV_32FC3)};
    for (const cv::Mat& pic : bad)
        EXPECT_EQ(error_of([&] { m.infer_uint8_nhwc(pic); }), "input must be CV_8UC3 RGB image");
    EXPECT_EQ(error_of([&] { m.infer_uint8_nhwc(cv::Mat(64, 64, CV_8UC3)); }),
              "rknn_inputs_set failed: " + fixture("corner.onnx") + ", ret=-8");
}

TEST(RknnModel, RunsAndDescribesTheModel) {
    RknnModel m;
    testing::internal::CaptureStderr();
    m.load(fixture("det.onnx"));
    const std::string info = testing::internal::GetCapturedStderr();
    EXPECT_EQ(info, "[RKNN] " + fixture("det.onnx") +
                        "\n  input[0] name=images dims=[1,3,64,96] type=0 fmt=0\n"
                        "  output[0] name=boxes dims=[1,2,6] elems=12 type=0 fmt=0\n");
    EXPECT_EQ(m.input_w(), 96);
    EXPECT_EQ(m.input_h(), 64);
    EXPECT_EQ(m.output_elem_count(0), 12u);
    EXPECT_THROW(m.output_elem_count(1), std::out_of_range);

    const auto out = m.infer_uint8_nhwc(bgr_to_rgb_resized(cv::Mat(300, 500, CV_8UC3, cv::Scalar(1, 2, 3)), 96, 64));
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), 12u);
    EXPECT_FLOAT_EQ(out[0][1], 0.9f);
    EXPECT_FLOAT_EQ(out[0][10], 1.0f);

    testing::internal::CaptureStderr();
    m.load(fixture("flat_input.onnx"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(m.input_w(), 0);
    EXPECT_EQ(m.input_h(), 0);
}

TEST(RknnModel, DimsToString) {
    rknn_tensor_attr a{};
    EXPECT_EQ(RknnModel::dims_to_string(a), "[]");
    a.n_dims = 4;
    a.dims[0] = 1;
    a.dims[1] = 3;
    a.dims[2] = 96;
    a.dims[3] = 320;
    EXPECT_EQ(RknnModel::dims_to_string(a), "[1,3,96,320]");
}

TEST(BgrToRgbResized, StretchesThenSwapsChannels) {
    const cv::Mat bgr(10, 40, CV_8UC3, cv::Scalar(10, 20, 30));
    const cv::Mat rgb = bgr_to_rgb_resized(bgr, 7, 3);
    ASSERT_EQ(rgb.cols, 7);
    ASSERT_EQ(rgb.rows, 3);
    EXPECT_TRUE(rgb.isContinuous());
    EXPECT_EQ(rgb.at<cv::Vec3b>(1, 1), cv::Vec3b(30, 20, 10));
}
