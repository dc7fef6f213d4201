#include "platform/file_io.h"

#include <unistd.h>

#include <cerrno>

int WriteAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}
