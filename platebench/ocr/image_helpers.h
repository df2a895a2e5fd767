// Picture variants and fractional crops shared by the OCR and the kana search.
#pragma once

#include <opencv2/core.hpp>

cv::Mat make_gray_bgr(const cv::Mat& image);
cv::Mat make_clahe_bgr(const cv::Mat& image);
cv::Mat make_sharpen_bgr(const cv::Mat& image);

// Copy of the region between fractional edges; never empty for a non-empty picture.
cv::Mat crop_ratio(const cv::Mat& image, float left, float top, float right, float bottom);
