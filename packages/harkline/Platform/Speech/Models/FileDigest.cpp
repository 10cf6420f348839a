#include "harkline/Platform/Speech/Models/FileDigest.h"

#include <cerrno>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

namespace harkline {

struct Sha256::Context {
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(digest); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (context_->digest == nullptr) throw std::bad_alloc();
    reset();
}

void Sha256::reset() {
    if (EVP_DigestInit_ex(context_->digest, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(context_->digest, data, size) != 1) throw std::runtime_error("SHA-256 failed");
}

std::string Sha256::hexDigest() const {
    // Finishes a copy, so that more bytes can follow.
    Context copy;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (copy.digest == nullptr || EVP_MD_CTX_copy_ex(copy.digest, context_->digest) != 1 ||
        EVP_DigestFinal_ex(copy.digest, digest, &length) != 1)
        throw std::runtime_error("SHA-256 failed");
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(digits[digest[i] >> 4]);
        text.push_back(digits[digest[i] & 0xf]);
    }
    return text;
}

std::string Sha256::ofFile(const std::filesystem::path& path) {
    // A link is never taken for the file it names: what is hashed is what was installed.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    Sha256 digest;
    std::vector<char> buffer(128 * 1024);
    for (;;) {
        ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), "cannot read " + path.string());
        }
        if (count == 0) break;
        digest.update(buffer.data(), static_cast<std::size_t>(count));
    }
    ::close(fd);
    return digest.hexDigest();
}

}  // namespace harkline
