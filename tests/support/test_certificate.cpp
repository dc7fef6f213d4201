#include "support/test_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

bool WritePem(const std::filesystem::path& path, const std::function<int(FILE*)>& write) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool ok = write(file) == 1;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

TestCertificate::TestCertificate(const std::filesystem::path& folder)
    : m_cert(folder / "cert.pem"), m_key(folder / "key.pem") {
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (!key || !cert) {
        m_error = "cannot make a key";
        return;
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    if (!AddExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        m_error = "cannot sign the certificate";
        return;
    }
    if (!WritePem(m_cert, [&](FILE* f) { return PEM_write_X509(f, cert.get()); }) ||
        !WritePem(m_key, [&](FILE* f) {
            return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        })) {
        m_error = "cannot write " + m_cert.string();
        return;
    }
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx.0", X509_subject_name_hash(cert.get()));
    m_hashName = hash;
}
