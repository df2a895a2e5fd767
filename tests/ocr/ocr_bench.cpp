// Times run_whole_plate_ocr_variants with the fixture models and, separately, the model runs one call makes.
// Usage: ocr_bench [repeats]
#include "ocr/ocr_variants.h"
#include "ocr/text_recognition.h"

#include <opencv2/core.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// Wall and process CPU time: on a shared machine the two differ a lot.
struct Stopwatch {
    Clock::time_point wall = Clock::now();
    std::clock_t cpu = std::clock();
    double wall_ms() const { return std::chrono::duration<double, std::milli>(Clock::now() - wall).count(); }
    double cpu_ms() const { return 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

void bench(const std::string& det_name, int repeats) {
    const std::string fixtures = FIXTURE_DIR;
    RknnModel det, rec;
    det.load(fixtures + "/" + det_name);
    rec.load(fixtures + "/rec_3d.onnx");
    const std::vector<std::string> dict = {"A", "1", " "};
    cv::Mat plate(96, 320, CV_8UC3);
    cv::randu(plate, 0, 256);
    const std::string dir = (std::filesystem::temp_directory_path() / ("ocr_bench_" + std::to_string(::getpid()))).string();

    // Every call writes into a fresh directory, as each case does; clearing it is not timed.
    auto fresh_dir = [&dir] {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    };
    fresh_dir();
    size_t readings = run_whole_plate_ocr_variants(det, rec, plate, dict, dir).size(); // warm-up
    double call_wall = 0.0, call_cpu = 0.0;
    for (int i = 0; i < repeats; ++i) {
        fresh_dir();
        const Stopwatch call;
        readings = run_whole_plate_ocr_variants(det, rec, plate, dict, dir).size();
        call_wall += call.wall_ms() / repeats;
        call_cpu += call.cpu_ms() / repeats;
    }

    // The model runs of one call: five detections at 640 x 640 and one recognition per reading.
    const cv::Mat det_input(640, 640, CV_8UC3, cv::Scalar(128, 128, 128));
    const cv::Mat rec_input = make_rec_input_rgb(plate);
    const Stopwatch runs;
    for (int i = 0; i < repeats; ++i) {
        for (int v = 0; v < 5; ++v) det.infer_uint8_nhwc(det_input);
        for (size_t r = 0; r < readings; ++r) rec.infer_uint8_nhwc(rec_input);
    }
    const double runs_wall = runs.wall_ms() / repeats, runs_cpu = runs.cpu_ms() / repeats;
    std::filesystem::remove_all(dir);
    std::cout << det_name << ": " << readings << " readings; per call " << call_wall << " ms wall, " << call_cpu
              << " ms CPU; its model runs alone " << runs_wall << " ms wall, " << runs_cpu << " ms CPU ("
              << 100.0 * runs_cpu / call_cpu << "% of the call's CPU)\n";
}

} // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    cv::setNumThreads(1);
    bench("det_none.onnx", repeats);
    bench("det_sixteen.onnx", repeats);
    bench("det_raw.onnx", repeats); // a full 640 x 640 map of raw scores
    return 0;
}
