// Sets environment variables for one test and puts the old values back when it ends, so no
// test reads or writes below the real $HOME. Thread: the test's thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class EnvGuard {
public:
    EnvGuard() = default;
    ~EnvGuard();
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

    // HOME = root/home and every XDG base and Wine variable unset, so each folder comes
    // from HOME unless a test sets more. Returns the home folder (created).
    std::filesystem::path UseHome(const std::filesystem::path& root);

private:
    void Remember(const std::string& name);

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};
