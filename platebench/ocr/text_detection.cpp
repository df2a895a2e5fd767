#include "ocr/text_detection.h"

#include "driver/bounded_sort.h"
#include "driver/debug_picture.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <stdexcept>

namespace {

constexpr int det_input_side = 640;
constexpr size_t max_text_boxes = 16;
constexpr double min_contour_area = 20.0;

int box_area(const TextBox& b) { return b.rect.width * b.rect.height; }

} // namespace

float sigmoid(float x) { return 1.0f / (1.0f + std::exp(-x)); }

int det_map_side(int n) {
    const int side = static_cast<int>(std::sqrt(static_cast<double>(n)));
    return static_cast<int64_t>(side) * side == n ? side : 0;
}

cv::Mat det_mask_from_map(const std::vector<float>& values, float thresh) {
    const int side = det_map_side(static_cast<int>(values.size()));
    if (side == 0) return cv::Mat();
    const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
    const bool raw_scores = *lowest < -0.01f || *highest > 1.01f;

    cv::Mat prob(side, side, CV_32F);
    for (size_t i = 0; i < values.size(); ++i) {
        const int row = static_cast<int>(i / static_cast<size_t>(side));
        const int col = static_cast<int>(i % static_cast<size_t>(side));
        prob.at<float>(row, col) = raw_scores ? sigmoid(values[i]) : values[i];
    }

    cv::Mat binary;
    cv::threshold(prob, binary, thresh, 255, cv::THRESH_BINARY);
    cv::Mat mask;
    binary.convertTo(mask, CV_8U, 1, 0);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 3));
    cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
    return mask;
}

bool text_box_reads_before(const TextBox& a, const TextBox& b) {
    const int a_centre = a.rect.y + a.rect.height / 2;
    const int b_centre = b.rect.y + b.rect.height / 2;
    if (std::abs(a_centre - b_centre) <= 12) return a.rect.x < b.rect.x;
    return a_centre < b_centre;
}

std::vector<TextBox> in_reading_order(std::vector<TextBox> boxes) {
    bounded_sort(boxes, text_box_reads_before);
    return boxes;
}

std::vector<TextBox> det_boxes_from_mask(const cv::Mat& mask, int image_w, int image_h) {
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);

    // Map pixels to picture pixels in float: the margins below depend on the exact single-precision products.
    const float fx = static_cast<float>(image_w) / static_cast<float>(mask.cols);
    const float fy = static_cast<float>(image_h) / static_cast<float>(mask.rows);
    std::vector<TextBox> boxes;
    for (const std::vector<cv::Point>& contour : contours) {
        if (cv::contourArea(contour) < min_contour_area) continue;
        const cv::Rect r = cv::boundingRect(contour);
        int x = static_cast<int>(std::floor(static_cast<float>(r.x) * fx)) - 5;
        int y = static_cast<int>(std::floor(static_cast<float>(r.y) * fy)) - 4;
        int w = static_cast<int>(std::ceil(static_cast<float>(r.width) * fx)) + 10;
        int h = static_cast<int>(std::ceil(static_cast<float>(r.height) * fy)) + 8;
        // A box pushed in at the top or left keeps its size, so its far edge moves out.
        x = std::max(0, x);
        y = std::max(0, y);
        if (x + w > image_w) w = image_w - x;
        if (y + h > image_h) h = image_h - y;
        if (w > 7 && h > 7) boxes.push_back(TextBox{cv::Rect(x, y, w, h), 1.0f});
    }

    boxes = in_reading_order(std::move(boxes));
    if (boxes.size() > max_text_boxes) {
        bounded_sort(boxes, [](const TextBox& a, const TextBox& b) { return box_area(a) > box_area(b); });
        boxes.resize(max_text_boxes);
        boxes = in_reading_order(std::move(boxes));
    }
    return boxes;
}

std::vector<TextBox> run_ppocr_det_boxes(RknnModel& model, const cv::Mat& image, const std::string& debug_prefix,
                                         float thresh) {
    const cv::Mat input = bgr_to_rgb_resized(image, det_input_side, det_input_side);
    const std::vector<std::vector<float>> outputs = model.infer_uint8_nhwc(input);
    if (outputs.empty() || outputs[0].empty()) throw std::runtime_error("ppocr det output invalid");
    const std::vector<float>& values = outputs[0];

    const int n = static_cast<int>(values.size());
    if (det_map_side(n) == 0) {
        std::cerr << "[WARN] unexpected ppocr det output elems=" << n << ", skip DB boxes.\n";
        return {};
    }

    const cv::Mat mask = det_mask_from_map(values, thresh);
    cv::Mat mask_debug;
    cv::resize(mask, mask_debug, image.size(), 0, 0, cv::INTER_LINEAR);
    write_debug_picture(debug_prefix + "_det_mask.jpg", mask_debug);

    const std::vector<TextBox> boxes = det_boxes_from_mask(mask, image.cols, image.rows);

    cv::Mat boxes_debug = image.clone();
    for (const TextBox& b : boxes) cv::rectangle(boxes_debug, b.rect, cv::Scalar(0, 255, 0), 2, cv::LINE_8, 0);
    write_debug_picture(debug_prefix + "_det_boxes.jpg", boxes_debug);
    return boxes;
}
