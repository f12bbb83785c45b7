// The wire protocol between the directory agent client and the agent daemon.
//
// A frame is a 12-byte header followed by a payload:
//   magic   u32  "KSTV" (0x4b535456)
//   version u16  kProtocolVersion
//   type    u16  a MessageType
//   length  u32  payload bytes, at most kMaxPayload
// All integers are big-endian. A payload is the message's fields in a fixed order: a text is a u16
// length and that many bytes, a number is an i32. A payload with missing or trailing bytes, a field
// out of its bounds, or an unknown type is refused as a whole. Both sides decode through the same
// functions, so both sides validate every field. Buffers that may hold passwords are SecretBuffers,
// which wipe themselves. docs/agent-protocol.md describes the protocol for readers of the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_results.h"
#include "shredder.h"

namespace vesk::agentproto {

inline constexpr std::uint32_t kMagic = 0x4b535456;
inline constexpr std::uint16_t kProtocolVersion = 1;
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kMaxPayload = 8192;

// Field bounds, in bytes.
inline constexpr std::size_t kMaxNameLength = 256;
inline constexpr std::size_t kMaxPasswordLength = 1024;
inline constexpr std::size_t kMaxCacheNameLength = 1024;
inline constexpr std::size_t kMaxErrorTextLength = 2048;
inline constexpr std::size_t kMaxStatusReportLength = 4096;

enum class MessageType : std::uint16_t {
  Validate = 1,      // user, password
  Change = 2,        // user, new password, old password
  Set = 3,           // user, new password, admin user, admin password
  Authenticate = 4,  // credential cache name
  SetWithCache = 5,  // user, new password, credential cache name
  GetUser = 6,       // user, flags
  Status = 7,        // no fields; answered with a StatusReport
  Reply = 0x100,     // result, error code, error text, principal
  StatusReport = 0x101,  // the agent's state as text (see agent_status.h)
};

struct Request {
  MessageType type = MessageType::Validate;
  std::string user;
  Shredder password;     // Validate: the password; Change, Set, SetWithCache: the new password
  Shredder oldPassword;  // Change
  std::string adminUser;
  Shredder adminPassword;
  std::string cacheName;  // Authenticate, SetWithCache
  std::int32_t flags = 0;  // GetUser
};

// The answer to a request. A status report travels in a StatusReport frame of its own: its result
// is then 0 and only statusReport is set.
struct Reply {
  std::int32_t result = 0;
  std::int32_t errorCode = 0;
  std::string errorText;
  std::string principal;
  std::string statusReport;
};

struct FrameHeader {
  std::uint16_t version = 0;
  MessageType type = MessageType::Reply;
  std::uint32_t length = 0;
};

enum class HeaderStatus { Ok, BadMagic, BadVersion, BadType, TooLong };

// Reads the 12 header bytes. header is filled even on BadVersion, so that the peer can answer.
HeaderStatus decodeHeader(const unsigned char* bytes, FrameHeader& header);
const char* headerStatusText(HeaderStatus status);

// Validate every field and append the whole frame to out. On a field out of bounds they append
// nothing, return false and say why in why.
bool encodeRequest(const Request& request, SecretBytes& out, std::string& why);
bool encodeReply(const Reply& reply, SecretBytes& out, std::string& why);

// Decode a payload of the given type; false with the reason when it is malformed.
bool decodeRequest(MessageType type, const unsigned char* payload, std::size_t length, Request& request,
                   std::string& why);
// encodeReply writes a StatusReport frame when reply.statusReport is set, a Reply frame otherwise;
// decodeReply takes either type.
bool decodeReply(MessageType type, const unsigned char* payload, std::size_t length, Reply& reply, std::string& why);
// Whether a frame of this type answers a request.
bool isAnswerType(MessageType type);

// The operation's name in logs and texts ("validate", "change", ...).
const char* messageTypeName(MessageType type);

// Checks shared by encoder and decoder.
bool isValidName(std::string_view name, std::size_t maxLength);
// Text fit for a log or a terminal: printable ASCII and UTF-8 sequences, no control characters.
bool isPrintableText(std::string_view text);

}  // namespace vesk::agentproto
