#include "support/env_guard.h"

#include <cstdlib>

EnvGuard::~EnvGuard() {
    // Newest first, so a name set twice ends with its value from before the test.
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second) {
            setenv(it->first.c_str(), it->second->c_str(), 1);
        } else {
            unsetenv(it->first.c_str());
        }
    }
}

void EnvGuard::Remember(const std::string& name) {
    const char* old = std::getenv(name.c_str());
    m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
}

void EnvGuard::Set(const std::string& name, const std::string& value) {
    Remember(name);
    setenv(name.c_str(), value.c_str(), 1);
}

void EnvGuard::Unset(const std::string& name) {
    Remember(name);
    unsetenv(name.c_str());
}

std::filesystem::path EnvGuard::UseHome(const std::filesystem::path& root) {
    const std::filesystem::path home = root / "home";
    std::filesystem::create_directories(home);
    Set("HOME", home.string());
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "WINEPREFIX"}) {
        Unset(name);
    }
    return home;
}
