#include "harkline/Platform/Speech/SherpaOnnx/OnnxModelMetadata.h"

#include <cstdint>
#include <fstream>
#include <span>
#include <stdexcept>

namespace harkline {
namespace {

// ModelProto.metadata_props, a repeated StringStringEntryProto {1: key, 2: value}.
constexpr std::uint64_t metadataField = 14;
// ModelProto.graph; GraphProto.input and .output (repeated ValueInfoProto {1: name, 2: type}).
constexpr std::uint64_t graphField = 7;
constexpr std::uint64_t graphInputField = 11;
constexpr std::uint64_t graphOutputField = 12;
// TypeProto.tensor_type {1: elem_type, 2: shape}; TensorShapeProto.dim {1: dim_value}.
constexpr std::uint64_t tensorTypePath[] = {1};
constexpr std::uint64_t shapeDimensionPath[] = {1};
// No metadata text is anywhere near this; a larger length means a damaged file. The
// largest known is a CT-Transformer's vocabulary (272727 tokens in one entry, a few MB).
constexpr std::uint64_t largestMetadataEntry = 32 << 20;

enum WireType : std::uint64_t { varint = 0, fixed64 = 1, lengthDelimited = 2, fixed32 = 5 };

class ProtobufReader {
public:
    ProtobufReader(std::istream& input, std::uint64_t end, std::string name)
        : input_(input), end_(end), name_(std::move(name)) {}

    bool atEnd() { return position() >= end_; }

    std::uint64_t readVarint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            int byte = input_.get();
            if (byte == std::char_traits<char>::eof()) fail();
            value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0) return value;
        }
        fail();
    }

    std::uint64_t readLength() {
        auto length = readVarint();
        if (length > end_ - position()) fail();
        return length;
    }

    std::string readBytes(std::uint64_t length) {
        if (length > largestMetadataEntry) fail();
        std::string bytes(length, '\0');
        if (!input_.read(bytes.data(), static_cast<std::streamsize>(length))) fail();
        return bytes;
    }

    void skip(std::uint64_t wireType) {
        switch (wireType) {
            case varint: readVarint(); return;
            case fixed64: seek(8); return;
            case fixed32: seek(4); return;
            case lengthDelimited: seek(readLength()); return;
            default: fail();
        }
    }

    std::uint64_t position() {
        auto at = input_.tellg();
        if (at < 0) fail();
        return static_cast<std::uint64_t>(at);
    }

    [[noreturn]] void fail() const { throw std::runtime_error(name_ + " is not an ONNX model (damaged or cut short)"); }

private:
    void seek(std::uint64_t count) {
        if (count > end_ - position()) fail();
        input_.seekg(static_cast<std::streamoff>(count), std::ios::cur);
    }

    std::istream& input_;
    std::uint64_t end_;
    std::string name_;
};

// Calls `visit(field, wireType)` for each field of the message that ends at `end`; a
// visit that leaves the field's value unread returns false, and the value is skipped.
template <typename Visit>
void forEachField(ProtobufReader& reader, std::uint64_t end, Visit visit) {
    while (reader.position() < end) {
        auto tag = reader.readVarint();
        if (!visit(tag >> 3, tag & 7)) reader.skip(tag & 7);
    }
    if (reader.position() != end) reader.fail();
}

// Steps into a length-delimited value; returns where it ends.
std::uint64_t enter(ProtobufReader& reader) {
    auto length = reader.readLength();
    return reader.position() + length;
}

// Follows the fields named by `path` (each a message) from the current one; calls
// `inner(end)` inside each value at the end of the path.
template <typename Inner>
void within(ProtobufReader& reader, std::uint64_t end, std::span<const std::uint64_t> path, Inner inner) {
    forEachField(reader, end, [&](std::uint64_t field, std::uint64_t wireType) {
        if (wireType != lengthDelimited || field != path.front()) return false;
        auto valueEnd = enter(reader);
        if (path.size() == 1) {
            inner(valueEnd);
        } else {
            within(reader, valueEnd, path.subspan(1), inner);
        }
        return true;
    });
}

std::map<std::string, std::string> readMetadataEntry(ProtobufReader& reader, std::uint64_t end,
                                                    std::map<std::string, std::string> metadata) {
    std::string key, value;
    forEachField(reader, end, [&](std::uint64_t field, std::uint64_t wireType) {
        if (wireType != lengthDelimited || (field != 1 && field != 2)) return false;
        (field == 1 ? key : value) = reader.readBytes(reader.readLength());
        return true;
    });
    metadata[key] = value;
    return metadata;
}

// ValueInfoProto: the name, and of a tensor its element type and dimensions.
OnnxTensorInfo readTensorInfo(ProtobufReader& reader, std::uint64_t end) {
    OnnxTensorInfo tensor;
    forEachField(reader, end, [&](std::uint64_t field, std::uint64_t wireType) {
        if (wireType != lengthDelimited) return false;
        if (field == 1) {
            tensor.name = reader.readBytes(reader.readLength());
            return true;
        }
        if (field != 2) return false;
        within(reader, enter(reader), tensorTypePath, [&](std::uint64_t tensorEnd) {
            forEachField(reader, tensorEnd, [&](std::uint64_t tensorField, std::uint64_t tensorWireType) {
                if (tensorField == 1 && tensorWireType == varint) {
                    tensor.elementType = static_cast<int>(reader.readVarint());
                    return true;
                }
                if (tensorField != 2 || tensorWireType != lengthDelimited) return false;
                within(reader, enter(reader), shapeDimensionPath, [&](std::uint64_t dimensionEnd) {
                    std::optional<std::int64_t> value;
                    forEachField(reader, dimensionEnd, [&](std::uint64_t dimensionField, std::uint64_t dimensionWireType) {
                        if (dimensionField != 1 || dimensionWireType != varint) return false;
                        value = static_cast<std::int64_t>(reader.readVarint());
                        return true;
                    });
                    tensor.dimensions.push_back(value);
                });
                return true;
            });
        });
        return true;
    });
    return tensor;
}

}  // namespace

OnnxModelSummary readOnnxModelSummary(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) throw std::runtime_error("cannot open " + file.string());
    input.seekg(0, std::ios::end);
    auto size = static_cast<std::uint64_t>(input.tellg());
    input.seekg(0);
    ProtobufReader reader(input, size, file.filename().string());
    if (size == 0) reader.fail();

    OnnxModelSummary summary;
    forEachField(reader, size, [&](std::uint64_t field, std::uint64_t wireType) {
        if (wireType != lengthDelimited) return false;
        if (field == metadataField) {
            auto end = enter(reader);
            summary.metadata = readMetadataEntry(reader, end, std::move(summary.metadata));
            return true;
        }
        if (field != graphField) return false;
        auto graphEnd = enter(reader);
        forEachField(reader, graphEnd, [&](std::uint64_t graphFieldNumber, std::uint64_t graphWireType) {
            if (graphWireType != lengthDelimited) return false;
            if (graphFieldNumber != graphInputField && graphFieldNumber != graphOutputField) return false;
            auto valueEnd = enter(reader);
            auto tensor = readTensorInfo(reader, valueEnd);
            (graphFieldNumber == graphInputField ? summary.inputs : summary.outputs).push_back(std::move(tensor));
            return true;
        });
        return true;
    });
    if (!summary.outputs.empty() && !summary.outputs.front().dimensions.empty())
        summary.outputLastDimension = summary.outputs.front().dimensions.back();
    return summary;
}

}  // namespace harkline
