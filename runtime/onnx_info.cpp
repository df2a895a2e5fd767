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

// Bytes per element of a TensorProto data type stored as raw bytes; 0 for
// types that cannot be stored that way.
uint64_t raw_element_size(uint64_t data_type) {
    switch (data_type) {
    case 2: case 3: case 9: return 1;           // uint8, int8, bool
    case 4: case 5: case 10: return 2;          // uint16, int16, float16
    case 1: case 6: case 12: return 4;          // float, int32, uint32
    case 7: case 11: case 13: return 8;         // int64, double, uint64
    default: return 0;
    }
}

// Elements in one repeated numeric field, packed or not.
bool count_repeated(uint32_t wire, Reader sub, uint64_t fixed_size, uint64_t& count) {
    if (wire != 2) {
        ++count;
        return true;
    }
    if (fixed_size) {
        const uint64_t len = static_cast<uint64_t>(sub.end - sub.p);
        if (len % fixed_size) return false;
        count += len / fixed_size;
        return true;
    }
    while (!sub.done()) {
        uint64_t v = 0;
        if (!sub.varint(v)) return false;
        ++count;
    }
    return true;
}

// OpenCV's importer copies as many elements as a tensor's dimensions
// promise, whatever its data holds; so a tensor must hold exactly that many.
bool tensor_data_fits(Reader r, uint64_t& elems) {
    uint64_t data_type = 0, typed = 0, raw_bytes = 0;
    elems = 1;
    bool has_raw = false;
    constexpr uint64_t max_elems = uint64_t(1) << 40;
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (n == 1) { // dims
            std::vector<uint64_t> dims;
            if (w == 0) dims.push_back(v);
            else if (w == 2)
                while (!sub.done()) {
                    if (!sub.varint(v)) return false;
                    dims.push_back(v);
                }
            for (uint64_t d : dims) {
                if (static_cast<int64_t>(d) < 0 || d > max_elems) return false;
                elems = d == 0 ? 0 : elems * d;
                if (elems > max_elems) return false;
            }
        } else if (n == 2 && w == 0) {
            data_type = v;
        } else if (n == 9 && w == 2) {
            has_raw = true;
            raw_bytes = static_cast<uint64_t>(sub.end - sub.p);
        } else if (n == 4 || n == 10) { // float_data, double_data
            if (!count_repeated(w, sub, n == 4 ? 4 : 8, typed)) return false;
        } else if (n == 5 || n == 7 || n == 11) { // int32_data, int64_data, uint64_data
            if (!count_repeated(w, sub, 0, typed)) return false;
        } else if (n == 6 && w == 2) { // string_data
            ++typed;
        }
    }
    if (has_raw) {
        const uint64_t size = raw_element_size(data_type);
        return size != 0 && typed == 0 && raw_bytes == elems * size;
    }
    return typed == elems;
}

// What the graph check needs of one node: its type, its tensor names, and
// whether a tensor held in its attributes (Constant and the like) is empty.
struct NodeInfo {
    std::string op_type;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    bool holds_empty_tensor = false;
};

bool parse_node(Reader r, NodeInfo& node) {
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (w != 2) continue;
        const auto text = [&sub] { return std::string(reinterpret_cast<const char*>(sub.p), sub.end - sub.p); };
        if (n == 1) node.inputs.push_back(text());
        else if (n == 2) node.outputs.push_back(text());
        else if (n == 4) node.op_type = text();
        else if (n == 5) { // attribute: its tensors are only counted, never copied
            while (!sub.done()) {
                uint32_t an, aw;
                Reader tensor{nullptr, nullptr};
                uint64_t av = 0, elems = 0;
                if (!sub.field(an, aw, tensor, av)) return false;
                if ((an == 5 || an == 11) && aw == 2) { // t, tensors
                    if (!tensor_data_fits(tensor, elems)) return false;
                    if (elems == 0) node.holds_empty_tensor = true;
                }
            }
        }
    }
    return true;
}

// OpenCV's layers take a tensor without elements for a weight and divide by
// its size; the one place such a tensor is ordinary is the roi, scales or
// sizes a Resize leaves out. Anywhere else the model is refused.
bool empty_tensors_allowed(const std::vector<NodeInfo>& nodes, std::set<std::string> empty) {
    for (const NodeInfo& node : nodes)
        if (node.op_type == "Constant" && node.holds_empty_tensor) empty.insert(node.outputs.begin(), node.outputs.end());
    for (const NodeInfo& node : nodes)
        for (size_t i = 0; i < node.inputs.size(); ++i)
            if (empty.count(node.inputs[i]) && !(node.op_type == "Resize" && i > 0)) return false;
    return true;
}

bool parse_graph(Reader r, OnnxGraphInfo& info) {
    std::vector<OnnxTensorInfo> declared_inputs;
    std::vector<NodeInfo> nodes;
    std::set<std::string> initializers, empty;
    while (!r.done()) {
        uint32_t n, w;
        Reader sub{nullptr, nullptr};
        uint64_t v = 0;
        if (!r.field(n, w, sub, v)) return false;
        if (w != 2) continue;
        if (n == 1) {
            nodes.emplace_back();
            if (!parse_node(sub, nodes.back())) return false;
        } else if (n == 5) {
            std::string name;
            uint64_t elems = 0;
            if (!parse_tensor_name(sub, name) || !tensor_data_fits(sub, elems)) return false;
            initializers.insert(name);
            if (elems == 0) empty.insert(name);
        } else if (n == 11 || n == 12) {
            OnnxTensorInfo t;
            if (!parse_value_info(sub, t)) return false;
            (n == 11 ? declared_inputs : info.outputs).push_back(t);
        }
    }
    if (!empty_tensors_allowed(nodes, empty)) return false;
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
