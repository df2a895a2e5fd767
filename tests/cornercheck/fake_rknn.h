#pragma once

// A scripted stand-in for the NPU runtime's C API: each call returns what the
// script says and records what it was given.
#include "rknn_api.h"

#include <cstdint>
#include <vector>

namespace fake_rknn {

struct Script {
    int init_ret = 0;
    int query_num_ret = 0;
    int query_input_ret = 0;
    int inputs_set_ret = 0;
    int run_ret = 0;
    int outputs_get_ret = 0;
    rknn_input_output_num io_num{1, 1};
    rknn_tensor_attr input{};
    // Per output record: the floats handed out and the byte size reported.
    std::vector<std::vector<float>> outputs;
    std::vector<uint32_t> output_sizes;

    // What the caller passed.
    rknn_input sent{};
    std::vector<uint8_t> sent_bytes;
    std::vector<uint32_t> requested_indexes;
    std::vector<uint8_t> requested_want_float;
    int destroyed = 0;
};

// The script of the next calls; reset() starts a fresh one.
Script& script();
void reset();

} // namespace fake_rknn
