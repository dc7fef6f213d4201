// The program's settings store, kept as registry-style keys (folders below the XDG config
// folder) holding string values (one small file each). Thread: the user-interface thread;
// each object owns its open key and nothing else.
#pragma once

#include <string>

// Error codes of the store besides errno values (ENOENT 2 for a missing key or value).
constexpr long ERROR_INVALID_DATA = 13;  // a value that is not text
constexpr long ERROR_MORE_DATA = 234;    // a value longer than MAX_VALUE_CHARS

class CSettingsKey {
public:
    // Longest string value read back, in characters (a 260-unit buffer with its zero).
    static constexpr size_t MAX_VALUE_CHARS = 259;

    CSettingsKey() = default;
    ~CSettingsKey() { Close(); }
    CSettingsKey(const CSettingsKey&) = delete;
    CSettingsKey& operator=(const CSettingsKey&) = delete;

    // Key paths are backslash-separated below "SOFTWARE", the config folder
    // ($XDG_CONFIG_HOME, else $HOME/.config): "SOFTWARE\\A\\B" is "<config>/A/B".
    // All calls return 0 or an error code.

    // Opens an existing key (ENOENT when missing).
    long Open(const std::string& keyPath);
    // Opens the key, making it and every missing parent first.
    long Create(const std::string& keyPath);
    void Close();
    bool IsOpen() const { return !m_strFolder.empty(); }
    // The key's folder while open.
    const std::string& GetFolder() const { return m_strFolder; }

    // Reads a string value: ENOENT when absent, ERROR_INVALID_DATA when the stored bytes are
    // not UTF-8 text without zero bytes, ERROR_MORE_DATA when longer than MAX_VALUE_CHARS.
    long QueryStringValue(const std::string& name, std::string& value) const;
    // Replaces a string value atomically: a reader sees the old or the new text, never a
    // part. ERROR_INVALID_DATA for text that could not be read back as text.
    long SetStringValue(const std::string& name, const std::string& value);
    // Deletes the subkey (one name below this key) with everything in it; this key stays.
    long RecurseDeleteKey(const std::string& subKey);

    // The folder of a key path; 0 or an error code (EINVAL for a path outside "SOFTWARE" or
    // with a part that is empty, starts with '.' or holds a '/'; ENOENT when no config folder
    // can be found).
    static long GetKeyFolder(const std::string& keyPath, std::string& folder);

private:
    std::string m_strFolder;
};
