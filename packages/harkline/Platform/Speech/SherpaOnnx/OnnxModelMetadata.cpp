#include "harkline/Platform/Speech/SherpaOnnx/OnnxModelMetadata.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace harkline {
namespace {

// ModelProto.metadata_props, a repeated StringStringEntryProto {1: key, 2: value}.
constexpr std::uint64_t metadataField = 14;
// No metadata text is anywhere near this; a larger length means a damaged file.
constexpr std::uint64_t largestMetadataEntry = 1 << 20;

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

}  // namespace

std::map<std::string, std::string> readOnnxModelMetadata(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) throw std::runtime_error("cannot open " + file.string());
    input.seekg(0, std::ios::end);
    auto size = static_cast<std::uint64_t>(input.tellg());
    input.seekg(0);
    ProtobufReader reader(input, size, file.filename().string());
    if (size == 0) reader.fail();

    std::map<std::string, std::string> metadata;
    while (!reader.atEnd()) {
        auto tag = reader.readVarint();
        if (tag >> 3 != metadataField || (tag & 7) != lengthDelimited) {
            reader.skip(tag & 7);
            continue;
        }
        auto entryLength = reader.readLength();
        auto entryEnd = reader.position() + entryLength;
        std::string key, value;
        while (reader.position() < entryEnd) {
            auto entryTag = reader.readVarint();
            if ((entryTag & 7) == lengthDelimited && (entryTag >> 3 == 1 || entryTag >> 3 == 2)) {
                auto text = reader.readBytes(reader.readLength());
                (entryTag >> 3 == 1 ? key : value) = std::move(text);
            } else {
                reader.skip(entryTag & 7);
            }
        }
        if (reader.position() != entryEnd) reader.fail();
        metadata[key] = value;
    }
    return metadata;
}

}  // namespace harkline
