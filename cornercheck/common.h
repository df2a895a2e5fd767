#pragma once

#include "lpr_pipeline.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace orvex {

// Bilinear stretch to w by h; BGR to RGB afterwards when to_rgb is set.
cv::Mat ResizeToModel(const cv::Mat& picture, int w, int h, bool to_rgb);

// Rectifies the quadrilateral lt, rt, rb, lb of the picture to a w by h picture.
cv::Mat WarpPlate(const cv::Mat& picture, const PlateCorners& corners, int w, int h);

// The file's non-empty lines in order, each without one trailing carriage
// return; throws "failed to open dict: " + path.
std::vector<std::string> LoadDict(const std::string& path);

} // namespace orvex
