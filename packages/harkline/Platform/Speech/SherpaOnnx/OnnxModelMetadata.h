#pragma once

#include <filesystem>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace harkline {

// What the engine reads from an ONNX model file besides running it.
struct OnnxModelSummary {
    std::map<std::string, std::string> metadata;
    // The last dimension of the graph's first output (a CTC model's vocabulary size),
    // when the file fixes it.
    std::optional<std::int64_t> outputLastDimension;
};

// Reads the summary from the file's protobuf fields, skipping the weights. sherpa-onnx
// ends the whole process when a key it needs is missing, so models are checked with this
// before the engine sees them. Throws std::runtime_error when the file cannot be read or
// is not a protobuf message.
OnnxModelSummary readOnnxModelSummary(const std::filesystem::path& file);

}  // namespace harkline
