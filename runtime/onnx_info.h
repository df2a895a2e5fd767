// Reads the tensor declarations of an ONNX model straight from its protobuf
// bytes, so the runtime can describe a model before OpenCV has parsed it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace npu {

struct OnnxTensorInfo {
    std::string name;
    int32_t elem_type = 0;     // ONNX TensorProto.DataType, 1 = float
    std::vector<int64_t> dims; // -1 for a dimension the graph leaves open
    bool has_shape = false;
};

struct OnnxGraphInfo {
    std::vector<OnnxTensorInfo> inputs; // graph inputs that are not initializers
    std::vector<OnnxTensorInfo> outputs;
};

// False when the bytes are not a well-formed ONNX model with a graph, when
// a tensor of the graph holds fewer or more values than its dimensions say,
// or when a tensor without elements feeds anything but a Resize's optional inputs.
bool parse_onnx_info(const uint8_t* data, size_t size, OnnxGraphInfo& info);

} // namespace npu
