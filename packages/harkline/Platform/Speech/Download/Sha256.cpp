#include "harkline/Platform/Speech/Download/Sha256.h"

#include <memory>
#include <stdexcept>

#include <openssl/evp.h>

namespace harkline {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_) throw std::bad_alloc();
    reset();
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::reset() {
    if (EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 is not available");
}

void Sha256::update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(context_, data, size) != 1) throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256::hexDigest() const {
    // Finishes a copy, so that more bytes can follow.
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> copy(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), context_) != 1 || EVP_DigestFinal_ex(copy.get(), digest, &length) != 1)
        throw std::runtime_error("SHA-256 failed");
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += hexDigits[digest[i] >> 4];
        hex += hexDigits[digest[i] & 0xf];
    }
    return hex;
}

}  // namespace harkline
