// Times run_kana_fallback with a given recogniser, split into model runs and the rest.
// Usage: kana_fallback_bench REC_MODEL DICT PLATE_IMAGE OUT_DIR [REPEATS]
#include "driver/text_util.h"
#include "kana/kana_decode.h"
#include "kana/kana_fallback.h"
#include "ocr/text_recognition.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <ctime>
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

// CPU time of the whole process: on a shared machine wall time also counts other jobs.
double cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
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
        double infer_ms = 0.0;
        double infer_cpu_ms = 0.0;
        // The two readings of run_kana_fallback, with only the model run inside the clock.
        auto infer = [&](const cv::Mat& image) {
            const cv::Mat input = make_rec_input_rgb(image);
            const auto start = Clock::now();
            const double cpu_start = cpu_ms();
            std::vector<std::vector<float>> outputs = model.infer_uint8_nhwc(input);
            infer_cpu_ms += cpu_ms() - cpu_start;
            infer_ms += ms_since(start);
            return outputs;
        };
        const auto start = Clock::now();
        const double cpu_start = cpu_ms();
        const std::vector<KanaVariant> variants = make_kana_fallback_variants(rectified, plate);
        const std::string kana = search_kana_variants(
            variants,
            [&](const cv::Mat& image) { return ctc_decode(infer(image).at(0), model.output_attrs().at(0), dict); },
            [&](const cv::Mat& image) {
                return ctc_decode_kana_constrained(infer(image).at(0), model.output_attrs().at(0), dict);
            },
            out_dir);
        const double total_ms = ms_since(start);
        const double total_cpu_ms = cpu_ms() - cpu_start;
        std::cout << "run " << r << ": wall total_ms=" << total_ms << " inference_ms=" << infer_ms
                  << " rest_ms=" << total_ms - infer_ms << " | cpu total_ms=" << total_cpu_ms
                  << " inference_ms=" << infer_cpu_ms << " rest_ms=" << total_cpu_ms - infer_cpu_ms
                  << " | kana=" << kana << "\n";
        const auto plain_start = Clock::now();
        run_kana_fallback(model, rectified, plate, dict, out_dir);
        std::cout << "run " << r << ": run_kana_fallback_ms=" << ms_since(plain_start) << "\n";
    }
    return 0;
}
