// Recogniser decoding restricted to the plate kana.
#pragma once

#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

std::string ctc_decode_kana_constrained(const std::vector<float>& logits, const rknn_tensor_attr& attr,
                                        const std::vector<std::string>& dict);

// Empty string (not an exception) when the model returns no output.
std::string run_ppocr_rec_kana_constrained(RknnModel& model, const cv::Mat& crop,
                                           const std::vector<std::string>& dict);
