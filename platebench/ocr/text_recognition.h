// Text-line recognition with greedy CTC decoding against the OCR dictionary.
#pragma once

#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// 48x320 RGB recogniser input: aspect kept, top-left on a white canvas.
cv::Mat make_rec_input_rgb(const cv::Mat& crop);

// Class 0 is the blank; class k is dict[k - 1]. Empty string for unusable shapes.
std::string ctc_decode(const std::vector<float>& logits, const rknn_tensor_attr& attr,
                       const std::vector<std::string>& dict);

std::string run_ppocr_rec(RknnModel& model, const cv::Mat& crop, const std::vector<std::string>& dict);
