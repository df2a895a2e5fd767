#include "ocr/image_helpers.h"

#include "driver/profile.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

cv::Mat make_gray_bgr(const cv::Mat& image) {
    ProfileScope timed("image_prep");
    cv::Mat gray;
    cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
    cv::Mat bgr;
    cv::cvtColor(gray, bgr, cv::COLOR_GRAY2BGR);
    return bgr;
}

cv::Mat make_clahe_bgr(const cv::Mat& image) {
    ProfileScope timed("image_prep");
    cv::Mat lab;
    cv::cvtColor(image, lab, cv::COLOR_BGR2Lab);
    std::vector<cv::Mat> channels;
    cv::split(lab, channels);
    cv::Ptr<cv::CLAHE> clahe = cv::createCLAHE(2.0, cv::Size(8, 8));
    clahe->apply(channels[0], channels[0]);
    cv::merge(channels, lab);
    cv::Mat bgr;
    cv::cvtColor(lab, bgr, cv::COLOR_Lab2BGR);
    return bgr;
}

cv::Mat make_sharpen_bgr(const cv::Mat& image) {
    ProfileScope timed("image_prep");
    cv::Mat blur;
    cv::GaussianBlur(image, blur, cv::Size(0, 0), 1.0, 0.0, cv::BORDER_DEFAULT);
    cv::Mat sharp;
    cv::addWeighted(image, 1.6, blur, -0.6, 0.0, sharp);
    return sharp;
}

namespace {
// Upper limit first, so a NaN product lands on the limit rather than on 0.
int clamp_edge(float value, int upper) {
    return static_cast<int>(std::max(0.0f, std::min(static_cast<float>(upper), value)));
}
} // namespace

cv::Mat crop_ratio(const cv::Mat& image, float left, float top, float right, float bottom) {
    ProfileScope timed("image_prep");
    const int width = image.cols;
    const int height = image.rows;
    const int x0 = clamp_edge(std::floor(static_cast<float>(width) * left), width - 1);
    const int y0 = clamp_edge(std::floor(static_cast<float>(height) * top), height - 1);
    const int x1 = clamp_edge(std::ceil(static_cast<float>(width) * right), width);
    const int y1 = clamp_edge(std::ceil(static_cast<float>(height) * bottom), height);
    const int region_w = std::max(1, x1 - x0);
    const int region_h = std::max(1, y1 - y0);
    return image(cv::Rect(x0, y0, region_w, region_h)).clone();
}
