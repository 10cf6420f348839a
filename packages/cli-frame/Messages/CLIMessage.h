#pragma once

#include <string_view>

#include "cli-frame/Messages/AnyEncodable.h"

namespace cli {

// One line of standard output: {"type": ..., "payload": ...}. Each tool decides which
// payload types it puts into which kind.
class CLIMessage {
public:
    enum class Kind { status, result, error, event };

    static CLIMessage status(AnyEncodable payload) { return {Kind::status, std::move(payload)}; }
    static CLIMessage result(AnyEncodable payload) { return {Kind::result, std::move(payload)}; }
    static CLIMessage error(AnyEncodable payload) { return {Kind::error, std::move(payload)}; }
    static CLIMessage event(AnyEncodable payload) { return {Kind::event, std::move(payload)}; }

    Kind kind() const { return kind_; }
    const AnyEncodable& payload() const { return payload_; }

    std::string_view type() const {
        switch (kind_) {
            case Kind::status: return "status";
            case Kind::result: return "result";
            case Kind::error: return "error";
            case Kind::event: return "event";
        }
        return "status";
    }

private:
    CLIMessage(Kind kind, AnyEncodable payload) : kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    AnyEncodable payload_;
};

}  // namespace cli
