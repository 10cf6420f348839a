#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

namespace harkline {

// SHA-256 of bytes given in pieces, written as 64 lower-case hex digits.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest of everything given since construction or the last reset; more may follow.
    std::string hexDigest() const;
    void reset();

    // Of a whole regular file, never of one a link names; throws std::system_error when
    // it cannot be read.
    static std::string ofFile(const std::filesystem::path& path);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace harkline
