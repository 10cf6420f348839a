#pragma once

#include <filesystem>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace harkline {

// A graph input or output as the file declares it.
struct OnnxTensorInfo {
    // TensorProto.DataType values of the types the engines feed and read.
    static constexpr int float32 = 1;
    static constexpr int int32 = 6;
    static constexpr int int64 = 7;

    std::string name;
    int elementType = 0;  // 0 when the value is not a tensor
    // Each dimension's size; none where the file leaves it open (a named dimension).
    std::vector<std::optional<std::int64_t>> dimensions;
};

// What the engine reads from an ONNX model file besides running it.
struct OnnxModelSummary {
    std::map<std::string, std::string> metadata;
    // The last dimension of the graph's first output (a CTC model's vocabulary size),
    // when the file fixes it.
    std::optional<std::int64_t> outputLastDimension;
    std::vector<OnnxTensorInfo> inputs;
    std::vector<OnnxTensorInfo> outputs;
};

// Reads the summary from the file's protobuf fields, skipping the weights. sherpa-onnx
// ends the whole process when a key it needs is missing, so models are checked with this
// before the engine sees them. Throws std::runtime_error when the file cannot be read or
// is not a protobuf message.
OnnxModelSummary readOnnxModelSummary(const std::filesystem::path& file);

}  // namespace harkline
