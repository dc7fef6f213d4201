// A private temporary folder for one test, removed with everything in it when the object dies.
// Thread: the test's thread owns it; Path() may be read from any thread while the object lives.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class Sandbox {
public:
    // Makes "$TMPDIR/qb-test-XXXXXX" (or under /tmp) with mode 0755; throws on failure.
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

    // Writes the bytes to relPath below the sandbox, making parent folders; returns the full
    // path. Throws on an absolute path, a ".." component or a write failure.
    std::filesystem::path Write(const std::string& relPath, std::string_view bytes);

    // The whole file below the sandbox; empty when it is missing.
    std::string Read(const std::string& relPath) const;

private:
    std::filesystem::path Resolve(const std::string& relPath) const;

    std::filesystem::path m_path;
};
