#include "fd_io.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until fd is writable; false with errno set when the deadline passes or poll fails.
bool waitWritable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    pollfd entry = {fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

bool writeAll(int fd, const void* data, std::size_t length, std::optional<Clock::time_point> deadline) {
  struct stat status;
  const bool socket = ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < length) {
    ssize_t n;
    if (socket) {
      n = ::send(fd, bytes + done, length - done, MSG_NOSIGNAL | (deadline ? MSG_DONTWAIT : 0));
    } else {
      n = ::write(fd, bytes + done, length - done);
    }
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && deadline) {
      if (!waitWritable(fd, *deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace vesk
