#include "fake_rknn.h"

#include <cstring>

namespace fake_rknn {

Script& script() {
    static Script s;
    return s;
}

void reset() { script() = Script(); }

} // namespace fake_rknn

using fake_rknn::script;

extern "C" {

int rknn_init(rknn_context* context, void*, uint32_t, uint32_t, rknn_init_extend*) {
    *context = script().init_ret == 0 ? 42 : 0;
    return script().init_ret;
}

int rknn_destroy(rknn_context) {
    ++script().destroyed;
    return 0;
}

int rknn_query(rknn_context, rknn_query_cmd cmd, void* info, uint32_t) {
    if (cmd == RKNN_QUERY_IN_OUT_NUM) {
        std::memcpy(info, &script().io_num, sizeof script().io_num);
        return script().query_num_ret;
    }
    std::memcpy(info, &script().input, sizeof script().input);
    return script().query_input_ret;
}

int rknn_inputs_set(rknn_context, uint32_t, rknn_input inputs[]) {
    script().sent = inputs[0];
    const auto* p = static_cast<const uint8_t*>(inputs[0].buf);
    script().sent_bytes.assign(p, p + inputs[0].size);
    return script().inputs_set_ret;
}

int rknn_run(rknn_context, rknn_run_extend*) { return script().run_ret; }

int rknn_outputs_get(rknn_context, uint32_t n_outputs, rknn_output outputs[], rknn_output_extend*) {
    for (uint32_t i = 0; i < n_outputs; ++i) {
        script().requested_indexes.push_back(outputs[i].index);
        script().requested_want_float.push_back(outputs[i].want_float);
        if (script().outputs_get_ret != 0 || i >= script().outputs.size()) continue;
        outputs[i].buf = script().outputs[i].data();
        outputs[i].size = i < script().output_sizes.size()
                              ? script().output_sizes[i]
                              : static_cast<uint32_t>(script().outputs[i].size() * sizeof(float));
    }
    return script().outputs_get_ret;
}

int rknn_outputs_release(rknn_context, uint32_t, rknn_output[]) { return 0; }

} // extern "C"
