// Deadline-bounded frame I/O on the agent's Unix stream socket, shared by the client and the
// daemon.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "agent_protocol.h"
#include "unique_fd.h"

namespace vesk::agentproto {

using Clock = std::chrono::steady_clock;

enum class IoStatus { Ok, Closed, Timeout, Error };

// Connects a non-blocking stream socket to path, retrying while the listener's queue is full, until
// deadline. On failure errorNumber holds the errno (ETIMEDOUT for the deadline).
UniqueFd connectUnix(const std::string& path, Clock::time_point deadline, int& errorNumber);

// Writes every byte before deadline (the descriptor may be non-blocking; SIGPIPE is never raised).
IoStatus writeAll(int fd, const unsigned char* data, std::size_t length, Clock::time_point deadline, int& errorNumber);

// Reads exactly length bytes before deadline; Closed when the peer closed before the last byte.
IoStatus readExact(int fd, unsigned char* data, std::size_t length, Clock::time_point deadline, int& errorNumber);

// One frame read from a socket: the header, and the payload in a wiping buffer.
struct InFrame {
  FrameHeader header;
  HeaderStatus headerStatus = HeaderStatus::Ok;
  SecretBytes payload;
};

// Reads a header and, when the header is acceptable, its payload. Returns Ok with
// frame.headerStatus telling whether the header was acceptable (the payload is then not read).
// headerDeadline bounds the wait for the first byte; the rest must follow before bodyDeadline.
IoStatus readFrame(int fd, InFrame& frame, Clock::time_point headerDeadline, Clock::time_point bodyDeadline,
                   int& errorNumber);

}  // namespace vesk::agentproto
