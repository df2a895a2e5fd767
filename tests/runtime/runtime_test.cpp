#include "rknn_api.h"

#include <gtest/gtest.h>
#include <opencv2/dnn.hpp>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> read_bytes(const std::string& name) {
    std::ifstream in(std::string(FIXTURE_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Loaded {
    rknn_context ctx = 0;
    explicit Loaded(const std::string& name) {
        std::vector<uint8_t> blob = read_bytes(name);
        EXPECT_EQ(rknn_init(&ctx, blob.data(), static_cast<uint32_t>(blob.size()), 0, nullptr), 0);
    }
    ~Loaded() {
        if (ctx) rknn_destroy(ctx);
    }
};

rknn_tensor_attr query(rknn_context ctx, rknn_query_cmd cmd, uint32_t index) {
    rknn_tensor_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.index = index;
    EXPECT_EQ(rknn_query(ctx, cmd, &attr, sizeof attr), 0);
    return attr;
}

std::vector<float> run_and_get(rknn_context ctx, rknn_input& in, uint32_t output) {
    EXPECT_EQ(rknn_inputs_set(ctx, 1, &in), 0);
    EXPECT_EQ(rknn_run(ctx, nullptr), 0);
    rknn_output out;
    std::memset(&out, 0, sizeof out);
    out.index = output;
    out.want_float = 1;
    EXPECT_EQ(rknn_outputs_get(ctx, 1, &out, nullptr), 0);
    const float* p = static_cast<const float*>(out.buf);
    std::vector<float> v(p, p + out.size / sizeof(float));
    rknn_outputs_release(ctx, 1, &out);
    return v;
}

cv::Mat test_picture(int w, int h) {
    cv::Mat rgb(h, w, CV_8UC3);
    cv::randu(rgb, 0, 256);
    return rgb;
}

} // namespace

TEST(RuntimeInit, RefusesBlobsThatAreNoModel) {
    const std::string text = "this is not a model";
    std::vector<uint8_t> truncated = read_bytes("conv.onnx");
    truncated.resize(truncated.size() / 2);
    const std::vector<std::vector<uint8_t>> blobs = {
        std::vector<uint8_t>(text.begin(), text.end()),
        truncated,
        std::vector<uint8_t>(1, 0),
        std::vector<uint8_t>(4096, 0xff),
    };
    for (auto blob : blobs) {
        rknn_context ctx = 123;
        EXPECT_NE(rknn_init(&ctx, blob.data(), static_cast<uint32_t>(blob.size()), 0, nullptr), 0);
        EXPECT_EQ(ctx, 0u);
    }
    rknn_context ctx = 0;
    EXPECT_NE(rknn_init(&ctx, nullptr, 0, 0, nullptr), 0);
    EXPECT_NE(rknn_init(nullptr, nullptr, 0, 0, nullptr), 0);
}

// A tensor without elements is ordinary as the roi a Resize leaves out, and
// a weight OpenCV would divide by anywhere else.
TEST(RuntimeInit, EmptyTensorsOnlyAsAResizesOptionalInputs) {
    const struct {
        const char* file;
        bool loads;
    } cases[] = {
        {"resize_empty_roi_initializer.onnx", true},  {"resize_empty_roi_constant.onnx", true},
        {"gemm_empty_weight_initializer.onnx", false}, {"gemm_empty_weight_constant.onnx", false},
        {"conv_empty_weight_initializer.onnx", false}, {"conv_empty_weight_constant.onnx", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> blob = read_bytes(c.file);
        ASSERT_FALSE(blob.empty());
        rknn_context ctx = 0;
        const int rc = rknn_init(&ctx, blob.data(), static_cast<uint32_t>(blob.size()), 0, nullptr);
        if (!c.loads) {
            EXPECT_EQ(rc, RKNN_ERR_MODEL_INVALID);
            EXPECT_EQ(ctx, 0u);
            continue;
        }
        ASSERT_EQ(rc, RKNN_SUCC);
        EXPECT_EQ(query(ctx, RKNN_QUERY_OUTPUT_ATTR, 0).n_elems, 3u * 16 * 16);
        rknn_destroy(ctx);
    }
}

TEST(RuntimeInit, UnknownContextsAreRefused) {
    rknn_input_output_num num{};
    EXPECT_NE(rknn_query(0, RKNN_QUERY_IN_OUT_NUM, &num, sizeof num), 0);
    EXPECT_NE(rknn_query(0xdeadbeef, RKNN_QUERY_IN_OUT_NUM, &num, sizeof num), 0);
    EXPECT_NE(rknn_run(42, nullptr), 0);
    EXPECT_NE(rknn_destroy(42), 0);
}

TEST(RuntimeQuery, DescribesDeclaredAndOpenShapes) {
    Loaded m("two_outputs.onnx");
    rknn_input_output_num num{};
    ASSERT_EQ(rknn_query(m.ctx, RKNN_QUERY_IN_OUT_NUM, &num, sizeof num), 0);
    EXPECT_EQ(num.n_input, 1u);
    EXPECT_EQ(num.n_output, 2u);

    const rknn_tensor_attr in = query(m.ctx, RKNN_QUERY_INPUT_ATTR, 0);
    ASSERT_EQ(in.n_dims, 4u);
    EXPECT_EQ(in.dims[0], 1u);
    EXPECT_EQ(in.dims[1], 3u);
    EXPECT_EQ(in.dims[2], 16u);
    EXPECT_EQ(in.dims[3], 32u);
    EXPECT_EQ(in.n_elems, 1536u);
    EXPECT_EQ(in.fmt, RKNN_TENSOR_NCHW);
    EXPECT_EQ(in.type, RKNN_TENSOR_FLOAT32);
    EXPECT_STREQ(in.name, "images");

    const rknn_tensor_attr scores = query(m.ctx, RKNN_QUERY_OUTPUT_ATTR, 0);
    EXPECT_STREQ(scores.name, "scores");
    EXPECT_EQ(scores.n_elems, 30u);
    // The second output's shape is left open by the graph: found by the dry run.
    const rknn_tensor_attr open = query(m.ctx, RKNN_QUERY_OUTPUT_ATTR, 1);
    EXPECT_STREQ(open.name, "open");
    EXPECT_EQ(open.n_elems, 6u);

    rknn_tensor_attr bad;
    std::memset(&bad, 0, sizeof bad);
    bad.index = 2;
    EXPECT_NE(rknn_query(m.ctx, RKNN_QUERY_OUTPUT_ATTR, &bad, sizeof bad), 0);
    EXPECT_NE(rknn_query(m.ctx, RKNN_QUERY_INPUT_ATTR, &bad, 4), 0);
}

TEST(RuntimeRun, OutputsComeBackInGraphOrder) {
    Loaded m("two_outputs.onnx");
    cv::Mat rgb = test_picture(32, 16);
    rknn_input in;
    std::memset(&in, 0, sizeof in);
    in.buf = rgb.data;
    in.size = static_cast<uint32_t>(rgb.total() * 3);
    in.type = RKNN_TENSOR_UINT8;
    in.fmt = RKNN_TENSOR_NHWC;
    const std::vector<float> scores = run_and_get(m.ctx, in, 0);
    ASSERT_EQ(scores.size(), 30u);
    EXPECT_FLOAT_EQ(scores[29], 14.5f);
    const std::vector<float> open = run_and_get(m.ctx, in, 1);
    ASSERT_EQ(open.size(), 6u);
    EXPECT_FLOAT_EQ(open[0], -2.0f);
}

// Every accepted input form must give what OpenCV's dnn gives on its own for
// float NCHW RGB 0..255.
TEST(RuntimeRun, MatchesOpenCvDnnForEveryInputForm) {
    const int w = 48, h = 64;
    const cv::Mat rgb = test_picture(w, h);
    cv::Mat reference;
    {
        std::vector<uint8_t> blob = read_bytes("conv.onnx");
        cv::dnn::Net net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(blob.data()), blob.size());
        net.setInput(cv::dnn::blobFromImage(rgb, 1.0, cv::Size(), cv::Scalar(), false, false, CV_32F));
        reference = net.forward().clone();
    }

    cv::Mat rgb_f;
    rgb.convertTo(rgb_f, CV_32F);
    std::vector<uint8_t> planar_u8(rgb.total() * 3);
    std::vector<float> planar_f(rgb.total() * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                planar_u8[c * w * h + y * w + x] = rgb.at<cv::Vec3b>(y, x)[c];
                planar_f[c * w * h + y * w + x] = rgb.at<cv::Vec3b>(y, x)[c];
            }

    struct Form {
        void* buf;
        size_t size;
        rknn_tensor_type type;
        rknn_tensor_format fmt;
    };
    const Form forms[] = {
        {rgb.data, rgb.total() * 3, RKNN_TENSOR_UINT8, RKNN_TENSOR_NHWC},
        {rgb_f.data, rgb.total() * 3 * sizeof(float), RKNN_TENSOR_FLOAT32, RKNN_TENSOR_NHWC},
        {planar_u8.data(), planar_u8.size(), RKNN_TENSOR_UINT8, RKNN_TENSOR_NCHW},
        {planar_f.data(), planar_f.size() * sizeof(float), RKNN_TENSOR_FLOAT32, RKNN_TENSOR_NCHW},
    };
    Loaded m("conv.onnx");
    for (const Form& f : forms) {
        rknn_input in;
        std::memset(&in, 0, sizeof in);
        in.buf = f.buf;
        in.size = static_cast<uint32_t>(f.size);
        in.type = f.type;
        in.fmt = f.fmt;
        const std::vector<float> got = run_and_get(m.ctx, in, 0);
        ASSERT_EQ(got.size(), reference.total());
        const float* want = reference.ptr<float>();
        for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], 1e-4f) << "element " << i;
    }
}

