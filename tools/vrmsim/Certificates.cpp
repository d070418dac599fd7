// The simulator's CA and server certificates (OpenSSL 3, EC P-256 keys: fast to make).

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "VrmSimulator.h"

namespace vrmsim {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

constexpr long kDay = 86400;

KeyPtr NewKey() {
    return KeyPtr(EVP_EC_gen("P-256"), &EVP_PKEY_free);
}

bool AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool RandomSerial(X509* cert) {
    std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(BN_new(), &BN_free);
    if (!bn || !BN_rand(bn.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY)) return false;
    return BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) != nullptr;
}

/// A certificate for `key`: a CA when `issuer` is null (self-signed), else a server leaf for `host`.
CertPtr MakeCert(EVP_PKEY* key, const std::string& commonName, X509* issuer, EVP_PKEY* issuerKey,
                 const std::string& host, long notBefore, long notAfter) {
    CertPtr cert(X509_new(), &X509_free);
    if (!cert || !X509_set_version(cert.get(), 2) || !RandomSerial(cert.get()))
        return CertPtr(nullptr, &X509_free);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), notAfter);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("vrmsim"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    bool ok = AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (issuer) {
        ok = ok && AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE") &&
             AddExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             AddExtension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth") &&
             AddExtension(cert.get(), &ctx, NID_subject_alt_name, "DNS:" + host) &&
             AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    } else {
        ok = ok && AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    if (!ok || !X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()))
        return CertPtr(nullptr, &X509_free);
    return cert;
}

bool FileExists(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

bool MakeDirs(const std::string& dir, std::string* error) {
    std::string partial;
    for (std::size_t i = 0; i <= dir.size(); ++i) {
        if (i == dir.size() || (dir[i] == '/' && i > 0)) {
            partial = dir.substr(0, i);
            if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
                if (error) *error = "cannot create " + partial + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    return true;
}

/// Writes through a temporary file and a rename, so a reader never sees half a file.
template <class WriteFn>
bool WritePem(const std::string& path, bool secret, WriteFn write, std::string* error) {
    std::string temp = path + ".tmp" + std::to_string(getpid());
    BioPtr bio(BIO_new_file(temp.c_str(), "w"), &BIO_free);
    if (!bio || !write(bio.get())) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    bio.reset();
    if (secret) chmod(temp.c_str(), 0600);
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot rename " + temp;
        return false;
    }
    return true;
}

bool SaveCert(const std::string& path, X509* cert, std::string* error) {
    return WritePem(
        path, false, [cert](BIO* bio) { return PEM_write_bio_X509(bio, cert) == 1; }, error);
}

bool SaveKey(const std::string& path, EVP_PKEY* key, std::string* error) {
    return WritePem(
        path, true,
        [key](BIO* bio) {
            return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        },
        error);
}

CertPtr LoadCert(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"), &BIO_free);
    return CertPtr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
}

KeyPtr LoadKey(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"), &BIO_free);
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
                  &EVP_PKEY_free);
}

/// Loads the CA of `dir`, making it first when it is missing or unreadable.
bool LoadOrMakeCa(const std::string& dir, CertPtr& cert, KeyPtr& key, std::string* error) {
    std::string certFile = dir + "/ca.pem", keyFile = dir + "/ca.key";
    if (FileExists(certFile) && FileExists(keyFile)) {
        cert = LoadCert(certFile);
        key = LoadKey(keyFile);
        if (cert && key && X509_check_private_key(cert.get(), key.get()) == 1) return true;
    }
    key = NewKey();
    if (!key) {
        if (error) *error = "cannot make a key";
        return false;
    }
    cert = MakeCert(key.get(), "vrmsim test CA", nullptr, nullptr, "", -kDay, 3650 * kDay);
    if (!cert) {
        if (error) *error = "cannot make the CA certificate";
        return false;
    }
    return SaveKey(keyFile, key.get(), error) && SaveCert(certFile, cert.get(), error);
}

/// Whether an existing server certificate still fits: signed by the CA, for the host, not expired.
bool ServerCertFits(const std::string& dir, const std::string& host, X509* ca) {
    CertPtr cert = LoadCert(dir + "/server.pem");
    KeyPtr key = LoadKey(dir + "/server.key");
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) return false;
    if (X509_check_host(cert.get(), host.c_str(), host.size(), 0, nullptr) != 1) return false;
    if (X509_cmp_current_time(X509_get0_notAfter(cert.get())) <= 0) return false;
    EVP_PKEY* caKey = X509_get0_pubkey(ca);
    return caKey && X509_verify(cert.get(), caKey) == 1;
}

}  // namespace

bool EnsureCertificates(const std::string& dir, const std::string& hostName, std::string* error) {
    if (!MakeDirs(dir, error)) return false;
    CertPtr ca(nullptr, &X509_free);
    KeyPtr caKey(nullptr, &EVP_PKEY_free);
    if (!LoadOrMakeCa(dir, ca, caKey, error)) return false;
    if (ServerCertFits(dir, hostName, ca.get())) return true;
    return MakeCertificate(dir, hostName, CertificateKind::Valid, dir + "/server.pem", dir + "/server.key",
                           error);
}

bool MakeCertificate(const std::string& dir, const std::string& hostName, CertificateKind kind,
                     const std::string& certFile, const std::string& keyFile, std::string* error) {
    if (!MakeDirs(dir, error)) return false;
    CertPtr ca(nullptr, &X509_free);
    KeyPtr caKey(nullptr, &EVP_PKEY_free);
    if (kind == CertificateKind::UnknownCa) {
        // A CA of its own that is never written to ca.pem, so no client of the simulator trusts it.
        caKey = NewKey();
        if (caKey) ca = MakeCert(caKey.get(), "unknown test CA", nullptr, nullptr, "", -kDay, 3650 * kDay);
        if (!ca) {
            if (error) *error = "cannot make the unknown CA";
            return false;
        }
    } else if (!LoadOrMakeCa(dir, ca, caKey, error)) {
        return false;
    }
    std::string host = kind == CertificateKind::WrongHost ? std::string("other.invalid") : hostName;
    long notBefore = kind == CertificateKind::Expired ? -30 * kDay : -kDay;
    long notAfter = kind == CertificateKind::Expired ? -kDay : 825 * kDay;
    KeyPtr key = NewKey();
    CertPtr cert = key ? MakeCert(key.get(), host, ca.get(), caKey.get(), host, notBefore, notAfter)
                       : CertPtr(nullptr, &X509_free);
    if (!cert) {
        if (error) *error = "cannot make the server certificate";
        return false;
    }
    return SaveKey(keyFile, key.get(), error) && SaveCert(certFile, cert.get(), error);
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return std::string();
    static const char* kDigits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0xF]);
    }
    return hex;
}

}  // namespace vrmsim
