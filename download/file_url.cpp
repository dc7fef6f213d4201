#include "download/file_url.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string MakeFileUrl(const std::string& base, const std::string& name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url;
    url.reserve(base.size() + name.size() * 3);
    url = base;
    for (unsigned char c : name) {
        if (IsUnreserved(c) || c == '/') {
            url.push_back(static_cast<char>(c));
        } else {
            url.push_back('%');
            url.push_back(kHex[c >> 4]);
            url.push_back(kHex[c & 0x0F]);
        }
    }
    return url;
}
