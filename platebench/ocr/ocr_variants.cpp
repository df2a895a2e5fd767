#include "ocr/ocr_variants.h"

#include "driver/debug_picture.h"
#include "driver/text_util.h"
#include "ocr/image_helpers.h"
#include "ocr/text_detection.h"
#include "ocr/text_recognition.h"

#include <opencv2/imgproc.hpp>

#include <utility>

namespace {

constexpr float det_thresh = 0.3f;

// Fixed plate areas as fractions (left, top, right, bottom): the upper row holds region and class number,
// the lower row kana and serial; the serial area leaves out the kana at the lower left.
struct FixedArea {
    const char* tag;
    float left, top, right, bottom;
};
constexpr FixedArea fixed_areas[] = {
    {"_upper_row", 0.0f, 0.0f, 1.0f, 0.5f},
    {"_lower_row", 0.0f, 0.38f, 1.0f, 1.0f},
    {"_serial_area", 0.28f, 0.38f, 1.0f, 1.0f},
};

} // namespace

void add_text_if_valid(std::vector<OcrText>& list, const std::string& source, const std::string& text) {
    std::string trimmed = trim(text);
    if (!trimmed.empty()) list.push_back(OcrText{source, std::move(trimmed)});
}

void read_detected_boxes(RknnModel& rec_model, const cv::Mat& picture, const std::vector<TextBox>& boxes,
                         const std::vector<std::string>& dict, const std::string& case_dir, const std::string& name,
                         std::vector<OcrText>& texts) {
    const cv::Rect whole(0, 0, picture.cols, picture.rows);
    int k = 0;
    for (const TextBox& box : boxes) {
        const cv::Rect inside = box.rect & whole;
        if (inside.width <= 0 || inside.height <= 0) continue;
        const cv::Mat crop = picture(inside).clone();
        const std::string number = std::to_string(k);
        write_debug_picture(case_dir + "/ocr_" + name + "_crop_" + number + ".jpg", crop);
        add_text_if_valid(texts, name + "_det_crop_" + number, run_ppocr_rec(rec_model, crop, dict));
        ++k;
    }
}

std::vector<OcrText> run_whole_plate_ocr_variants(RknnModel& det_model, RknnModel& rec_model, const cv::Mat& plate,
                                                  const std::vector<std::string>& dict, const std::string& case_dir) {
    cv::Mat up2x;
    cv::resize(plate, up2x, cv::Size(), 2.0, 2.0, cv::INTER_CUBIC);
    const std::pair<const char*, cv::Mat> variants[] = {
        {"original", plate},
        {"gray", make_gray_bgr(plate)},
        {"clahe", make_clahe_bgr(plate)},
        {"sharpen", make_sharpen_bgr(plate)},
        {"up2x", up2x},
    };

    std::vector<OcrText> texts;
    for (const auto& [name_chars, picture] : variants) {
        const std::string name = name_chars;
        const std::string variant_prefix = case_dir + "/ocr_variant_" + name;
        write_debug_picture(variant_prefix + ".jpg", picture);
        const std::vector<TextBox> boxes = run_ppocr_det_boxes(det_model, picture, variant_prefix, det_thresh);
        read_detected_boxes(rec_model, picture, boxes, dict, case_dir, name, texts);

        add_text_if_valid(texts, name + "_full", run_ppocr_rec(rec_model, picture, dict));
        for (const FixedArea& area : fixed_areas) {
            const cv::Mat crop = crop_ratio(picture, area.left, area.top, area.right, area.bottom);
            add_text_if_valid(texts, name + area.tag, run_ppocr_rec(rec_model, crop, dict));
        }
    }
    return texts;
}
