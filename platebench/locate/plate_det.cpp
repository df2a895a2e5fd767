#include "locate/plate_det.h"

#include "driver/bounded_sort.h"
#include "driver/debug_picture.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {

constexpr int default_input_side = 640;

void sort_by_score(std::vector<PlateDetection>& detections) {
    bounded_sort(detections, [](const PlateDetection& a, const PlateDetection& b) { return a.score > b.score; });
}

// Clamped in float before the conversion so that NaN or huge values cannot overflow the int;
// the upper limit is taken first.
int clamp_corner(float value, int limit) {
    return static_cast<int>(std::max(0.0f, std::min(static_cast<float>(limit), value)));
}

} // namespace

std::vector<PlateDetection> parse_detection_output_as_n6(const std::vector<float>& values, int img_w, int img_h,
                                                         float thresh) {
    std::vector<PlateDetection> detections;
    if (values.empty() || values.size() % 6 != 0) return detections;
    const cv::Rect scene(0, 0, img_w, img_h);
    for (size_t r = 0; r < values.size() / 6; ++r) {
        const float* c = values.data() + 6 * r;
        // Rows come as (class, score, box) or (box, score, class); told apart row by row.
        const bool score_second = c[1] >= 0.0f && c[1] <= 1.0f && c[2] >= 0.0f && c[3] >= 0.0f;
        const float score = score_second ? c[1] : c[4];
        float xa = score_second ? c[2] : c[0];
        float ya = score_second ? c[3] : c[1];
        float xb = score_second ? c[4] : c[2];
        float yb = score_second ? c[5] : c[3];
        if (score < thresh) continue;
        if (xb <= 2.0f && yb <= 2.0f) {
            xa *= static_cast<float>(img_w);
            xb *= static_cast<float>(img_w);
            ya *= static_cast<float>(img_h);
            yb *= static_cast<float>(img_h);
        }
        const int x1 = clamp_corner(std::floor(std::min(xa, xb)), img_w - 1);
        const int y1 = clamp_corner(std::floor(std::min(ya, yb)), img_h - 1);
        const int x2 = clamp_corner(std::ceil(std::max(xa, xb)), img_w - 1);
        const int y2 = clamp_corner(std::ceil(std::max(ya, yb)), img_h - 1);
        // Corners are inclusive.
        const int width = x2 - x1 + 1;
        const int height = y2 - y1 + 1;
        if (width > 9 && height > 9) detections.push_back(PlateDetection{cv::Rect(x1, y1, width, height) & scene, score});
    }
    sort_by_score(detections);
    return detections;
}

std::vector<PlateDetection> run_plate_det(RknnModel* model, const cv::Mat& scene, float thresh,
                                          const std::string& out_dir) {
    const cv::Rect whole(0, 0, scene.cols, scene.rows);
    if (model == nullptr) return {PlateDetection{whole, 1.0f}};

    const int input_w = model->input_w() > 0 ? model->input_w() : default_input_side;
    const int input_h = model->input_h() > 0 ? model->input_h() : default_input_side;
    const cv::Mat input = bgr_to_rgb_resized(scene, input_w, input_h);
    const std::vector<std::vector<float>> outputs = model->infer_uint8_nhwc(input);

    std::vector<PlateDetection> detections;
    for (const std::vector<float>& output : outputs) {
        const std::vector<PlateDetection> rows = parse_detection_output_as_n6(output, scene.cols, scene.rows, thresh);
        detections.insert(detections.end(), rows.begin(), rows.end());
    }
    sort_by_score(detections);
    if (detections.empty()) {
        std::cerr << "[WARN] plate_det produced no valid final boxes. Fallback to full image ROI.\n";
        detections.push_back(PlateDetection{whole, 0.0f});
    }

    cv::Mat debug = scene.clone();
    for (const PlateDetection& d : detections) cv::rectangle(debug, d.box, cv::Scalar(0, 255, 0), 2, cv::LINE_8, 0);
    write_debug_picture(out_dir + "/plate_det_debug.jpg", debug);
    return detections;
}