TEST(RuntimeRun, RefusesInputOfTheWrongSizeOrKind) {
    Loaded m("conv.onnx");
    std::vector<uint8_t> buf(64 * 48 * 3 * 4 + 16);
    const struct {
        uint32_t size;
        rknn_tensor_type type;
        int fmt;
        uint32_t index;
    } cases[] = {
        {64 * 48 * 3 - 1, RKNN_TENSOR_UINT8, RKNN_TENSOR_NHWC, 0},
        {64 * 48 * 3 + 1, RKNN_TENSOR_UINT8, RKNN_TENSOR_NHWC, 0},
        {64 * 48 * 3, RKNN_TENSOR_FLOAT32, RKNN_TENSOR_NHWC, 0},
        {64 * 48 * 3, RKNN_TENSOR_INT16, RKNN_TENSOR_NHWC, 0},
        {64 * 48 * 3, RKNN_TENSOR_UINT8, 7, 0},
        {64 * 48 * 3, RKNN_TENSOR_UINT8, RKNN_TENSOR_NHWC, 1},
    };
    for (const auto& c : cases) {
        rknn_input in;
        std::memset(&in, 0, sizeof in);
        in.index = c.index;
        in.buf = buf.data();
        in.size = c.size;
        in.type = c.type;
        in.fmt = static_cast<rknn_tensor_format>(c.fmt);
        EXPECT_NE(rknn_inputs_set(m.ctx, 1, &in), 0) << c.size << " " << c.type << " " << c.fmt;
    }
    rknn_input in;
    std::memset(&in, 0, sizeof in);
    in.size = 64 * 48 * 3;
    in.type = RKNN_TENSOR_UINT8;
    EXPECT_NE(rknn_inputs_set(m.ctx, 1, &in), 0) << "null buffer";
}

