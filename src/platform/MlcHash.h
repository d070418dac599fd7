#ifndef FCSDK_PLATFORM_MLCHASH_H
#define FCSDK_PLATFORM_MLCHASH_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

/// Failure of a cryptographic service.
class MlException : public std::exception {
  public:
    explicit MlException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    /// The failure's message text.
    std::string formatError() const { return message_; }

  private:
    std::string message_;
};

/// A message digest over OpenSSL's EVP interface. Failures throw MlException.
class MlcHash {
  public:
    virtual ~MlcHash();
    void reset();
    void addData(const void* data, size_t length);
    /// Writes the digest into `digest`; `length` must be at least the digest size.
    void finish(unsigned char* digest, size_t length);

  protected:
    explicit MlcHash(const char* algorithm);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

/// SHA-256 (32-byte digest).
class MlcSHA256 : public MlcHash {
  public:
    MlcSHA256();
};

#endif  // FCSDK_PLATFORM_MLCHASH_H
