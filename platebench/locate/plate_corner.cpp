#include "locate/plate_corner.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <stdexcept>

namespace {
constexpr int corner_input_w = 256;
constexpr int corner_input_h = 128;
} // namespace

std::vector<cv::Point2f> run_plate_corner(RknnModel& model, const cv::Mat& roi) {
    const cv::Mat input = bgr_to_rgb_resized(roi, corner_input_w, corner_input_h);
    const std::vector<std::vector<float>> outputs = model.infer_uint8_nhwc(input);
    if (outputs.empty() || outputs[0].size() < 8) throw std::runtime_error("plate_corner output invalid");

    const float roi_w = static_cast<float>(roi.cols);
    const float roi_h = static_cast<float>(roi.rows);
    std::vector<cv::Point2f> corners;
    for (int i = 0; i < 4; ++i) {
        float x = outputs[0][2 * i];
        float y = outputs[0][2 * i + 1];
        // Decided per point: a point is either fractions of the region or region pixels.
        if (x <= 2.0f && y <= 2.0f) {
            x *= roi_w;
            y *= roi_h;
        }
        // Upper limit first: a NaN lands on the last column or row.
        x = std::max(0.0f, std::min(roi_w - 1.0f, x));
        y = std::max(0.0f, std::min(roi_h - 1.0f, y));
        corners.emplace_back(x, y);
    }
    return corners;
}

cv::Mat warp_plate(const cv::Mat& image, const std::vector<cv::Point2f>& corners, int w, int h) {
    const float right = static_cast<float>(w - 1);
    const float bottom = static_cast<float>(h - 1);
    // tl, tr, br, bl
    const std::vector<cv::Point2f> target = {{0.0f, 0.0f}, {right, 0.0f}, {right, bottom}, {0.0f, bottom}};
    const cv::Mat transform = cv::getPerspectiveTransform(corners, target);
    cv::Mat warped;
    cv::warpPerspective(image, warped, transform, cv::Size(w, h), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return warped;
}
