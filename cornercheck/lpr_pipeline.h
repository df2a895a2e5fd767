#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace orvex {

// Plate corners in pixels of the picture the model ran on; not clamped, so
// they may lie outside the picture or be non-numbers.
struct PlateCorners {
    cv::Point2f lt;
    cv::Point2f rt;
    cv::Point2f rb;
    cv::Point2f lb;
};

// Turns the corner model's output (x, y for lt, rt, rb, lb) into corners of a
// w by h picture. The eight values are either all normalised (largest one
// finite and at most 2) or all pixels. Fewer than eight values, or a size that
// is not positive, give all corners at (0, 0).
PlateCorners DecodePlateCorners(const std::vector<float>& values, int w, int h);

} // namespace orvex
