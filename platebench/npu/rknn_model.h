// The one gateway to the NPU: one runtime context per loaded model file.
#pragma once

#include "rknn_api.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

class RknnModel {
public:
    RknnModel();
    ~RknnModel();
    RknnModel(const RknnModel&) = delete;
    RknnModel& operator=(const RknnModel&) = delete;

    // Loads a model file and queries its tensors; prints the "[RKNN] " block.
    void load(const std::string& path);
    void release();

    // Runs one RGB picture (CV_8UC3, already at the model's size); one float
    // vector per output tensor, in output order.
    std::vector<std::vector<float>> infer_uint8_nhwc(const cv::Mat& rgb);

    int input_w() const;
    int input_h() const;
    const std::vector<rknn_tensor_attr>& output_attrs() const { return output_attrs_; }
    uint64_t output_elem_count(uint32_t i) const;

    static std::string dims_to_string(const rknn_tensor_attr& attr);
    void print_info() const;

private:
    rknn_context ctx = 0;
    std::string model_path;
    rknn_input_output_num io_num{};
    std::vector<rknn_tensor_attr> input_attrs;
    std::vector<rknn_tensor_attr> output_attrs_;
    std::string profile_bucket = "model";
};

// The whole file, or its first max_bytes + 1 bytes when it is longer (the
// caller sees it is too long without reading an endless device to the end).
std::vector<uint8_t> read_file_binary(const std::string& path, uint64_t max_bytes = UINT64_MAX);

// Plain bilinear stretch to w x h, then BGR to RGB.
cv::Mat bgr_to_rgb_resized(const cv::Mat& bgr, int w, int h);
