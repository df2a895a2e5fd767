// Times run_kana_fallback with a real recogniser, split into model runs and the rest.
// Usage: kana_fallback_bench REC_MODEL DICT PLATE_IMAGE OUT_DIR [REPEATS]
#include "driver/text_util.h"
#include "kana/kana_decode.h"
#include "kana/kana_fallback.h"
#include "ocr/text_recognition.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!trim(line).empty()) lines.push_back(trim(line));
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s REC_MODEL DICT PLATE_IMAGE OUT_DIR [REPEATS]\n", argv[0]);
        return 1;
    }
    cv::setNumThreads(1);
    RknnModel model;
    model.load(argv[1]);
    const std::vector<std::string> dict = read_lines(argv[2]);
    cv::Mat plate = cv::imread(argv[3], cv::IMREAD_COLOR);
    if (plate.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[3]);
        return 1;
    }
    cv::Mat rectified;
    cv::resize(plate, rectified, cv::Size(320, 96));
    const std::string out_dir = argv[4];
    ensure_dir(out_dir);
    const int repeats = argc > 5 ? std::atoi(argv[5]) : 3;

    for (int r = 0; r < repeats; ++r) {
        double model_ms = 0.0;
        auto timed = [&](auto read) {
            return [&model_ms, read](const cv::Mat& image) {
                const auto start = Clock::now();
                std::string s = read(image);
                model_ms += ms_since(start);
                return s;
            };
        };
        const auto start = Clock::now();
        const std::vector<KanaVariant> variants = make_kana_fallback_variants(rectified, plate);
        const std::string kana = search_kana_variants(
            variants, timed([&](const cv::Mat& image) { return run_ppocr_rec(model, image, dict); }),
            timed([&](const cv::Mat& image) { return run_ppocr_rec_kana_constrained(model, image, dict); }), out_dir);
        const double total_ms = ms_since(start);
        std::cout << "run " << r << ": total_ms=" << total_ms << " recogniser_ms=" << model_ms
                  << " rest_ms=" << total_ms - model_ms << " kana=" << kana << "\n";
    }
    return 0;
}
