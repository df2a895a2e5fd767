// The runtime layer on any model bytes: initialise, describe, run, destroy.
#include "onnx_info.h"
#include "rknn_api.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int query_unknown_command(rknn_context ctx, void* info, uint32_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A model whose declared input is large spends seconds in its trial run at
    // initialisation; such inputs test OpenCV's speed, not our code.
    npu::OnnxGraphInfo info;
    if (npu::parse_onnx_info(data, size, info)) {
        for (const npu::OnnxTensorInfo& t : info.inputs) {
            int64_t elems = 1;
            for (int64_t d : t.dims) {
                if (d > 0) elems *= d < (1 << 20) ? d : (1 << 20);
                if (elems > (1 << 20)) return 0;
            }
        }
    }
    std::vector<uint8_t> blob(data, data + size);
    rknn_context ctx = 0;
    if (rknn_init(&ctx, blob.data(), static_cast<uint32_t>(blob.size()), 0, nullptr) != RKNN_SUCC) {
        if (ctx != 0) std::abort();
        return 0;
    }
    // The runtime keeps no pointer into the caller's bytes.
    std::memset(blob.data(), 0xA5, blob.size());

    rknn_input_output_num num;
    std::memset(&num, 0, sizeof num);
    if (rknn_query(ctx, RKNN_QUERY_IN_OUT_NUM, &num, sizeof num) != RKNN_SUCC) std::abort();
    rknn_tensor_attr in_attr;
    std::memset(&in_attr, 0, sizeof in_attr);
    if (rknn_query(ctx, RKNN_QUERY_INPUT_ATTR, &in_attr, sizeof in_attr) != RKNN_SUCC) std::abort();
    if (query_unknown_command(ctx, &in_attr, sizeof in_attr) == RKNN_SUCC) std::abort();
    std::vector<rknn_tensor_attr> out_attrs(num.n_output);
    for (uint32_t i = 0; i < num.n_output; ++i) {
        std::memset(&out_attrs[i], 0, sizeof out_attrs[i]);
        out_attrs[i].index = i;
        if (rknn_query(ctx, RKNN_QUERY_OUTPUT_ATTR, &out_attrs[i], sizeof out_attrs[i]) != RKNN_SUCC) std::abort();
    }

    // One run with a zero picture in the declared size; a small model only, to keep the fuzzer fast.
    if (in_attr.n_elems > 0 && in_attr.n_elems <= (1u << 20)) {
        std::vector<uint8_t> pixels(in_attr.n_elems, 0);
        rknn_input input;
        std::memset(&input, 0, sizeof input);
        input.buf = pixels.data();
        input.size = static_cast<uint32_t>(pixels.size());
        input.type = RKNN_TENSOR_UINT8;
        input.fmt = RKNN_TENSOR_NCHW;
        if (rknn_inputs_set(ctx, 1, &input) == RKNN_SUCC && rknn_run(ctx, nullptr) == RKNN_SUCC) {
            std::vector<rknn_output> outs(num.n_output);
            for (uint32_t i = 0; i < num.n_output; ++i) {
                std::memset(&outs[i], 0, sizeof outs[i]);
                outs[i].index = i;
                outs[i].want_float = 1;
            }
            if (num.n_output > 0 && rknn_outputs_get(ctx, num.n_output, outs.data(), nullptr) == RKNN_SUCC) {
                // Every byte handed out is readable.
                volatile uint8_t sink = 0;
                for (const rknn_output& o : outs)
                    for (uint32_t b = 0; b < o.size; ++b) sink = sink ^ static_cast<const uint8_t*>(o.buf)[b];
                rknn_outputs_release(ctx, num.n_output, outs.data());
            }
        }
    }
    if (rknn_destroy(ctx) != RKNN_SUCC) std::abort();
    return 0;
}
