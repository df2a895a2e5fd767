// Search for a missing kana over 100 kana-area pictures.
#pragma once

#include "npu/rknn_model.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

std::string run_kana_fallback(RknnModel& model, const cv::Mat& rectified, const cv::Mat& roi,
                              const std::vector<std::string>& dict, const std::string& case_dir);

// One enhanced picture of one kana area, named area + variant suffix.
struct KanaVariant {
    std::string name;
    cv::Mat image;
};

// Ten areas (five of the rectified plate, five of the ROI), ten variants each, area by area.
std::vector<KanaVariant> make_kana_fallback_variants(const cv::Mat& rectified, const cv::Mat& roi);

// Narrow areas, the ROI and the enlarged grey variants read the kana best.
int32_t kana_fallback_weight(const std::string& name);

using KanaReader = std::function<std::string(const cv::Mat&)>;

// Reads every variant with both readers, logs and votes; a kana found in the plain
// reading always beats one that only the constrained reading produced.
std::string search_kana_variants(const std::vector<KanaVariant>& variants, const KanaReader& read_text,
                                 const KanaReader& read_kana_constrained, const std::string& case_dir);
