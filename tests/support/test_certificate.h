// A self-signed certificate for 127.0.0.1 and localhost, made fresh for a test.
// Thread: any; each object owns its files.
#pragma once

#include <filesystem>
#include <string>

class TestCertificate {
public:
    // Writes cert.pem and key.pem into folder (valid from a day ago for two days); on
    // failure Ok() is false and Error() says why.
    explicit TestCertificate(const std::filesystem::path& folder);

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const std::filesystem::path& CertFile() const { return m_cert; }
    const std::filesystem::path& KeyFile() const { return m_key; }
    // The name OpenSSL looks the certificate up by in a CA folder ("1a2b3c4d.0").
    const std::string& HashName() const { return m_hashName; }

private:
    std::filesystem::path m_cert;
    std::filesystem::path m_key;
    std::string m_hashName;
    std::string m_error;
};
