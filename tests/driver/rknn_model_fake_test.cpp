// RknnModel against a scripted stand-in of the runtime's C API.
#include "driver/model_setup.h"
#include "npu/rknn_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct FakeRuntime {
    int init_ret = 0, io_ret = 0, input_attr_ret = 0, output_attr_ret = 0;
    int inputs_set_ret = 0, run_ret = 0, outputs_get_ret = 0;
    uint32_t n_input = 1;
    std::vector<rknn_tensor_attr> outputs;
    std::vector<std::vector<float>> buffers;     // what outputs_get hands out
    std::vector<uint32_t> returned_sizes;        // bytes reported per buffer
    int destroyed = 0;
    rknn_context next_ctx = 100;
    rknn_input last_input{};
    uint32_t last_init_size = 0;
};
FakeRuntime fake;

rknn_tensor_attr make_attr(std::vector<uint32_t> dims, uint32_t n_elems) {
    rknn_tensor_attr a;
    std::memset(&a, 0, sizeof a);
    a.n_dims = static_cast<uint32_t>(dims.size());
    for (size_t i = 0; i < dims.size(); ++i) a.dims[i] = dims[i];
    a.n_elems = n_elems;
    std::strcpy(a.name, "out");
    return a;
}

std::string model_file(const TempDir& dir) {
    const std::string path = dir.file("fake_model.rknn");
    std::ofstream(path, std::ios::binary) << "blob";
    return path;
}

template <typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

class RknnModelFake : public testing::Test {
protected:
    void SetUp() override {
        fake = FakeRuntime{};
        fake.outputs = {make_attr({1, 2, 3}, 6)};
        fake.buffers = {{1, 2, 3, 4, 5, 6}};
        fake.returned_sizes = {24};
        path = model_file(dir);
    }
    const TempDir dir{"rknn_model_fake"};
    std::string load_quietly(RknnModel& m) {
        testing::internal::CaptureStderr();
        const std::string err = error_of([&] { m.load(path); });
        testing::internal::GetCapturedStderr();
        return err;
    }
    std::string path;
    const cv::Mat rgb{2, 3, CV_8UC3, cv::Scalar(1, 2, 3)};
};

} // namespace

extern "C" {
int rknn_init(rknn_context* ctx, void*, uint32_t size, uint32_t, rknn_init_extend*) {
    fake.last_init_size = size;
    if (fake.init_ret) return fake.init_ret;
    *ctx = fake.next_ctx++;
    return 0;
}
int rknn_destroy(rknn_context) {
    ++fake.destroyed;
    return 0;
}
int rknn_query(rknn_context, rknn_query_cmd cmd, void* info, uint32_t) {
    if (cmd == RKNN_QUERY_IN_OUT_NUM) {
        if (fake.io_ret) return fake.io_ret;
        auto* n = static_cast<rknn_input_output_num*>(info);
        n->n_input = fake.n_input;
        n->n_output = static_cast<uint32_t>(fake.outputs.size());
        return 0;
    }
    auto* attr = static_cast<rknn_tensor_attr*>(info);
    if (cmd == RKNN_QUERY_INPUT_ATTR) {
        if (fake.input_attr_ret) return fake.input_attr_ret;
        *attr = make_attr({1, 3, 2, 3}, 18);
        return 0;
    }
    if (fake.output_attr_ret) return fake.output_attr_ret;
    const uint32_t index = attr->index;
    *attr = fake.outputs.at(index);
    attr->index = index;
    return 0;
}
int rknn_inputs_set(rknn_context, uint32_t, rknn_input inputs[]) {
    fake.last_input = inputs[0];
    return fake.inputs_set_ret;
}
int rknn_run(rknn_context, rknn_run_extend*) { return fake.run_ret; }
int rknn_outputs_get(rknn_context, uint32_t n, rknn_output outputs[], rknn_output_extend*) {
    if (fake.outputs_get_ret) return fake.outputs_get_ret;
    for (uint32_t i = 0; i < n; ++i) {
        outputs[i].buf = fake.buffers.at(outputs[i].index).data();
        outputs[i].size = fake.returned_sizes.at(outputs[i].index);
    }
    return 0;
}
int rknn_outputs_release(rknn_context, uint32_t, rknn_output[]) { return -1; }
}

TEST_F(RknnModelFake, QueryFailuresThrowTheirOwnMessages) {
    const struct {
        int FakeRuntime::*field;
        std::string message;
    } cases[] = {
        {&FakeRuntime::init_ret, "rknn_init failed: " + path + ", ret=-3"},
        {&FakeRuntime::io_ret, "RKNN_QUERY_IN_OUT_NUM failed: " + path},
        {&FakeRuntime::input_attr_ret, "RKNN_QUERY_INPUT_ATTR failed"},
        {&FakeRuntime::output_attr_ret, "RKNN_QUERY_OUTPUT_ATTR failed"},
    };
    for (const auto& c : cases) {
        SetUp();
        fake.*c.field = -3;
        RknnModel m;
        EXPECT_EQ(load_quietly(m), c.message);
    }
    EXPECT_EQ(fake.last_init_size, 4u);
}

