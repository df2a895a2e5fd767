#include "onnx_info.h"

#include <set>

namespace npu {
namespace {

// Minimal protobuf wire-format cursor; every read is bounds-checked.
struct Reader {
    const uint8_t* p;
    const uint8_t* end;

    bool done() const { return p >= end; }

    bool varint(uint64_t& v) {
        v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (p >= end) return false;
            const uint8_t b = *p++;
            v |= static_cast<uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }

    // Reads one field key and, for length-delimited fields, the sub-range.
    bool field(uint32_t& number, uint32_t& wire, Reader& sub, uint64_t& value) {
        uint64_t key = 0;
        if (!varint(key)) return false;
        number = static_cast<uint32_t>(key >> 3);
        wire = static_cast<uint32_t>(key & 7);
        if (number == 0) return false;
        switch (wire) {
        case 0:
            return varint(value);
        case 1:
            if (end - p < 8) return false;
            p += 8;
            return true;
        case 5:
            if (end - p < 4) return false;
            p += 4;
            return true;
        case 2: {
            uint64_t len = 0;
            if (!varint(len)) return false;
            if (len > static_cast<uint64_t>(end - p)) return false;
            sub = Reader{p, p + len};
            p += len;
            return true;
        }
        default:
            return false; // groups are not used by ONNX
        }
    }
};

bool parse_dim(Reader r, int64_t& dim) {
    dim = -1;
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 1 && w == 0) dim = static_cast<int64_t>(v);
    }
    return true;
}

bool parse_shape(Reader r, std::vector<int64_t>& dims) {
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 1 && w == 2) {
            int64_t d = -1;
            if (!parse_dim(sub, d)) return false;
            dims.push_back(d);
        }
    }
    return true;
}

bool parse_tensor_type(Reader r, OnnxTensorInfo& t) {
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 1 && w == 0) t.elem_type = static_cast<int32_t>(v);
        if (n == 2 && w == 2) {
            t.has_shape = true;
            if (!parse_shape(sub, t.dims)) return false;
        }
    }
    return true;
}

bool parse_type(Reader r, OnnxTensorInfo& t) {
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 1 && w == 2 && !parse_tensor_type(sub, t)) return false;
    }
    return true;
}

bool parse_value_info(Reader r, OnnxTensorInfo& t) {
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 1 && w == 2) t.name.assign(reinterpret_cast<const char*>(sub.p), sub.end - sub.p);
        if (n == 2 && w == 2 && !parse_type(sub, t)) return false;
    }
    return true;
}

bool parse_tensor_name(Reader r, std::string& name) {
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 8 && w == 2) name.assign(reinterpret_cast<const char*>(sub.p), sub.end - sub.p);
    }
    return true;
}

bool parse_graph(Reader r, OnnxGraphInfo& info) {
    std::vector<OnnxTensorInfo> declared_inputs;
    std::set<std::string> initializers;
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (w != 2) continue;
        if (n == 5) {
            std::string name;
            if (!parse_tensor_name(sub, name)) return false;
            initializers.insert(name);
        } else if (n == 11 || n == 12) {
            OnnxTensorInfo t;
            if (!parse_value_info(sub, t)) return false;
            (n == 11 ? declared_inputs : info.outputs).push_back(t);
        }
    }
    for (const auto& t : declared_inputs)
        if (!initializers.count(t.name)) info.inputs.push_back(t);
    return true;
}

} // namespace

bool parse_onnx_info(const uint8_t* data, size_t size, OnnxGraphInfo& info) {
    info = OnnxGraphInfo{};
    if (!data || size == 0) return false;
    Reader r{data, data + size};
    bool has_graph = false;
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 7 && w == 2) {
            info = OnnxGraphInfo{};
            if (!parse_graph(sub, info)) return false;
            has_graph = true;
        }
    }
    return has_graph && !info.inputs.empty() && !info.outputs.empty();
}

} // namespace npu
