#include "harkline/Platform/Speech/Download/Sha256.h"

#include <memory>
#include <stdexcept>

#include <openssl/evp.h>

#include "harkline/Platform/Speech/Download/SharedLibrary.h"

namespace harkline {
namespace {

// libcrypto's digest functions, loaded on first use.
struct Digests {
    decltype(&::EVP_MD_CTX_new) newContext;
    decltype(&::EVP_MD_CTX_free) freeContext;
    decltype(&::EVP_MD_CTX_copy_ex) copyContext;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_DigestInit_ex) init;
    decltype(&::EVP_DigestUpdate) update;
    decltype(&::EVP_DigestFinal_ex) final;

    static const Digests& get() {
        static const Digests digests = [] {
            static const SharedLibrary library("libcrypto.so.3", "libssl3");
            Digests loaded;
            library.bind(loaded.newContext, "EVP_MD_CTX_new");
            library.bind(loaded.freeContext, "EVP_MD_CTX_free");
            library.bind(loaded.copyContext, "EVP_MD_CTX_copy_ex");
            library.bind(loaded.sha256, "EVP_sha256");
            library.bind(loaded.init, "EVP_DigestInit_ex");
            library.bind(loaded.update, "EVP_DigestUpdate");
            library.bind(loaded.final, "EVP_DigestFinal_ex");
            return loaded;
        }();
        return digests;
    }
};

}  // namespace

Sha256::Sha256() : context_(Digests::get().newContext()) {
    if (!context_) throw std::bad_alloc();
    reset();
}

Sha256::~Sha256() { Digests::get().freeContext(context_); }

void Sha256::reset() {
    if (Digests::get().init(context_, Digests::get().sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 is not available");
}

void Sha256::update(const void* data, std::size_t size) {
    if (Digests::get().update(context_, data, size) != 1) throw std::runtime_error("SHA-256 update failed");
}

std::string Sha256::hexDigest() const {
    // Finishes a copy, so that more bytes can follow.
    const auto& digests = Digests::get();
    std::unique_ptr<EVP_MD_CTX, decltype(digests.freeContext)> copy(digests.newContext(), digests.freeContext);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!copy || digests.copyContext(copy.get(), context_) != 1 || digests.final(copy.get(), digest, &length) != 1)
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
