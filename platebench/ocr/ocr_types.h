// Records shared by the OCR stages and their callers.
#pragma once

#include <opencv2/core.hpp>

#include <string>

// One text candidate: where it was read ("original_det_crop_0", "gray_full", ...) and what.
struct OcrText {
    std::string source;
    std::string text;
};

// One detected text region, in pixels of the picture passed to detection.
struct TextBox {
    cv::Rect rect;
    float score = 0.0f;
};
