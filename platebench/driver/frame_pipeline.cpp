#include "driver/frame_pipeline.h"

#include "driver/debug_picture.h"
#include "driver/text_util.h"
#include "kana/kana_fallback.h"
#include "locate/plate_corner.h"
#include "locate/plate_det.h"
#include "ocr/ocr_variants.h"
#include "parse/plate_parser.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/stat.h>

#include <cmath>
#include <iostream>
#include <stdexcept>

namespace {

// Only regular files are opened: a FIFO or a terminal would block the read.
// A header that declares more pixels than the decoder accepts makes OpenCV
// throw; that picture is as unreadable as a broken one.
cv::Mat read_scene(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return cv::Mat();
    try {
        return cv::imread(path, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

} // namespace

std::string plate_status(const std::string& expected, const std::string& plate_text) {
    if (expected.empty()) return "unknown";
    return normalize_plate_text(expected) == normalize_plate_text(plate_text) ? "correct" : "check";
}

cv::Mat draw_corner_debug(const cv::Mat& roi, const std::vector<cv::Point2f>& corners) {
    cv::Mat debug = roi.clone();
    const auto to_pixel = [](const cv::Point2f& p) {
        return cv::Point(static_cast<int>(std::lrintf(p.x)), static_cast<int>(std::lrintf(p.y)));
    };
    for (size_t k = 0; k < 4 && k < corners.size(); ++k) {
        const cv::Point p = to_pixel(corners[k]);
        cv::circle(debug, p, 4, cv::Scalar(0, 0, 255), cv::FILLED, cv::LINE_8);
        cv::line(debug, p, to_pixel(corners[(k + 1) % 4]), cv::Scalar(0, 255, 0), 2, cv::LINE_8);
    }
    return debug;
}

FrameOutcome process_case(const CaseItem& item, size_t index, size_t total, const std::string& case_dir,
                          const Args& args, bool use_plate_det, PlateModels& models,
                          const std::vector<std::string>& region_words, const std::vector<std::string>& dict) {
    std::cerr << "========== CASE " << (index + 1) << "/" << total << ": " << item.image_path
              << " group=" << item.group_id << " ==========\n";

    const cv::Mat scene = read_scene(item.image_path);
    if (scene.empty()) throw std::runtime_error("failed to read image: " + item.image_path);

    const std::vector<PlateDetection> detections =
        run_plate_det(use_plate_det ? &models.plate_det : nullptr, scene, args.plate_det_thresh, case_dir);
    const cv::Rect whole(0, 0, scene.cols, scene.rows);
    const cv::Rect region = (detections.empty() ? whole : detections.front().box) & whole;
    const cv::Mat roi = scene(region).clone();
    write_debug_picture(case_dir + "/plate_roi.jpg", roi);

    const std::vector<cv::Point2f> corners = run_plate_corner(models.plate_corner, roi);
    write_debug_picture(case_dir + "/corner_debug.jpg", draw_corner_debug(roi, corners));

    const cv::Mat rectified = warp_plate(roi, corners, 320, 96);
    write_debug_picture(case_dir + "/rectified_plate.jpg", rectified);

    FrameOutcome outcome;
    FrameResult& frame = outcome.frame;
    frame.image_path = item.image_path;
    frame.expected = item.expected;
    frame.group_id = item.group_id;
    frame.texts = run_whole_plate_ocr_variants(models.text_det, models.text_rec, rectified, dict, case_dir);
    frame.plate = parse_jp_plate(frame.texts, region_words);

    if (frame.plate.kana.empty()) {
        const std::string kana = run_kana_fallback(models.text_rec, rectified, roi, dict, case_dir);
        if (!kana.empty()) {
            frame.plate.kana = kana;
            frame.plate.plate_text = compose_plate_text(frame.plate);
        }
    }
    outcome.status = plate_status(item.expected, frame.plate.plate_text);
    return outcome;
}
