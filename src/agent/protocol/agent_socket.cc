#include "agent_socket.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "fd_io.h"

namespace vesk::agentproto {
namespace {

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60'000 ? 60'000 : static_cast<int>(left);
}

// Waits until fd is ready for events or the deadline passes.
IoStatus waitFor(int fd, short events, Clock::time_point deadline, int& errorNumber) {
  for (;;) {
    struct pollfd entry = {fd, events, 0};
    const int timeout = millisecondsUntil(deadline);
    const int n = poll(&entry, 1, timeout);
    if (n > 0) return IoStatus::Ok;
    if (n == 0) {
      if (Clock::now() >= deadline) {
        errorNumber = ETIMEDOUT;
        return IoStatus::Timeout;
      }
      continue;
    }
    if (errno == EINTR) continue;
    errorNumber = errno;
    return IoStatus::Error;
  }
}

}  // namespace

UniqueFd connectUnix(const std::string& path, Clock::time_point deadline, int& errorNumber) {
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    errorNumber = ENAMETOOLONG;
    return UniqueFd();
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  for (;;) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
      errorNumber = errno;
      return UniqueFd();
    }
    if (connect(fd.get(), reinterpret_cast<const struct sockaddr*>(&address), sizeof address) == 0) return fd;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EINPROGRESS) {
      // Completes in the background; wait for it and read the outcome.
      if (waitFor(fd.get(), POLLOUT, deadline, errorNumber) != IoStatus::Ok) return UniqueFd();
      int soError = 0;
      socklen_t size = sizeof soError;
      if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &size) != 0) soError = errno;
      if (soError == 0) return fd;
      errorNumber = soError;
      return UniqueFd();
    }
    if (error != EAGAIN) {
      errorNumber = error;
      return UniqueFd();
    }
    // The listener's queue is full: it is alive but not accepting. Try again until the deadline.
    if (Clock::now() >= deadline) {
      errorNumber = ETIMEDOUT;
      return UniqueFd();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

IoStatus writeAll(int fd, const unsigned char* data, std::size_t length, Clock::time_point deadline,
                  int& errorNumber) {
  if (vesk::writeAll(fd, data, length, deadline)) return IoStatus::Ok;
  errorNumber = errno;
  if (errorNumber == ETIMEDOUT) return IoStatus::Timeout;
  return errorNumber == EPIPE || errorNumber == ECONNRESET || errorNumber == EIO ? IoStatus::Closed : IoStatus::Error;
}

IoStatus readExact(int fd, unsigned char* data, std::size_t length, Clock::time_point deadline, int& errorNumber) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = recv(fd, data + done, length - done, MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      errorNumber = ECONNRESET;
      return IoStatus::Closed;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const IoStatus status = waitFor(fd, POLLIN, deadline, errorNumber);
      if (status != IoStatus::Ok) return status;
      continue;
    }
    errorNumber = errno;
    return errorNumber == ECONNRESET ? IoStatus::Closed : IoStatus::Error;
  }
  return IoStatus::Ok;
}

IoStatus readFrame(int fd, InFrame& frame, Clock::time_point headerDeadline, Clock::time_point bodyDeadline,
                   int& errorNumber) {
  unsigned char header[kHeaderSize];
  IoStatus status = readExact(fd, header, 1, headerDeadline, errorNumber);
  if (status == IoStatus::Ok) status = readExact(fd, header + 1, kHeaderSize - 1, bodyDeadline, errorNumber);
  if (status != IoStatus::Ok) return status;
  frame.headerStatus = decodeHeader(header, frame.header);
  frame.payload.clear();
  if (frame.headerStatus != HeaderStatus::Ok) return IoStatus::Ok;
  frame.payload.resize(frame.header.length);
  return readExact(fd, frame.payload.data(), frame.payload.size(), bodyDeadline, errorNumber);
}

}  // namespace vesk::agentproto
