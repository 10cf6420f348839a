#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace harkline {

// The metadata (key -> value) of an ONNX model file, read from the file's top-level
// protobuf fields without loading the graph. sherpa-onnx ends the whole process when a key
// it needs is missing, so models are checked with this before the engine sees them.
// Throws std::runtime_error when the file cannot be read or is not a protobuf message.
std::map<std::string, std::string> readOnnxModelMetadata(const std::filesystem::path& file);

}  // namespace harkline
