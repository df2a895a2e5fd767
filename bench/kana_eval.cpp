// Forces the kana search on every plate of a case list, as if the reader had
// found no kana, and counts how often it returns the expected kana.
// Usage: kana_eval CASES_CSV CORNER_MODEL REC_MODEL DICT SCRATCH_DIR
// The plate pictures of the list are ROIs; the expected text's third field is the kana.
#include "driver/case_list.h"
#include "driver/text_util.h"
#include "kana/kana_fallback.h"
#include "locate/plate_corner.h"
#include "npu/rknn_model.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string expected_kana(const std::string& expected) {
    std::istringstream fields(expected);
    std::string field;
    for (int k = 0; k < 3 && fields >> field; ++k) {
        if (k == 2) return field;
    }
    return "";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s CASES_CSV CORNER_MODEL REC_MODEL DICT SCRATCH_DIR\n", argv[0]);
        return 1;
    }
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    try {
        const std::vector<CaseItem> cases = read_input_list(argv[1]);
        RknnModel corner_model;
        corner_model.load(argv[2]);
        RknnModel rec_model;
        rec_model.load(argv[3]);
        const std::vector<std::string> dict = read_trimmed_lines(argv[4]);
        const std::string scratch = argv[5];
        ensure_dir(scratch);

        int tried = 0;
        int found = 0;
        int empty = 0;
        for (const CaseItem& item : cases) {
            const std::string want = expected_kana(item.expected);
            if (want.empty()) continue;
            const cv::Mat roi = cv::imread(item.image_path, cv::IMREAD_COLOR);
            if (roi.empty()) {
                std::fprintf(stderr, "cannot read %s\n", item.image_path.c_str());
                return 1;
            }
            const cv::Mat rectified = warp_plate(roi, run_plate_corner(corner_model, roi), 320, 96);
            const std::string got = run_kana_fallback(rec_model, rectified, roi, dict, scratch);
            ++tried;
            found += got == want ? 1 : 0;
            empty += got.empty() ? 1 : 0;
            std::cout << (got == want ? "ok   " : "MISS ") << item.image_path << " want " << want << " got "
                      << (got.empty() ? "(none)" : got) << "\n";
        }
        std::printf("kana fallback: %d/%d plates give the expected kana (%.1f %%), %d give none\n", found, tried,
                    tried ? 100.0 * found / tried : 0.0, empty);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kana_eval: %s\n", e.what());
        return 1;
    }
    return 0;
}
