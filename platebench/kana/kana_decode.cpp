#include "kana/kana_decode.h"

#include "kana/kana_table.h"
#include "ocr/text_recognition.h"

#include <cstdint>
#include <map>

namespace {

// Below any real logit margin, so the first observed margin always replaces it.
constexpr float kNoScore = -1e30f;

struct AllowedKana {
    std::vector<int32_t> classes;
    std::vector<std::string> strings;
};

AllowedKana allowed_kana_classes(const std::vector<std::string>& dict, int32_t num_classes) {
    AllowedKana allowed;
    for (size_t i = 0; i < dict.size(); ++i) {
        const int64_t cls = static_cast<int64_t>(i) + 1;
        if (cls < num_classes && is_valid_plate_kana_string(dict[i])) {
            allowed.classes.push_back(static_cast<int32_t>(cls));
            allowed.strings.push_back(dict[i]);
        }
    }
    return allowed;
}

// The kana whose best margin over the blank is largest; ties go to the byte-wise first kana.
std::string closest_kana(const float* logits, int32_t steps, int32_t num_classes, const AllowedKana& allowed) {
    std::map<std::string, float> scores;
    for (const std::string& s : allowed.strings) scores.emplace(s, kNoScore);
    for (int32_t t = 0; t < steps; ++t) {
        const float* row = logits + static_cast<int64_t>(t) * num_classes;
        for (size_t j = 0; j < allowed.classes.size(); ++j) {
            const float margin = row[allowed.classes[j]] - row[0];
            float& score = scores[allowed.strings[j]];
            if (margin > score) score = margin;
        }
    }
    std::string best;
    float best_score = kNoScore;
    for (const auto& [kana, score] : scores) {
        if (score > best_score) {
            best = kana;
            best_score = score;
        }
    }
    return best;
}

} // namespace

std::string ctc_decode_kana_constrained(const std::vector<float>& logits, const rknn_tensor_attr& attr,
                                        const std::vector<std::string>& dict) {
    if (logits.empty()) return "";
    const int32_t n_dims = static_cast<int32_t>(attr.n_dims);
    if (n_dims < 2 || n_dims > RKNN_MAX_DIMS) return "";
    const int32_t steps = static_cast<int32_t>(attr.dims[n_dims - 2]);
    const int32_t num_classes = static_cast<int32_t>(attr.dims[n_dims - 1]);
    if (steps < 1 || num_classes < 1) return "";
    if (static_cast<int64_t>(logits.size()) < static_cast<int64_t>(steps) * num_classes) return "";

    const AllowedKana allowed = allowed_kana_classes(dict, num_classes);
    if (allowed.classes.empty()) return "";

    std::string decoded;
    int32_t prev = -1;
    for (int32_t t = 0; t < steps; ++t) {
        const float* row = logits.data() + static_cast<int64_t>(t) * num_classes;
        int32_t best = 0;
        float best_value = row[0];
        size_t best_index = 0;
        for (size_t j = 0; j < allowed.classes.size(); ++j) {
            if (row[allowed.classes[j]] > best_value) {
                best = allowed.classes[j];
                best_value = row[best];
                best_index = j;
            }
        }
        if (best != 0 && best != prev) decoded += allowed.strings[best_index];
        prev = best;
    }

    // Several kana in one reading: the table's priority decides, not the time order.
    const std::string kana = find_hiragana_kana(decoded);
    if (!kana.empty()) return kana;
    return closest_kana(logits.data(), steps, num_classes, allowed);
}

std::string run_ppocr_rec_kana_constrained(RknnModel& model, const cv::Mat& crop,
                                           const std::vector<std::string>& dict) {
    const cv::Mat input = make_rec_input_rgb(crop);
    const std::vector<std::vector<float>> outputs = model.infer_uint8_nhwc(input);
    if (outputs.empty() || outputs.front().empty()) return "";
    return ctc_decode_kana_constrained(outputs.front(), model.output_attrs().at(0), dict);
}