TEST(RuntimeOutputs, PreallocatedBuffersMustHoldTheTensor) {
    Loaded m("two_outputs.onnx");
    ASSERT_EQ(rknn_run(m.ctx, nullptr), 0);
    std::vector<float> small(29), enough(30);
    rknn_output out;
    std::memset(&out, 0, sizeof out);
    out.is_prealloc = 1;
    out.want_float = 1;
    out.buf = small.data();
    out.size = static_cast<uint32_t>(small.size() * sizeof(float));
    EXPECT_NE(rknn_outputs_get(m.ctx, 1, &out, nullptr), 0);
    out.buf = enough.data();
    out.size = static_cast<uint32_t>(enough.size() * sizeof(float));
    ASSERT_EQ(rknn_outputs_get(m.ctx, 1, &out, nullptr), 0);
    EXPECT_FLOAT_EQ(enough[2], 1.0f);
    out.index = 5;
    EXPECT_NE(rknn_outputs_get(m.ctx, 1, &out, nullptr), 0);
    rknn_output three[3];
    std::memset(three, 0, sizeof three);
    EXPECT_NE(rknn_outputs_get(m.ctx, 3, three, nullptr), 0);
}

TEST(RuntimeOutputs, NothingToGetBeforeARun) {
    Loaded m("two_outputs.onnx");
    rknn_output out;
    std::memset(&out, 0, sizeof out);
    out.want_float = 1;
    EXPECT_NE(rknn_outputs_get(m.ctx, 1, &out, nullptr), 0);
}
