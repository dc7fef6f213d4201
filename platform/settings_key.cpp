#include "platform/settings_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/utf8.h"

namespace {

constexpr const char* ROOT_KEY = "SOFTWARE";
// Longest UTF-8 encoding of MAX_VALUE_CHARS characters.
constexpr size_t MAX_VALUE_BYTES = CSettingsKey::MAX_VALUE_CHARS * 4;

// A key or value name usable as one file name. Names starting with '.' are left to the
// temporary files of atomic writes, so one of those can never be read as a value.
bool IsValidName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool SplitKeyPath(const std::string& path, std::vector<std::string>& parts) {
    size_t begin = 0;
    while (true) {
        const size_t end = path.find('\\', begin);
        const std::string part =
            path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (!IsValidName(part)) {
            return false;
        }
        parts.push_back(part);
        if (end == std::string::npos) {
            return true;
        }
        begin = end + 1;
    }
}

bool GetConfigFolder(std::string& folder) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            return false;
        }
        folder = std::string(home) + "/.config";
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return true;
}

// Number of characters in UTF-8 text, or -1 when it is not well-formed or holds a zero.
long CountUtf8Chars(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    long count = 0;
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        size_t length = 0;
        if (bytes[i] == 0 || !DecodeUtf8Char(bytes + i, text.size() - i, cp, length)) {
            return -1;
        }
        i += length;
        ++count;
    }
    return count;
}

}  // namespace

long CSettingsKey::GetKeyFolder(const std::string& keyPath, std::string& folder) {
    std::vector<std::string> parts;
    if (!SplitKeyPath(keyPath, parts) || parts.size() < 2 || parts[0] != ROOT_KEY) {
        return EINVAL;
    }
    std::string result;
    if (!GetConfigFolder(result)) {
        return ENOENT;
    }
    for (size_t i = 1; i < parts.size(); ++i) {
        result += (result == "/" ? "" : "/") + parts[i];
    }
    folder = result;
    return 0;
}

long CSettingsKey::Open(const std::string& keyPath) {
    Close();
    std::string folder;
    if (const long err = GetKeyFolder(keyPath, folder); err != 0) {
        return err;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        return errno;
    }
    if (!S_ISDIR(st.st_mode)) {
        return ENOTDIR;
    }
    // Keys are always opened for reading and writing.
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
        return errno;
    }
    m_strFolder = folder;
    return 0;
}

long CSettingsKey::Create(const std::string& keyPath) {
    Close();
    std::string folder;
    if (const long err = GetKeyFolder(keyPath, folder); err != 0) {
        return err;
    }
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string level = folder.substr(0, slash);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    return Open(keyPath);
}

void CSettingsKey::Close() {
    m_strFolder.clear();
}

long CSettingsKey::QueryStringValue(const std::string& name, std::string& value) const {
    if (!IsOpen()) {
        return EBADF;
    }
    if (!IsValidName(name)) {
        return ENOENT;
    }
    const std::string path = m_strFolder + "/" + name;
    // Non-blocking so that a stray FIFO of that name cannot hang the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == EISDIR ? ENOENT : errno;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const long err = errno;
        ::close(fd);
        return err;
    }
    if (S_ISDIR(st.st_mode)) {  // a subkey of that name, not a value
        ::close(fd);
        return ENOENT;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return ERROR_INVALID_DATA;
    }
    std::string data;
    char buffer[1024];
    while (data.size() <= MAX_VALUE_BYTES) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const long err = errno;
            ::close(fd);
            return err;
        }
        if (n == 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (data.size() > MAX_VALUE_BYTES) {
        return ERROR_MORE_DATA;
    }
    const long chars = CountUtf8Chars(data);
    if (chars < 0) {
        return ERROR_INVALID_DATA;
    }
    if (static_cast<size_t>(chars) > MAX_VALUE_CHARS) {
        return ERROR_MORE_DATA;
    }
    value = data;
    return 0;
}

long CSettingsKey::SetStringValue(const std::string& name, const std::string& value) {
    if (!IsOpen()) {
        return EBADF;
    }
    if (!IsValidName(name)) {
        return EINVAL;
    }
    if (CountUtf8Chars(value) < 0) {
        return ERROR_INVALID_DATA;
    }
    return WriteFileAtomically(m_strFolder + "/" + name, value, 0600);
}

long CSettingsKey::RecurseDeleteKey(const std::string& subKey) {
    if (!IsOpen()) {
        return EBADF;
    }
    std::vector<std::string> parts;
    if (!SplitKeyPath(subKey, parts)) {
        return EINVAL;
    }
    std::string folder = m_strFolder;
    for (const std::string& part : parts) {
        folder += "/" + part;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return errno;
    }
    if (!S_ISDIR(st.st_mode)) {
        return ENOENT;  // a value of that name is not a key
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return ec ? ec.value() : 0;
}
