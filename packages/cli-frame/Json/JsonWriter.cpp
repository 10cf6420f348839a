#include "cli-frame/Json/JsonWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "cli-frame/Json/Utf8.h"

namespace cli {
namespace {

void writeString(std::string& out, const std::string& raw, const JsonWriteOptions& options) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (char character : repairUtf8(raw)) {
        switch (character) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '/':
                if (options.escapeSlashes) out += '\\';
                out += '/';
                break;
            default:
                if (static_cast<unsigned char>(character) < 0x20) {
                    out += "\\u00";
                    out += hex[(character >> 4) & 0x0F];
                    out += hex[character & 0x0F];
                } else {
                    out += character;
                }
        }
    }
    out += '"';
}

void writeDouble(std::string& out, double number) {
    if (!std::isfinite(number)) throw JsonEncodingError("Unable to encode " + std::to_string(number) + " directly in JSON.");
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
    (void)error;  // 64 characters always hold the shortest form of a double
    out.append(buffer, end);
}

void writeValue(std::string& out, const Json& value, const JsonWriteOptions& options) {
    switch (value.type()) {
        case Json::value_t::object: {
            std::vector<const Json::object_t::value_type*> members;
            for (const auto& member : value.get_ref<const Json::object_t&>()) members.push_back(&member);
            if (options.sortKeys)
                std::sort(members.begin(), members.end(), [](auto* left, auto* right) { return left->first < right->first; });
            out += '{';
            bool first = true;
            for (const auto* member : members) {
                if (!first) out += ',';
                first = false;
                writeString(out, member->first, options);
                out += ':';
                writeValue(out, member->second, options);
            }
            out += '}';
            break;
        }
        case Json::value_t::array: {
            out += '[';
            bool first = true;
            for (const auto& element : value) {
                if (!first) out += ',';
                first = false;
                writeValue(out, element, options);
            }
            out += ']';
            break;
        }
        case Json::value_t::string: writeString(out, value.get_ref<const std::string&>(), options); break;
        case Json::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
        case Json::value_t::number_integer: out += std::to_string(value.get<std::int64_t>()); break;
        case Json::value_t::number_unsigned: out += std::to_string(value.get<std::uint64_t>()); break;
        case Json::value_t::number_float: writeDouble(out, value.get<double>()); break;
        case Json::value_t::null:
        case Json::value_t::discarded:
        case Json::value_t::binary: out += "null"; break;
    }
}

}  // namespace

std::string writeJson(const Json& value, JsonWriteOptions options) {
    std::string out;
    writeValue(out, value, options);
    return out;
}

}  // namespace cli
