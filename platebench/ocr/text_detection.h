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

// The model-free steps of run_ppocr_det_boxes, in the order it applies them.

// Side of the square map held by n values; 0 when n is not a square.
int det_map_side(int n);

// The square map as a side x side CV_8U mask, 0 or 255 (empty when the count is not a square): raw scores
// are squashed first (decided once for the whole map), thresholded strictly above thresh, then closed
// with a 5x3 rectangle.
cv::Mat det_mask_from_map(const std::vector<float>& values, float thresh);

// Outer contours of the mask as boxes in pixels of an image_w x image_h picture, grown by a fixed margin,
// clipped, in reading order and at most 16 (the largest).
std::vector<TextBox> det_boxes_from_mask(const cv::Mat& mask, int image_w, int image_h);

// Centres within 12 rows count as one text row, read left to right; rows top to bottom.
// Not a strict weak ordering, so it is only used with a sort that tolerates that.
bool text_box_reads_before(const TextBox& a, const TextBox& b);
std::vector<TextBox> in_reading_order(std::vector<TextBox> boxes);
