// CPU implementation of the NPU runtime's C API: the model blob is an ONNX
// model, run with OpenCV's dnn module. No C++ exception leaves this file.
#include "rknn_api.h"

#include "onnx_info.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr int kOnnxFloat = 1;

struct Tensor {
    std::string name;
    std::vector<int> dims; // outermost first
    size_t elems = 1;
};

struct Context {
    cv::dnn::Net net;
    std::vector<Tensor> inputs;
    std::vector<Tensor> outputs;
    std::vector<cv::String> forward_names;
    std::vector<cv::Mat> input_blobs; // float32, the graph's own shape
    std::vector<cv::Mat> results;     // float32, continuous, one per output
    std::vector<cv::Mat> planes_u8;   // scratch for interleaved byte input
    bool ran = false;
};

std::mutex g_contexts_mutex;
std::unordered_set<Context*> g_contexts;

Context* lookup(rknn_context handle) {
    auto* ctx = reinterpret_cast<Context*>(static_cast<uintptr_t>(handle));
    std::lock_guard<std::mutex> lock(g_contexts_mutex);
    return g_contexts.count(ctx) ? ctx : nullptr;
}

size_t product(const std::vector<int>& dims) {
    size_t n = 1;
    for (int d : dims) n *= static_cast<size_t>(d);
    return n;
}

std::vector<int> mat_dims(const cv::Mat& m) {
    return std::vector<int>(m.size.p, m.size.p + m.dims);
}

void fill_attr(const Tensor& t, uint32_t index, bool is_input, rknn_tensor_attr& attr) {
    std::memset(&attr, 0, sizeof attr);
    attr.index = index;
    attr.n_dims = static_cast<uint32_t>(std::min<size_t>(t.dims.size(), RKNN_MAX_DIMS));
    for (uint32_t i = 0; i < attr.n_dims; ++i) attr.dims[i] = static_cast<uint32_t>(t.dims[i]);
    std::strncpy(attr.name, t.name.c_str(), RKNN_MAX_NAME_LEN - 1);
    attr.n_elems = static_cast<uint32_t>(std::min<size_t>(t.elems, std::numeric_limits<uint32_t>::max()));
    attr.size = static_cast<uint32_t>(std::min<size_t>(t.elems * sizeof(float), std::numeric_limits<uint32_t>::max()));
    attr.fmt = RKNN_TENSOR_NCHW;
    attr.type = RKNN_TENSOR_FLOAT32;
    (void)is_input;
}

// Forward results are normally continuous float32 already; anything else is
// converted so rknn_outputs_get can hand out plain float buffers.
void normalise_results(std::vector<cv::Mat>& results) {
    for (auto& m : results) {
        if (m.depth() != CV_32F) {
            cv::Mat f;
            m.convertTo(f, CV_32F);
            m = f;
        }
        if (!m.isContinuous()) m = m.clone();
    }
}

int run_forward(Context& ctx) {
    for (size_t i = 0; i < ctx.inputs.size(); ++i)
        ctx.net.setInput(ctx.input_blobs[i], ctx.inputs[i].name);
    ctx.net.forward(ctx.results, ctx.forward_names);
    if (ctx.results.size() != ctx.outputs.size()) return RKNN_ERR_OUTPUT_INVALID;
    normalise_results(ctx.results);
    return RKNN_SUCC;
}

int init_context(Context& ctx, const uint8_t* data, size_t size) {
    npu::OnnxGraphInfo info;
    if (!npu::parse_onnx_info(data, size, info)) return RKNN_ERR_MODEL_INVALID;

    for (const auto& in : info.inputs) {
        if (!in.has_shape || in.dims.empty() || in.elem_type != kOnnxFloat) return RKNN_ERR_MODEL_INVALID;
        Tensor t;
        t.name = in.name;
        for (size_t d = 0; d < in.dims.size(); ++d) {
            int64_t v = in.dims[d];
            if (v <= 0 && d == 0) v = 1; // an open batch runs one picture
            if (v <= 0 || v > (1 << 20)) return RKNN_ERR_MODEL_INVALID;
            t.dims.push_back(static_cast<int>(v));
        }
        t.elems = product(t.dims);
        if (t.elems > (size_t(1) << 28)) return RKNN_ERR_MODEL_INVALID;
        ctx.inputs.push_back(t);
    }

    // A model OpenCV cannot import is reported by the return code alone, not
    // by the importer's own log lines on the caller's standard error.
    struct QuietLog {
        cv::utils::logging::LogLevel saved = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
        ~QuietLog() { cv::utils::logging::setLogLevel(saved); }
    } quiet;
    ctx.net = cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(data), size);
    if (ctx.net.empty()) return RKNN_ERR_MODEL_INVALID;
    ctx.net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    ctx.net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);

    for (const auto& t : ctx.inputs) {
        ctx.input_blobs.emplace_back(static_cast<int>(t.dims.size()), t.dims.data(), CV_32F, cv::Scalar(0));
    }
    for (const auto& out : info.outputs) ctx.forward_names.push_back(out.name);

    // One dry run fixes the output shapes the graph leaves open.
    try {
        ctx.outputs.resize(info.outputs.size());
        if (run_forward(ctx) != RKNN_SUCC) throw cv::Exception();
    } catch (...) {
        // Layer names can differ from graph output names; OpenCV's own list
        // of unconnected outputs is in graph order for the models we import.
        ctx.forward_names = ctx.net.getUnconnectedOutLayersNames();
        if (ctx.forward_names.size() != info.outputs.size()) return RKNN_ERR_MODEL_INVALID;
        if (run_forward(ctx) != RKNN_SUCC) return RKNN_ERR_MODEL_INVALID;
    }

    for (size_t i = 0; i < info.outputs.size(); ++i) {
        Tensor& t = ctx.outputs[i];
        t.name = info.outputs[i].name;
        t.dims = mat_dims(ctx.results[i]);
        t.elems = ctx.results[i].total();
        // Report the graph's declared shape when it is static and agrees.
        std::vector<int> declared;
        bool static_shape = info.outputs[i].has_shape && !info.outputs[i].dims.empty();
        for (int64_t d : info.outputs[i].dims) {
            if (d <= 0 || d > std::numeric_limits<int>::max()) static_shape = false;
            else declared.push_back(static_cast<int>(d));
        }
        if (static_shape && product(declared) == t.elems) t.dims = declared;
    }
    return RKNN_SUCC;
}