TEST_F(RknnModelFake, RunFailuresCarryPathAndReturnValue) {
    const struct {
        int FakeRuntime::*field;
        std::string step;
    } cases[] = {
        {&FakeRuntime::inputs_set_ret, "rknn_inputs_set"},
        {&FakeRuntime::run_ret, "rknn_run"},
        {&FakeRuntime::outputs_get_ret, "rknn_outputs_get"},
    };
    for (const auto& c : cases) {
        SetUp();
        RknnModel m;
        ASSERT_EQ(load_quietly(m), "(no exception)");
        fake.*c.field = -9;
        EXPECT_EQ(error_of([&] { m.infer_uint8_nhwc(rgb); }), c.step + " failed: " + path + ", ret=-9");
    }
}

TEST_F(RknnModelFake, InputIsSentAsOneNhwcByteTensor) {
    RknnModel m;
    load_quietly(m);
    const auto out = m.infer_uint8_nhwc(rgb);
    EXPECT_EQ(fake.last_input.index, 0u);
    EXPECT_EQ(fake.last_input.size, 18u);
    EXPECT_EQ(fake.last_input.type, RKNN_TENSOR_UINT8);
    EXPECT_EQ(fake.last_input.fmt, RKNN_TENSOR_NHWC);
    EXPECT_EQ(fake.last_input.buf, rgb.data) << "no copy of a continuous picture";
    EXPECT_EQ(out, (std::vector<std::vector<float>>{{1, 2, 3, 4, 5, 6}}));
}

TEST_F(RknnModelFake, ElementCountFromDimsWhenNElemsIsZero) {
    fake.outputs = {make_attr({2, 3}, 0), make_attr({}, 0)};
    fake.buffers = {{1, 2, 3, 4, 5, 6}, {7}};
    fake.returned_sizes = {24, 4};
    RknnModel m;
    testing::internal::CaptureStderr();
    m.load(path);
    const std::string info = testing::internal::GetCapturedStderr();
    EXPECT_NE(info.find("  output[0] name=out dims=[2,3] elems=0 type=0 fmt=0\n"), std::string::npos) << info;
    EXPECT_NE(info.find("  output[1] name=out dims=[] elems=0 type=0 fmt=0\n"), std::string::npos) << info;
    EXPECT_EQ(m.output_elem_count(0), 6u);
    EXPECT_EQ(m.output_elem_count(1), 1u);
    const auto out = m.infer_uint8_nhwc(rgb);
    EXPECT_EQ(out[0].size(), 6u);
    EXPECT_EQ(out[1], std::vector<float>{7});
}

// A runtime that hands back less than the attributes promise must not be read past.
TEST_F(RknnModelFake, ShortOutputBufferIsNotReadPast) {
    fake.buffers = {{1, 2, 3}};
    fake.returned_sizes = {12};
    RknnModel m;
    load_quietly(m);
    EXPECT_EQ(m.infer_uint8_nhwc(rgb), (std::vector<std::vector<float>>{{1, 2, 3}}));
}

TEST_F(RknnModelFake, ReloadAndDestructionReleaseTheContext) {
    {
        RknnModel m;
        load_quietly(m);
        EXPECT_EQ(fake.destroyed, 0);
        load_quietly(m);
        EXPECT_EQ(fake.destroyed, 1);
        m.release();
        EXPECT_EQ(fake.destroyed, 2);
        m.release();
        EXPECT_EQ(fake.destroyed, 2);
        load_quietly(m);
    }
    EXPECT_EQ(fake.destroyed, 3);
    {
        fake.init_ret = -1;
        RknnModel m;
        load_quietly(m);
    }
    EXPECT_EQ(fake.destroyed, 3) << "a failed init leaves nothing to destroy";
}

TEST_F(RknnModelFake, DictionaryCheckReadsTheLastDimension) {
    const std::string info = "[INFO] rec_classes=4 ocr_chars_after_shape_check=3 expected_chars=3\n";
    const struct {
        std::vector<uint32_t> dims;
        size_t dict_size;
        std::string err;
        size_t dict_after;
    } cases[] = {
        {{}, 3, "", 3},
        {{1, 40, 0}, 3, "", 3},
        {{1, 40, 4}, 3, info, 3},
        {{40, 4}, 2, "[WARN] OCR dict was missing one char; appended half-width space in memory.\n" + info, 3},
        {{1, 1, 40, 4}, 1,
         "[INFO] rec_classes=4 ocr_chars_after_shape_check=1 expected_chars=3\n"
         "[WARN] OCR dict size still does not match rec output classes. CTC decode may be wrong.\n",
         1},
    };
    for (const auto& c : cases) {
        SetUp();
        fake.outputs = {make_attr(c.dims, 0)};
        RknnModel m;
        load_quietly(m);
        std::vector<std::string> dict(c.dict_size, "x");
        testing::internal::CaptureStderr();
        reconcile_ocr_dict(m, dict);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        ASSERT_EQ(dict.size(), c.dict_after);
        if (c.dict_after > c.dict_size) {
            EXPECT_EQ(dict.back(), " ");
        }
    }
    fake.outputs = {};
    RknnModel none;
    load_quietly(none);
    std::vector<std::string> dict;
    EXPECT_THROW(reconcile_ocr_dict(none, dict), std::out_of_range);
}
