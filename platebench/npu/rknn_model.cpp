#include "rknn_model.h"

#include "driver/profile.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

RknnModel::RknnModel() = default;

RknnModel::~RknnModel() { release(); }

void RknnModel::release() {
    if (ctx != 0) {
        rknn_destroy(ctx);
        ctx = 0;
    }
}

void RknnModel::load(const std::string& path) {
    release();
    model_path = path;
    profile_bucket = "model:" + path.substr(path.rfind('/') + 1);
    // The runtime takes the size as 32 bits; a longer file would reach it cut short.
    std::vector<uint8_t> blob = read_file_binary(path, UINT32_MAX);

    int ret = blob.size() > UINT32_MAX ? RKNN_ERR_MODEL_INVALID
                                       : rknn_init(&ctx, blob.data(), static_cast<uint32_t>(blob.size()), 0, nullptr);
    if (ret != 0) {
        ctx = 0;
        throw std::runtime_error("rknn_init failed: " + path + ", ret=" + std::to_string(ret));
    }

    std::memset(&io_num, 0, sizeof io_num);
    if (rknn_query(ctx, RKNN_QUERY_IN_OUT_NUM, &io_num, sizeof io_num) != 0)
        throw std::runtime_error("RKNN_QUERY_IN_OUT_NUM failed: " + path);

    input_attrs.resize(io_num.n_input);
    output_attrs_.resize(io_num.n_output);
    for (uint32_t i = 0; i < io_num.n_input; ++i) {
        std::memset(&input_attrs[i], 0, sizeof(rknn_tensor_attr));
        input_attrs[i].index = i;
        if (rknn_query(ctx, RKNN_QUERY_INPUT_ATTR, &input_attrs[i], sizeof(rknn_tensor_attr)) != 0)
            throw std::runtime_error("RKNN_QUERY_INPUT_ATTR failed");
    }
    for (uint32_t i = 0; i < io_num.n_output; ++i) {
        std::memset(&output_attrs_[i], 0, sizeof(rknn_tensor_attr));
        output_attrs_[i].index = i;
        if (rknn_query(ctx, RKNN_QUERY_OUTPUT_ATTR, &output_attrs_[i], sizeof(rknn_tensor_attr)) != 0)
            throw std::runtime_error("RKNN_QUERY_OUTPUT_ATTR failed");
    }
    print_info();
}

std::vector<std::vector<float>> RknnModel::infer_uint8_nhwc(const cv::Mat& rgb) {
    ProfileScope timed(profile_bucket);
    if (ctx == 0) throw std::runtime_error("RKNN model not loaded");
    if (rgb.empty() || rgb.type() != CV_8UC3) throw std::runtime_error("input must be CV_8UC3 RGB image");
    // The runtime reads the pixels as one block.
    const cv::Mat pixels = rgb.isContinuous() ? rgb : rgb.clone();

    rknn_input input;
    std::memset(&input, 0, sizeof input);
    input.index = 0;
    input.buf = const_cast<uint8_t*>(pixels.ptr<uint8_t>());
    input.size = static_cast<uint32_t>(pixels.total() * pixels.elemSize());
    input.pass_through = 0;
    input.type = RKNN_TENSOR_UINT8;
    input.fmt = RKNN_TENSOR_NHWC;
    int ret = rknn_inputs_set(ctx, 1, &input);
    if (ret != 0) throw std::runtime_error("rknn_inputs_set failed: " + model_path + ", ret=" + std::to_string(ret));

    ret = rknn_run(ctx, nullptr);
    if (ret != 0) throw std::runtime_error("rknn_run failed: " + model_path + ", ret=" + std::to_string(ret));

    std::vector<rknn_output> records(io_num.n_output);
    for (uint32_t i = 0; i < io_num.n_output; ++i) {
        std::memset(&records[i], 0, sizeof(rknn_output));
        records[i].index = i;
        records[i].want_float = 1;
    }
    ret = rknn_outputs_get(ctx, io_num.n_output, records.data(), nullptr);
    if (ret != 0) throw std::runtime_error("rknn_outputs_get failed: " + model_path + ", ret=" + std::to_string(ret));

    std::vector<std::vector<float>> result;
    result.reserve(io_num.n_output);
    for (uint32_t i = 0; i < io_num.n_output; ++i) {
        // Never read past what the runtime actually handed back.
        const uint64_t held = records[i].buf ? records[i].size / sizeof(float) : 0;
        const uint64_t n = std::min<uint64_t>(output_elem_count(i), held);
        const auto* src = static_cast<const float*>(records[i].buf);
        result.emplace_back(src, src + n);
    }
    rknn_outputs_release(ctx, io_num.n_output, records.data());
    return result;
}

int RknnModel::input_w() const {
    const rknn_tensor_attr& a = input_attrs.at(0);
    return a.n_dims < 4 ? 0 : static_cast<int>(a.dims[a.n_dims - 1]);
}

int RknnModel::input_h() const {
    const rknn_tensor_attr& a = input_attrs.at(0);
    return a.n_dims < 4 ? 0 : static_cast<int>(a.dims[a.n_dims - 2]);
}

uint64_t RknnModel::output_elem_count(uint32_t i) const {
    const rknn_tensor_attr& a = output_attrs_.at(i);
    if (a.n_elems != 0) return a.n_elems;
    uint64_t n = 1;
    for (uint32_t d = 0; d < a.n_dims && d < RKNN_MAX_DIMS; ++d) n *= a.dims[d];
    return n;
}

std::string RknnModel::dims_to_string(const rknn_tensor_attr& attr) {
    std::string s = "[";
    for (uint32_t d = 0; d < attr.n_dims && d < RKNN_MAX_DIMS; ++d) {
        if (d) s += ",";
        s += std::to_string(attr.dims[d]);
    }
    return s + "]";
}

namespace {
std::string attr_name(const rknn_tensor_attr& a) {
    return std::string(a.name, strnlen(a.name, RKNN_MAX_NAME_LEN));
}
} // namespace

void RknnModel::print_info() const {
    std::string text = "[RKNN] " + model_path + "\n";
    for (size_t i = 0; i < input_attrs.size(); ++i) {
        const auto& a = input_attrs[i];
        text += "  input[" + std::to_string(i) + "] name=" + attr_name(a) + " dims=" + dims_to_string(a) +
                " type=" + std::to_string(static_cast<int>(a.type)) + " fmt=" + std::to_string(static_cast<int>(a.fmt)) + "\n";
    }
    for (size_t i = 0; i < output_attrs_.size(); ++i) {
        const auto& a = output_attrs_[i];
        text += "  output[" + std::to_string(i) + "] name=" + attr_name(a) + " dims=" + dims_to_string(a) +
                " elems=" + std::to_string(a.n_elems) + " type=" + std::to_string(static_cast<int>(a.type)) +
                " fmt=" + std::to_string(static_cast<int>(a.fmt)) + "\n";
    }
    std::cerr << text;
}

std::vector<uint8_t> read_file_binary(const std::string& path, uint64_t max_bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open binary: " + path);
    std::vector<uint8_t> data;
    for (std::istreambuf_iterator<char> it(in), end; it != end && data.size() <= max_bytes; ++it)
        data.push_back(static_cast<uint8_t>(*it));
    return data;
}

cv::Mat bgr_to_rgb_resized(const cv::Mat& bgr, int w, int h) {
    ProfileScope timed("image_prep");
    cv::Mat resized;
    cv::resize(bgr, resized, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::Mat rgb;
    cv::cvtColor(resized, rgb, cv::COLOR_BGR2RGB);
    return rgb;
}