// Interleaved or planar, bytes or floats, into the graph's float NCHW blob.
// A C caller can store any number in an enum field; loaded as the enum type,
// a number outside its values would be undefined, so it is read as bytes.
template <typename E>
int32_t enum_field(const E& field) {
    static_assert(sizeof(E) == sizeof(int32_t), "C enums are 32 bits here");
    int32_t value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

int convert_input(Context& ctx, const rknn_input& in) {
    const Tensor& t = ctx.inputs[in.index];
    cv::Mat& blob = ctx.input_blobs[in.index];
    const int32_t type = enum_field(in.type);
    const int32_t fmt = enum_field(in.fmt);
    const bool bytes = type == RKNN_TENSOR_UINT8 && !in.pass_through;
    if (!bytes && type != RKNN_TENSOR_FLOAT32 && !in.pass_through) return RKNN_ERR_INPUT_INVALID;
    if (fmt != RKNN_TENSOR_NCHW && fmt != RKNN_TENSOR_NHWC) return RKNN_ERR_INPUT_INVALID;
    const size_t need = t.elems * (bytes ? 1 : sizeof(float));
    if (!in.buf || in.size != need) return RKNN_ERR_INPUT_INVALID;

    float* dst = blob.ptr<float>();
    const bool interleaved = t.dims.size() == 4 && fmt == RKNN_TENSOR_NHWC && !in.pass_through;
    if (!interleaved) {
        if (bytes) {
            const auto* src = static_cast<const uint8_t*>(in.buf);
            for (size_t i = 0; i < t.elems; ++i) dst[i] = src[i];
        } else {
            std::memcpy(dst, in.buf, need);
        }
        return RKNN_SUCC;
    }

    const int n = t.dims[0], c = t.dims[1], h = t.dims[2], w = t.dims[3];
    const size_t plane = static_cast<size_t>(h) * w;
    for (int b = 0; b < n; ++b) {
        float* batch_dst = dst + static_cast<size_t>(b) * c * plane;
        std::vector<cv::Mat> float_planes;
        for (int k = 0; k < c; ++k) float_planes.emplace_back(h, w, CV_32F, batch_dst + k * plane);
        if (c > CV_CN_MAX) return RKNN_ERR_INPUT_INVALID;
        if (bytes) {
            const cv::Mat src(h, w, CV_8UC(c), static_cast<uint8_t*>(in.buf) + static_cast<size_t>(b) * c * plane);
            ctx.planes_u8.resize(c);
            cv::split(src, ctx.planes_u8);
            for (int k = 0; k < c; ++k) ctx.planes_u8[k].convertTo(float_planes[k], CV_32F);
        } else {
            const cv::Mat src(h, w, CV_32FC(c), static_cast<float*>(in.buf) + static_cast<size_t>(b) * c * plane);
            cv::split(src, float_planes);
        }
    }
    return RKNN_SUCC;
}

template <typename F>
int guarded(F&& body) {
    try {
        return body();
    } catch (...) {
        return RKNN_ERR_FAIL;
    }
}

} // namespace

extern "C" {

int rknn_init(rknn_context* context, void* model, uint32_t size, uint32_t flag, rknn_init_extend* extend) {
    (void)flag;
    (void)extend;
    if (!context) return RKNN_ERR_PARAM_INVALID;
    *context = 0;
    if (!model || size == 0) return RKNN_ERR_MODEL_INVALID;
    return guarded([&] {
        auto ctx = std::make_unique<Context>();
        int ret = RKNN_ERR_MODEL_INVALID;
        try {
            ret = init_context(*ctx, static_cast<const uint8_t*>(model), size);
        } catch (...) {
            ret = RKNN_ERR_MODEL_INVALID;
        }
        if (ret != RKNN_SUCC) return ret;
        std::lock_guard<std::mutex> lock(g_contexts_mutex);
        g_contexts.insert(ctx.get());
        *context = static_cast<rknn_context>(reinterpret_cast<uintptr_t>(ctx.release()));
        return RKNN_SUCC;
    });
}

int rknn_destroy(rknn_context context) {
    return guarded([&] {
        Context* ctx = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_contexts_mutex);
            auto* p = reinterpret_cast<Context*>(static_cast<uintptr_t>(context));
            auto it = g_contexts.find(p);
            if (it == g_contexts.end()) return RKNN_ERR_CTX_INVALID;
            ctx = *it;
            g_contexts.erase(it);
        }
        delete ctx;
        return RKNN_SUCC;
    });
}

