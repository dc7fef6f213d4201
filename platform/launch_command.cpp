#include "platform/launch_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// As much of the first line as the kernel looks at for "#!".
constexpr size_t HEADER_BYTES = 256;

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// "#!interpreter [one argument]" as the kernel splits it: the rest of the line after the
// interpreter, trimmed, is a single argument.
int ParseShebang(const std::string& header, const std::string& path, LaunchCommand& command) {
    std::string line = header.substr(2, header.find('\n') - 2);
    const char* blanks = " \t\r";
    const size_t start = line.find_first_not_of(blanks);
    if (start == std::string::npos) {
        return ENOEXEC;
    }
    const size_t end = line.find_first_of(blanks, start);
    const std::string interpreter = line.substr(start, end - start);
    std::string argument;
    if (end != std::string::npos) {
        const size_t argStart = line.find_first_not_of(blanks, end);
        if (argStart != std::string::npos) {
            argument = line.substr(argStart, line.find_last_not_of(blanks) - argStart + 1);
        }
    }
    // A relative interpreter would depend on the working folder of whoever starts the file.
    if (interpreter[0] != '/') {
        return ENOEXEC;
    }
    struct stat st {};
    if (::stat(interpreter.c_str(), &st) != 0) {
        return ENOENT;
    }
    if (!S_ISREG(st.st_mode) || ::access(interpreter.c_str(), X_OK) != 0) {
        return EACCES;
    }
    command.kind = LaunchKind::Script;
    command.argv = {interpreter};
    if (!argument.empty()) {
        command.argv.push_back(argument);
    }
    command.argv.push_back(path);
    return 0;
}

}  // namespace

std::string FindProgramOnPath(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? name : std::string();
    }
    const char* env = std::getenv("PATH");
    const std::string paths = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= paths.size()) {
        size_t end = paths.find(':', begin);
        if (end == std::string::npos) {
            end = paths.size();
        }
        const std::string dir = paths.substr(begin, end - begin);
        // Empty and relative entries would resolve against the current folder: skip them.
        if (!dir.empty() && dir[0] == '/') {
            const std::string candidate = dir.back() == '/' ? dir + name : dir + "/" + name;
            if (IsExecutableFile(candidate)) {
                return candidate;
            }
        }
        begin = end + 1;
    }
    return {};
}

int GetLaunchCommand(const std::string& path, LaunchCommand& command) {
    if (path.empty()) {
        return ENOENT;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return EISDIR;
    }
    char buffer[HEADER_BYTES];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    const int readError = errno;
    ::close(fd);
    if (n < 0) {
        return readError;
    }
    const std::string header(buffer, static_cast<size_t>(n));

    if (header.compare(0, 2, "MZ") == 0) {
        const std::string wine = FindProgramOnPath("wine");
        if (wine.empty()) {
            return ENOENT;
        }
        command.kind = LaunchKind::WindowsProgram;
        command.argv = {wine, path};
        return 0;
    }
    if (header.compare(0, 2, "#!") == 0) {
        return ParseShebang(header, path, command);
    }
    if (header.compare(0, 4,
                       "\x7f"
                       "ELF") == 0) {
        command.kind = LaunchKind::NativeProgram;
        command.argv = {path};
        return 0;
    }
    return ENOEXEC;
}

int EnsureOwnerExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno;
    }
    if ((st.st_mode & S_IXUSR) != 0) {
        return 0;
    }
    if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) != 0) {
        return errno;
    }
    return 0;
}
