// Writing a whole buffer to a descriptor.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

namespace vesk {

// Writes every byte of data to fd, going on after EINTR and partial writes. A socket is written
// with MSG_NOSIGNAL, so a closed peer gives EPIPE and never raises SIGPIPE. With a deadline the
// descriptor is written without blocking, and the call waits for it to become writable until the
// deadline passes (errno ETIMEDOUT). False with errno set when a write fails; a write that takes
// nothing counts as EIO.
bool writeAll(int fd, const void* data, std::size_t length,
              std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

}  // namespace vesk