int rknn_query(rknn_context context, rknn_query_cmd cmd, void* info, uint32_t size) {
    return guarded([&] {
        Context* ctx = lookup(context);
        if (!ctx) return RKNN_ERR_CTX_INVALID;
        if (!info) return RKNN_ERR_PARAM_INVALID;
        const int32_t command = enum_field(cmd);
        switch (command) {
        case RKNN_QUERY_IN_OUT_NUM: {
            if (size < sizeof(rknn_input_output_num)) return RKNN_ERR_PARAM_INVALID;
            auto* num = static_cast<rknn_input_output_num*>(info);
            num->n_input = static_cast<uint32_t>(ctx->inputs.size());
            num->n_output = static_cast<uint32_t>(ctx->outputs.size());
            return RKNN_SUCC;
        }
        case RKNN_QUERY_INPUT_ATTR:
        case RKNN_QUERY_OUTPUT_ATTR: {
            if (size < sizeof(rknn_tensor_attr)) return RKNN_ERR_PARAM_INVALID;
            auto* attr = static_cast<rknn_tensor_attr*>(info);
            const bool is_input = command == RKNN_QUERY_INPUT_ATTR;
            const auto& list = is_input ? ctx->inputs : ctx->outputs;
            const uint32_t index = attr->index;
            if (index >= list.size()) return RKNN_ERR_PARAM_INVALID;
            fill_attr(list[index], index, is_input, *attr);
            return RKNN_SUCC;
        }
        }
        return RKNN_ERR_PARAM_INVALID;
    });
}

int rknn_inputs_set(rknn_context context, uint32_t n_inputs, rknn_input inputs[]) {
    return guarded([&] {
        Context* ctx = lookup(context);
        if (!ctx) return RKNN_ERR_CTX_INVALID;
        if (!inputs || n_inputs == 0 || n_inputs > ctx->inputs.size()) return RKNN_ERR_PARAM_INVALID;
        for (uint32_t i = 0; i < n_inputs; ++i) {
            if (inputs[i].index >= ctx->inputs.size()) return RKNN_ERR_PARAM_INVALID;
            const int ret = convert_input(*ctx, inputs[i]);
            if (ret != RKNN_SUCC) return ret;
        }
        return RKNN_SUCC;
    });
}

int rknn_run(rknn_context context, rknn_run_extend* extend) {
    (void)extend;
    return guarded([&] {
        Context* ctx = lookup(context);
        if (!ctx) return RKNN_ERR_CTX_INVALID;
        ctx->ran = false;
        const int ret = run_forward(*ctx);
        ctx->ran = ret == RKNN_SUCC;
        return ret;
    });
}

int rknn_outputs_get(rknn_context context, uint32_t n_outputs, rknn_output outputs[], rknn_output_extend* extend) {
    (void)extend;
    return guarded([&] {
        Context* ctx = lookup(context);
        if (!ctx) return RKNN_ERR_CTX_INVALID;
        if (!ctx->ran) return RKNN_ERR_FAIL;
        if (!outputs || n_outputs == 0 || n_outputs > ctx->outputs.size()) return RKNN_ERR_PARAM_INVALID;
        for (uint32_t i = 0; i < n_outputs; ++i) {
            rknn_output& out = outputs[i];
            if (out.index >= ctx->results.size()) return RKNN_ERR_PARAM_INVALID;
            const cv::Mat& m = ctx->results[out.index];
            const size_t bytes = m.total() * sizeof(float);
            if (bytes > std::numeric_limits<uint32_t>::max()) return RKNN_ERR_OUTPUT_INVALID;
            if (out.is_prealloc) {
                if (!out.buf || out.size < bytes) return RKNN_ERR_PARAM_INVALID;
                std::memcpy(out.buf, m.data, bytes);
            } else {
                // The buffer stays valid until the next run or destroy.
                out.buf = m.data;
            }
            out.size = static_cast<uint32_t>(bytes);
        }
        return RKNN_SUCC;
    });
}

int rknn_outputs_release(rknn_context context, uint32_t n_outputs, rknn_output outputs[]) {
    return guarded([&] {
        Context* ctx = lookup(context);
        if (!ctx) return RKNN_ERR_CTX_INVALID;
        if (!outputs) return RKNN_ERR_PARAM_INVALID;
        for (uint32_t i = 0; i < n_outputs; ++i)
            if (!outputs[i].is_prealloc) outputs[i].buf = nullptr;
        return RKNN_SUCC;
    });
}

} // extern "C"
