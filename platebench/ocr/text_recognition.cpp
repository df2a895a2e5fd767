#include "ocr/text_recognition.h"

#include "driver/profile.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <stdexcept>

namespace {
constexpr int rec_w = 320;
constexpr int rec_h = 48;
} // namespace

cv::Mat make_rec_input_rgb(const cv::Mat& crop) {
    ProfileScope timed("image_prep");
    if (crop.empty()) throw std::runtime_error("empty crop for recognition");
    const float sx = static_cast<float>(rec_w) / static_cast<float>(crop.cols);
    const float sy = static_cast<float>(rec_h) / static_cast<float>(crop.rows);
    const float s = std::min(sx, sy);
    // std::round rounds halves away from zero; the product can exceed the canvas only by float noise.
    const int new_w = std::clamp(static_cast<int>(std::round(static_cast<float>(crop.cols) * s)), 1, rec_w);
    const int new_h = std::clamp(static_cast<int>(std::round(static_cast<float>(crop.rows) * s)), 1, rec_h);

    cv::Mat resized;
    cv::resize(crop, resized, cv::Size(new_w, new_h), 0, 0, cv::INTER_LINEAR);
    cv::Mat canvas(rec_h, rec_w, CV_8UC3, cv::Scalar(255, 255, 255));
    resized.copyTo(canvas(cv::Rect(0, 0, new_w, new_h)));
    cv::Mat rgb;
    cv::cvtColor(canvas, rgb, cv::COLOR_BGR2RGB);
    return rgb;
}

std::string ctc_decode(const std::vector<float>& logits, const rknn_tensor_attr& attr,
                       const std::vector<std::string>& dict) {
    if (logits.empty()) return "";
    const uint32_t n_dims = std::min<uint32_t>(attr.n_dims, RKNN_MAX_DIMS);
    int32_t steps = 0;
    int32_t classes = 0;
    if (n_dims >= 3) {
        steps = static_cast<int32_t>(attr.dims[n_dims - 2]);
        classes = static_cast<int32_t>(attr.dims[n_dims - 1]);
    } else if (n_dims == 2) {
        steps = static_cast<int32_t>(attr.dims[0]);
        classes = static_cast<int32_t>(attr.dims[1]);
    } else {
        // Without a usable shape the dictionary says how many classes there are.
        classes = static_cast<int32_t>(dict.size()) + 1;
        if (classes <= 1 || logits.size() % static_cast<size_t>(classes) != 0) return "";
        steps = static_cast<int32_t>(logits.size() / static_cast<size_t>(classes));
    }
    // 64-bit product: a corrupt description must not overflow into a small count.
    if (steps <= 0 || classes <= 0 ||
        logits.size() < static_cast<uint64_t>(steps) * static_cast<uint64_t>(classes)) {
        std::cerr << "[WARN] invalid rec output shape T=" << steps << " C=" << classes << " logits=" << logits.size()
                  << "\n";
        return "";
    }

    std::string text;
    int32_t prev = -1;
    for (int32_t t = 0; t < steps; ++t) {
        const float* row = logits.data() + static_cast<size_t>(t) * static_cast<size_t>(classes);
        int32_t best = 0;
        float best_value = row[0];
        // Strictly greater: ties go to the lower class, and NaN never wins.
        for (int32_t c = 1; c < classes; ++c)
            if (row[c] > best_value) {
                best = c;
                best_value = row[c];
            }
        if (best != 0 && best != prev && static_cast<size_t>(best - 1) < dict.size()) text += dict[best - 1];
        prev = best;
    }
    return text;
}

std::string run_ppocr_rec(RknnModel& model, const cv::Mat& crop, const std::vector<std::string>& dict) {
    const cv::Mat input = make_rec_input_rgb(crop);
    const std::vector<std::vector<float>> outputs = model.infer_uint8_nhwc(input);
    if (outputs.empty() || outputs[0].empty()) throw std::runtime_error("ppocr rec output invalid");
    return ctc_decode(outputs[0], model.output_attrs().at(0), dict);
}
