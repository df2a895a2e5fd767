#include "kana/kana_fallback.h"

#include "driver/debug_picture.h"
#include "driver/profile.h"
#include "driver/text_util.h"
#include "driver/vote.h"
#include "kana/kana_decode.h"
#include "kana/kana_table.h"
#include "ocr/image_helpers.h"
#include "ocr/text_recognition.h"

#include <opencv2/imgproc.hpp>

#include <iostream>

namespace {

struct KanaArea {
    const char* name;
    bool from_roi;
    float left, top, right, bottom;
};

// The kana sits at the left end of the lower row; the areas differ in how much
// of the serial and of the row's edges they take in.
const KanaArea kKanaAreas[] = {
    {"rect_kana_left_lower_wide", false, 0.0f, 0.35f, 0.45f, 1.0f},
    {"roi_kana_left_lower_wide", true, 0.0f, 0.35f, 0.45f, 1.0f},
    {"rect_kana_narrow_00_18", false, 0.0f, 0.35f, 0.18f, 0.98f},
    {"rect_kana_narrow_00_22", false, 0.0f, 0.35f, 0.22f, 0.98f},
    {"rect_kana_narrow_02_26", false, 0.02f, 0.38f, 0.26f, 0.98f},
    {"rect_kana_narrow_low", false, 0.0f, 0.45f, 0.28f, 1.0f},
    {"roi_kana_narrow_00_18", true, 0.0f, 0.35f, 0.18f, 0.98f},
    {"roi_kana_narrow_00_22", true, 0.0f, 0.35f, 0.22f, 0.98f},
    {"roi_kana_narrow_02_26", true, 0.02f, 0.38f, 0.26f, 0.98f},
    {"roi_kana_narrow_low", true, 0.0f, 0.45f, 0.28f, 1.0f},
};

cv::Mat scale_cubic(const cv::Mat& image, double factor) {
    cv::Mat out;
    cv::resize(image, out, cv::Size(), factor, factor, cv::INTER_CUBIC);
    return out;
}

cv::Mat otsu_bgr(const cv::Mat& gray, int type) {
    cv::Mat binary, out;
    cv::threshold(gray, binary, 0, 255, type | cv::THRESH_OTSU);
    cv::cvtColor(binary, out, cv::COLOR_GRAY2BGR);
    return out;
}

void add_area_variants(std::vector<KanaVariant>& variants, const std::string& area, const cv::Mat& crop) {
    cv::Mat gray;
    cv::cvtColor(crop, gray, cv::COLOR_BGR2GRAY);
    const cv::Mat gray_bgr = make_gray_bgr(crop);
    const cv::Mat clahe_bgr = make_clahe_bgr(crop);
    variants.push_back({area + "_original", crop});
    variants.push_back({area + "_gray", gray_bgr});
    variants.push_back({area + "_clahe", clahe_bgr});
    variants.push_back({area + "_sharpen", make_sharpen_bgr(crop)});
    variants.push_back({area + "_otsu", otsu_bgr(gray, cv::THRESH_BINARY)});
    variants.push_back({area + "_otsu_inv", otsu_bgr(gray, cv::THRESH_BINARY_INV)});
    variants.push_back({area + "_up4x", scale_cubic(crop, 4.0)});
    variants.push_back({area + "_gray_up5x", scale_cubic(gray_bgr, 5.0)});
    variants.push_back({area + "_gray_up8x", scale_cubic(gray_bgr, 8.0)});
    variants.push_back({area + "_clahe_up5x", scale_cubic(clahe_bgr, 5.0)});
}

} // namespace

std::vector<KanaVariant> make_kana_fallback_variants(const cv::Mat& rectified, const cv::Mat& roi) {
    ProfileScope timed("image_prep");
    std::vector<KanaVariant> variants;
    variants.reserve(100);
    for (const KanaArea& area : kKanaAreas) {
        const cv::Mat& source = area.from_roi ? roi : rectified;
        add_area_variants(variants, area.name, crop_ratio(source, area.left, area.top, area.right, area.bottom));
    }
    return variants;
}

int32_t kana_fallback_weight(const std::string& name) {
    int32_t w = 1;
    if (contains(name, "roi_")) w += 1;
    if (contains(name, "narrow")) w += 3;
    if (contains(name, "gray_up5x")) w += 2;
    if (contains(name, "gray_up8x")) w += 2;
    if (contains(name, "clahe_up5x")) w += 1;
    if (contains(name, "otsu")) w += 1;
    return w;
}

std::string search_kana_variants(const std::vector<KanaVariant>& variants, const KanaReader& read_text,
                                 const KanaReader& read_kana_constrained, const std::string& case_dir) {
    VoteTable direct_votes;
    VoteTable constrained_votes;
    for (const KanaVariant& variant : variants) {
        write_debug_picture(case_dir + "/kana_fallback_" + variant.name + ".jpg", variant.image);
        const std::string text = read_text(variant.image);
        const std::string kana = find_kana_or_visual_confusion(text);
        const std::string kana_constrained = read_kana_constrained(variant.image);
        std::cerr << "[KANA_FALLBACK] " << variant.name << " text=" << text << " kana=" << kana
                  << " kana_constrained=" << kana_constrained << "\n";
        const int32_t w = kana_fallback_weight(variant.name);
        // The bonus puts any plain reading above every constrained guess.
        if (!kana.empty()) direct_votes[kana] += w + 10;
        if (!kana_constrained.empty()) constrained_votes[kana_constrained] += w;
    }

    const std::string direct = vote_winner(direct_votes);
    if (!direct.empty()) {
        std::cerr << "[KANA_FALLBACK_RESULT] mode=direct best=" << direct << "\n";
        return direct;
    }
    const std::string constrained = vote_winner(constrained_votes);
    if (!constrained.empty()) std::cerr << "[KANA_FALLBACK_RESULT] mode=constrained best=" << constrained << "\n";
    return constrained;
}

std::string run_kana_fallback(RknnModel& model, const cv::Mat& rectified, const cv::Mat& roi,
                              const std::vector<std::string>& dict, const std::string& case_dir) {
    const std::vector<KanaVariant> variants = make_kana_fallback_variants(rectified, roi);
    return search_kana_variants(
        variants, [&](const cv::Mat& image) { return run_ppocr_rec(model, image, dict); },
        [&](const cv::Mat& image) { return run_ppocr_rec_kana_constrained(model, image, dict); }, case_dir);
}
