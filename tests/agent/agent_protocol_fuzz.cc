// Fuzz target: the agent's frame decoder. Whatever the bytes, decoding must neither crash nor read
// outside them, and whatever it accepts must encode again to a frame that decodes to the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent_protocol.h"

using namespace vesk::agentproto;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void roundTripRequest(const Request& request) {
  vesk::SecretBytes frame;
  std::string why;
  check(encodeRequest(request, frame, why));
  FrameHeader header;
  check(decodeHeader(frame.data(), header) == HeaderStatus::Ok);
  check(header.length == frame.size() - kHeaderSize);
  Request again;
  check(decodeRequest(header.type, frame.data() + kHeaderSize, header.length, again, why));
  check(again.user == request.user && again.password == request.password && again.oldPassword == request.oldPassword &&
        again.adminUser == request.adminUser && again.adminPassword == request.adminPassword &&
        again.cacheName == request.cacheName && again.flags == request.flags);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= kHeaderSize) {
    FrameHeader header;
    if (decodeHeader(data, header) == HeaderStatus::Ok) check(header.length <= kMaxPayload);
  }
  // The payload is tried as every message type, header or not.
  const std::uint8_t* payload = size >= kHeaderSize ? data + kHeaderSize : data;
  const std::size_t length = size >= kHeaderSize ? size - kHeaderSize : size;
  std::string why;
  for (std::uint16_t type = 0; type <= 8; ++type) {
    Request request;
    if (decodeRequest(static_cast<MessageType>(type), payload, length, request, why)) roundTripRequest(request);
  }
  for (MessageType type : {MessageType::Reply, MessageType::StatusReport}) {
    Reply reply;
    if (!decodeReply(type, payload, length, reply, why)) continue;
    vesk::SecretBytes frame;
    check(encodeReply(reply, frame, why));
  }
  return 0;
}
