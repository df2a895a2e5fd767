#pragma once

#include "rknn_api.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// The whole file, or its first max_bytes + 1 bytes when it is longer;
// throws "failed to open rknn model: " + path.
std::vector<uint8_t> ReadFile(const std::string& path, uint64_t max_bytes = UINT64_MAX);

// Runs one BGR picture through a compiled model, feeding input 0 in the
// model's own layout. Failures are a false result (and, for the runtime's
// init, inputs_set and run calls, a line on standard error).
class RKNNModel {
public:
    RKNNModel() = default;
    ~RKNNModel();
    RKNNModel(const RKNNModel&) = delete;
    RKNNModel& operator=(const RKNNModel&) = delete;

    // Prints "Loaded RKNN: ..." on standard output when the model is ready.
    // An unopenable file throws (see ReadFile). Called once per object.
    bool Load(const std::string& path);

    // Stretches the picture to w by h, converts it to RGB and runs it, as
    // bytes or as mean/std-normalised floats. On success outputs holds one
    // vector per output tensor.
    bool RunImage(const cv::Mat& picture, std::vector<std::vector<float>>& outputs, int w, int h, bool float_input);

    rknn_context ctx = 0;
    int num_inputs = 0;
    int num_outputs = 0;
    // Size of input 0 as the model declares it; RunImage uses its caller's.
    int width = 0;
    int height = 0;
    int channels = 3;
    bool nhwc = true; // input 0 interleaved rather than planar
};

} // namespace orvex
