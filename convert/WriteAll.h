#pragma once

#include <cstddef>

namespace kestrav {

// Writes all of data to fd, going on after partial writes and interruptions.
// False, with errno set, when a write fails.
bool writeAll(int fd, const void* data, size_t size);

}  // namespace kestrav
