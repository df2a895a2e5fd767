// Text-line detection: segmentation map to upright boxes in reading order.
#pragma once

#include "ocr/ocr_types.h"
#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

float sigmoid(float x);

// Writes debug_prefix + "_det_mask.jpg" and debug_prefix + "_det_boxes.jpg".
std::vector<TextBox> run_ppocr_det_boxes(RknnModel& model, const cv::Mat& image, const std::string& debug_prefix,
                                         float thresh);
