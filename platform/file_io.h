// Small file helpers shared by the settings store, the shortcuts and the worker.
// Thread: any; stateless.
#pragma once

#include <cstddef>

// write() until every byte is out, retrying on EINTR; 0 or the errno of the failure.
int WriteAll(int fd, const void* data, size_t size);
