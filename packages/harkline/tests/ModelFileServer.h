#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "test-support/ChildProcess.h"

namespace harkline::testing_support {

// tests/model-file-server.py serving a folder on a free local port. Its control paths make
// it misbehave ("_fault?...") and tell how many bytes of each file it sent ("_served").
class ModelFileServer {
public:
    explicit ModelFileServer(const std::filesystem::path& folder)
        : process_("/usr/bin/python3", testsupport::ProcessOptions{{MODEL_FILE_SERVER, folder.string()}}) {
        auto port = process_.readLine(std::chrono::seconds(10));
        if (!port) throw std::runtime_error("the model file server did not start");
        base_ = "http://127.0.0.1:" + *port + "/";
    }

    const std::string& base() const { return base_; }
    std::string control(const std::string& path) const {
        return testsupport::runProcess("/usr/bin/curl", {{"-sS", base_ + path}}).standardOutput;
    }
    std::uintmax_t served(const std::string& name) const {
        return nlohmann::json::parse(control("_served")).value("/" + name, std::uintmax_t{0});
    }

private:
    testsupport::ChildProcess process_;
    std::string base_;
};

}  // namespace harkline::testing_support
