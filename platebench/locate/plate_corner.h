// Corner regression and perspective rectification of the plate region.
#pragma once

#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <vector>

// Corners: tl, tr, br, bl in region pixels.
std::vector<cv::Point2f> run_plate_corner(RknnModel& model, const cv::Mat& roi);

cv::Mat warp_plate(const cv::Mat& image, const std::vector<cv::Point2f>& corners, int w, int h);
