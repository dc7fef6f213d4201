#include "support/test_data.h"

#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

std::string Md5Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("EVP_Digest(md5) failed");
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(len * 2);
    for (unsigned int i = 0; i < len; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0F]);
    }
    return hex;
}

std::string MakeBytes(size_t n, uint32_t seed) {
    // splitmix64: cheap, well mixed, and stable across platforms.
    uint64_t state = 0x9E3779B97F4A7C15ull * (static_cast<uint64_t>(seed) + 1);
    std::string out;
    out.resize(n);
    for (size_t i = 0; i < n; i += 8) {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (size_t k = 0; k < 8 && i + k < n; ++k) {
            out[i + k] = static_cast<char>(z >> (8 * k));
        }
    }
    return out;
}

std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
