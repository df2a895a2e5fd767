// Times one model through the runtime layer (RknnModel -> C API -> OpenCV dnn)
// and through OpenCV dnn alone, on the same random picture.
#include "npu/rknn_model.h"

#include <opencv2/dnn.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Stats {
    double mean = 0, median = 0, p95 = 0;
};

Stats summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    Stats s;
    for (double v : ms) s.mean += v / ms.size();
    s.median = ms[ms.size() / 2];
    s.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    return s;
}

template <typename F>
double time_once(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: runtime_bench MODEL [runs]\n";
        return 1;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;
    try {
        RknnModel model;
        model.load(path);
        const int w = model.input_w(), h = model.input_h();
        cv::Mat rgb(h, w, CV_8UC3);
        cv::randu(rgb, 0, 256);

        const std::vector<uint8_t> blob = read_file_binary(path);
        cv::dnn::Net net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(blob.data()), blob.size());
        const cv::Mat input = cv::dnn::blobFromImage(rgb, 1.0, cv::Size(), cv::Scalar(), false, false, CV_32F);
        std::vector<cv::Mat> outs;
        const auto run_layer = [&] { model.infer_uint8_nhwc(rgb); };
        const auto run_direct = [&] {
            net.setInput(input);
            net.forward(outs, net.getUnconnectedOutLayersNames());
        };

        // Alternate the two so that both see the same machine load.
        for (int i = 0; i < 3; ++i) run_layer(), run_direct();
        std::vector<double> layer_ms, direct_ms;
        for (int i = 0; i < runs; ++i) {
            layer_ms.push_back(time_once(run_layer));
            direct_ms.push_back(time_once(run_direct));
        }
        const Stats layer = summarise(layer_ms), direct = summarise(direct_ms);

        std::printf("model %s input %dx%d runs %d threads %d\n", path.c_str(), w, h, runs, cv::getNumThreads());
        std::printf("  runtime layer : mean %.3f ms  median %.3f ms  p95 %.3f ms\n", layer.mean, layer.median,
                    layer.p95);
        std::printf("  opencv dnn    : mean %.3f ms  median %.3f ms  p95 %.3f ms\n", direct.mean, direct.median,
                    direct.p95);
        std::printf("  layer overhead: %+.1f %% (median)\n", 100.0 * (layer.median / direct.median - 1.0));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "[ERROR] " << e.what() << "\n";
        return 1;
    }
}
