// Recogniser outputs of any shape for the CTC decoders: a tensor description,
// a dictionary that mixes plate kana with arbitrary strings, and the floats.
#pragma once

#include "fuzz_bytes.h"
#include "kana/kana_table.h"
#include "npu/rknn_model.h"

#include <cstring>

struct RecOutput {
    rknn_tensor_attr attr;
    std::vector<std::string> dict;
    std::vector<float> logits;
};

inline RecOutput take_rec_output(FuzzBytes& in) {
    RecOutput r;
    std::memset(&r.attr, 0, sizeof r.attr);
    // Up to 20 dimensions: more than the record holds, to reach that guard too.
    r.attr.n_dims = static_cast<uint32_t>(in.take_in(0, 20));
    for (uint32_t d = 0; d < RKNN_MAX_DIMS; ++d) {
        // Mostly small sizes that can match the floats, sometimes any 32-bit value.
        const uint8_t pick = in.take<uint8_t>();
        r.attr.dims[d] = pick < 224 ? pick % 48 : in.take<uint32_t>();
    }
    const int64_t entries = in.take_in(0, 64);
    for (int64_t i = 0; i < entries; ++i) {
        const uint8_t pick = in.take<uint8_t>();
        if (pick < 128) r.dict.push_back(kana_list()[pick % kana_list().size()]);
        else r.dict.push_back(in.take_string(8));
    }
    r.logits = in.take_floats(48 * 48 * 4);
    return r;
}
