// SHA-256 through MlcSHA256 and the session's hexadecimal digest.

#include "platform/MlcHash.h"

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "connection/FusionComputeConnection.h"

namespace {

// Reference digests from the standard test vectors and `sha256sum`.
const struct {
    std::string input;
    const char* digest;
} kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {std::string("a\0b", 3), "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"},
    {std::string(1, '\0'), "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"},
    {"Huawei@CLOUD8!", "16313cf27cf5a6d7512b78c7a3973457e418de7007a1d13d68c1ba35730756a7"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

std::string Hex(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

TEST(Sha256, ConnectionDigestMatchesReferenceVectors) {
    FusionComputeSDKWrapper::CFusionComputeConnection connection;
    for (const auto& vector : kVectors) {
        EXPECT_EQ(connection.SHA256Hash(vector.input), vector.digest) << vector.input.size() << " bytes";
    }
}

TEST(Sha256, HasherAcceptsDataInPiecesAndResets) {
    MlcSHA256 hasher;
    hasher.addData("garbage", 7);
    hasher.reset();
    hasher.addData("a", 1);
    hasher.addData("", 0);
    hasher.addData("bc", 2);
    unsigned char digest[40];
    hasher.finish(digest, sizeof(digest));
    EXPECT_EQ(Hex(digest, 32), kVectors[1].digest);
}

TEST(Sha256, TooSmallDigestBufferThrowsMlException) {
    MlcSHA256 hasher;
    unsigned char digest[16];
    try {
        hasher.finish(digest, sizeof(digest));
        ADD_FAILURE() << "no exception";
    } catch (const MlException& failure) {
        EXPECT_NE(failure.formatError().find("too small"), std::string::npos) << failure.formatError();
    }
}

}  // namespace
