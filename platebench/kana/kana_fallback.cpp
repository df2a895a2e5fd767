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

using VariantSink = std::function<void(KanaVariant&&)>;

// Hands each variant on as soon as it is made: the enlarged ones of a large
// ROI take hundreds of megabytes each, so they are never all held at once.
void emit_area_variants(const std::string& area, const cv::Mat& crop, const VariantSink& sink) {
    const auto emit = [&](const char* suffix, const std::function<cv::Mat()>& make) {
        cv::Mat image;
        {
            ProfileScope timed("image_prep");
            image = make();
        }
        sink({area + suffix, std::move(image)});
    };
    cv::Mat gray, gray_bgr, clahe_bgr;
    {
        ProfileScope timed("image_prep");
        cv::cvtColor(crop, gray, cv::COLOR_BGR2GRAY);
        gray_bgr = make_gray_bgr(crop);
        clahe_bgr = make_clahe_bgr(crop);
    }
    emit("_original", [&] { return crop; });
    emit("_gray", [&] { return gray_bgr; });
    emit("_clahe", [&] { return clahe_bgr; });
    emit("_sharpen", [&] { return make_sharpen_bgr(crop); });
    emit("_otsu", [&] { return otsu_bgr(gray, cv::THRESH_BINARY); });
    emit("_otsu_inv", [&] { return otsu_bgr(gray, cv::THRESH_BINARY_INV); });
    emit("_up4x", [&] { return scale_cubic(crop, 4.0); });
    emit("_gray_up5x", [&] { return scale_cubic(gray_bgr, 5.0); });
    emit("_gray_up8x", [&] { return scale_cubic(gray_bgr, 8.0); });
    emit("_clahe_up5x", [&] { return scale_cubic(clahe_bgr, 5.0); });
}

void emit_kana_fallback_variants(const cv::Mat& rectified, const cv::Mat& roi, const VariantSink& sink) {
    for (const KanaArea& area : kKanaAreas) {
        const cv::Mat& source = area.from_roi ? roi : rectified;
        emit_area_variants(area.name, crop_ratio(source, area.left, area.top, area.right, area.bottom), sink);
    }
}

struct KanaVotes {
    VoteTable direct;
    VoteTable constrained;
};

void read_kana_variant(const KanaVariant& variant, const KanaReader& read_text,
                       const KanaReader& read_kana_constrained, const std::string& case_dir, KanaVotes& votes) {
    write_debug_picture(case_dir + "/kana_fallback_" + variant.name + ".jpg", variant.image);
    const std::string text = read_text(variant.image);
    const std::string kana = find_kana_or_visual_confusion(text);
    const std::string kana_constrained = read_kana_constrained(variant.image);
    std::cerr << "[KANA_FALLBACK] " << variant.name << " text=" << text << " kana=" << kana
              << " kana_constrained=" << kana_constrained << "\n";
    const int32_t w = kana_fallback_weight(variant.name);
    // The bonus puts any plain reading above every constrained guess.
    if (!kana.empty()) votes.direct[kana] += w + 10;
    if (!kana_constrained.empty()) votes.constrained[kana_constrained] += w;
}

std::string kana_vote_result(const KanaVotes& votes) {
    const std::string direct = vote_winner(votes.direct);
    if (!direct.empty()) {
        std::cerr << "[KANA_FALLBACK_RESULT] mode=direct best=" << direct << "\n";
        return direct;
    }
    const std::string constrained = vote_winner(votes.constrained);
    if (!constrained.empty()) std::cerr << "[KANA_FALLBACK_RESULT] mode=constrained best=" << constrained << "\n";
    return constrained;
}

} // namespace

std::vector<KanaVariant> make_kana_fallback_variants(const cv::Mat& rectified, const cv::Mat& roi) {
    std::vector<KanaVariant> variants;
    variants.reserve(100);
    emit_kana_fallback_variants(rectified, roi, [&](KanaVariant&& v) { variants.push_back(std::move(v)); });
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
    KanaVotes votes;
    for (const KanaVariant& variant : variants)
        read_kana_variant(variant, read_text, read_kana_constrained, case_dir, votes);
    return kana_vote_result(votes);
}

std::string run_kana_fallback(RknnModel& model, const cv::Mat& rectified, const cv::Mat& roi,
                              const std::vector<std::string>& dict, const std::string& case_dir) {
    const KanaReader read_text = [&](const cv::Mat& image) { return run_ppocr_rec(model, image, dict); };
    const KanaReader read_constrained = [&](const cv::Mat& image) {
        return run_ppocr_rec_kana_constrained(model, image, dict);
    };
    // Variant by variant, so the search never holds all hundred pictures.
    KanaVotes votes;
    emit_kana_fallback_variants(rectified, roi, [&](KanaVariant&& variant) {
        read_kana_variant(variant, read_text, read_constrained, case_dir, votes);
    });
    return kana_vote_result(votes);
}
