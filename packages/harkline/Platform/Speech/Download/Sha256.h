#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

namespace harkline {

// An incremental SHA-256 over libcrypto's EVP digest.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The digest of everything given since the last reset, as lower-case hex.
    std::string hexDigest() const;
    void reset();

private:
    evp_md_ctx_st* context_;
};

}  // namespace harkline
