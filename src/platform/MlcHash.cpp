#include "platform/MlcHash.h"

#include <openssl/err.h>
#include <openssl/evp.h>

namespace {

[[noreturn]] void throwOpenSslError(const char* step) {
    std::string message = std::string(step) + " failed";
    if (const unsigned long code = ERR_get_error()) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof(reason));
        message += ": ";
        message += reason;
    }
    throw MlException(message);
}

}  // namespace

struct MlcHash::State {
    EVP_MD* digest = nullptr;
    EVP_MD_CTX* context = nullptr;
    ~State() {
        EVP_MD_CTX_free(context);
        EVP_MD_free(digest);
    }
};

MlcHash::MlcHash(const char* algorithm) : state_(std::make_unique<State>()) {
    state_->digest = EVP_MD_fetch(nullptr, algorithm, nullptr);
    if (state_->digest == nullptr) throwOpenSslError("EVP_MD_fetch");
    state_->context = EVP_MD_CTX_new();
    if (state_->context == nullptr) throwOpenSslError("EVP_MD_CTX_new");
    reset();
}

MlcHash::~MlcHash() = default;

void MlcHash::reset() {
    if (EVP_DigestInit_ex(state_->context, state_->digest, nullptr) != 1)
        throwOpenSslError("EVP_DigestInit_ex");
}

void MlcHash::addData(const void* data, size_t length) {
    if (length == 0) return;
    if (data == nullptr) throw MlException("addData called without data");
    if (EVP_DigestUpdate(state_->context, data, length) != 1) throwOpenSslError("EVP_DigestUpdate");
}

void MlcHash::finish(unsigned char* digest, size_t length) {
    const int size = EVP_MD_get_size(state_->digest);
    if (digest == nullptr || size <= 0 || length < static_cast<size_t>(size)) {
        throw MlException("digest buffer of " + std::to_string(length) + " bytes is too small for " +
                          std::to_string(size) + " bytes");
    }
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(state_->context, digest, &written) != 1) throwOpenSslError("EVP_DigestFinal_ex");
}

MlcSHA256::MlcSHA256() : MlcHash("SHA256") {}
