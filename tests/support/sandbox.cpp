#include "support/sandbox.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "support/test_data.h"

namespace fs = std::filesystem;

Sandbox::Sandbox() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string pattern = base + "/qb-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    }
    m_path = buf.data();
    // mkdtemp makes the folder 0700; an nginx worker running as another user must read it.
    if (chmod(m_path.c_str(), 0755) != 0) {
        int err = errno;
        std::error_code ec;
        fs::remove_all(m_path, ec);
        throw std::runtime_error("chmod " + m_path.string() + ": " + std::strerror(err));
    }
}

Sandbox::~Sandbox() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

fs::path Sandbox::Resolve(const std::string& relPath) const {
    fs::path rel(relPath);
    if (rel.empty() || rel.is_absolute()) {
        throw std::invalid_argument("sandbox path must be relative: \"" + relPath + "\"");
    }
    for (const auto& part : rel) {
        if (part == "..") {
            throw std::invalid_argument("sandbox path must stay inside: \"" + relPath + "\"");
        }
    }
    return m_path / rel;
}

fs::path Sandbox::Write(const std::string& relPath, std::string_view bytes) {
    fs::path full = Resolve(relPath);
    if (full.has_parent_path()) {
        fs::create_directories(full.parent_path());
    }
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + full.string());
    }
    return full;
}

std::string Sandbox::Read(const std::string& relPath) const {
    return ReadFileBytes(Resolve(relPath));
}
