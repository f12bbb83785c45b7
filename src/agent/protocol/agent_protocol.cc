#include "agent_protocol.h"

namespace vesk::agentproto {
namespace {

enum class FieldKind { Name, OptionalName, Password, CacheName, Number, ErrorText, StatusReport };

struct FieldSpec {
  FieldKind kind;
  const char* what;
};

void putU16(SecretBytes& out, std::uint16_t value) {
  out.push_back(static_cast<unsigned char>(value >> 8));
  out.push_back(static_cast<unsigned char>(value));
}

void putU32(SecretBytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

std::uint16_t getU16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

std::uint32_t getU32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool checkField(FieldKind kind, std::string_view value, const char* what, std::string& why) {
  bool ok = true;
  switch (kind) {
    case FieldKind::Name: ok = isValidName(value, kMaxNameLength); break;
    case FieldKind::OptionalName: ok = value.empty() || isValidName(value, kMaxNameLength); break;
    case FieldKind::CacheName: ok = isValidName(value, kMaxCacheNameLength); break;
    case FieldKind::Password:
      ok = value.size() <= kMaxPasswordLength && value.find('\0') == std::string_view::npos;
      break;
    case FieldKind::ErrorText: ok = value.size() <= kMaxErrorTextLength && isPrintableText(value); break;
    case FieldKind::StatusReport: ok = value.size() <= kMaxStatusReportLength && isPrintableText(value); break;
    case FieldKind::Number: break;
  }
  if (!ok) why = std::string(what) + " is empty, too long or holds characters that are not allowed";
  return ok;
}

// Frame assembly: the header is written once the payload's length is known.
class FrameWriter {
 public:
  FrameWriter(SecretBytes& out, MessageType type) : out_(out), start_(out.size()) {
    putU32(out_, kMagic);
    putU16(out_, kProtocolVersion);
    putU16(out_, static_cast<std::uint16_t>(type));
    putU32(out_, 0);
  }
  void text(std::string_view value) {
    putU16(out_, static_cast<std::uint16_t>(value.size()));
    out_.insert(out_.end(), value.begin(), value.end());
  }
  void number(std::int32_t value) { putU32(out_, static_cast<std::uint32_t>(value)); }
  bool finish(std::string& why) {
    const std::size_t length = out_.size() - start_ - kHeaderSize;
    if (length > kMaxPayload) {
      why = "the message exceeds " + std::to_string(kMaxPayload) + " bytes";
      out_.resize(start_);
      return false;
    }
    for (int i = 0; i < 4; ++i) out_[start_ + 8 + i] = static_cast<unsigned char>(length >> (24 - 8 * i));
    return true;
  }

 private:
  SecretBytes& out_;
  std::size_t start_;
};

class PayloadReader {
 public:
  PayloadReader(const unsigned char* data, std::size_t length) : data_(data), length_(length) {}

  // Reads a text field into out (any string type) after checking it.
  template <typename Text>
  bool text(FieldKind kind, const char* what, Text& out, std::string& why) {
    if (length_ - offset_ < 2) return truncated(what, why);
    const std::size_t size = getU16(data_ + offset_);
    if (length_ - offset_ - 2 < size) return truncated(what, why);
    const std::string_view value(reinterpret_cast<const char*>(data_ + offset_ + 2), size);
    if (!checkField(kind, value, what, why)) return false;
    out.assign(value.data(), value.size());
    offset_ += 2 + size;
    return true;
  }
  bool number(const char* what, std::int32_t& out, std::string& why) {
    if (length_ - offset_ < 4) return truncated(what, why);
    out = static_cast<std::int32_t>(getU32(data_ + offset_));
    offset_ += 4;
    return true;
  }
  bool end(std::string& why) {
    if (offset_ == length_) return true;
    why = std::to_string(length_ - offset_) + " bytes follow the last field";
    return false;
  }

 private:
  bool truncated(const char* what, std::string& why) {
    why = std::string("the message ends inside ") + what;
    return false;
  }

  const unsigned char* data_;
  std::size_t length_;
  std::size_t offset_ = 0;
};

bool isRequestType(std::uint16_t type) { return type >= 1 && type <= 7; }

}  // namespace

bool isValidName(std::string_view name, std::size_t maxLength) {
  return !name.empty() && name.size() <= maxLength && isPrintableText(name);
}

bool isPrintableText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7f) return false;
      ++i;
      continue;
    }
    std::size_t follow = 0;
    if ((c & 0xe0) == 0xc0 && c >= 0xc2) follow = 1;
    else if ((c & 0xf0) == 0xe0) follow = 2;
    else if ((c & 0xf8) == 0xf0 && c <= 0xf4) follow = 3;
    else return false;
    if (text.size() - i <= follow) return false;
    for (std::size_t k = 1; k <= follow; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
    }
    i += follow + 1;
  }
  return true;
}

HeaderStatus decodeHeader(const unsigned char* bytes, FrameHeader& header) {
  if (getU32(bytes) != kMagic) return HeaderStatus::BadMagic;
  header.version = getU16(bytes + 4);
  const std::uint16_t type = getU16(bytes + 6);
  header.type = static_cast<MessageType>(type);
  header.length = getU32(bytes + 8);
  if (header.version != kProtocolVersion) return HeaderStatus::BadVersion;
  if (!isRequestType(type) && !isAnswerType(static_cast<MessageType>(type))) return HeaderStatus::BadType;
  if (header.length > kMaxPayload) return HeaderStatus::TooLong;
  return HeaderStatus::Ok;
}

const char* headerStatusText(HeaderStatus status) {
  switch (status) {
    case HeaderStatus::Ok: return "ok";
    case HeaderStatus::BadMagic: return "not a message of the agent protocol";
    case HeaderStatus::BadVersion: return "unsupported protocol version";
    case HeaderStatus::BadType: return "unknown message type";
    case HeaderStatus::TooLong: return "message too long";
  }
  return "unknown header status";
}

bool encodeRequest(const Request& request, SecretBytes& out, std::string& why) {
  FrameWriter frame(out, request.type);
  const std::size_t start = out.size() - kHeaderSize;
  auto field = [&](FieldKind kind, const char* what, std::string_view value) {
    if (!checkField(kind, value, what, why)) return false;
    frame.text(value);
    return true;
  };
  bool ok = false;
  switch (request.type) {
    case MessageType::Validate:
      ok = field(FieldKind::Name, "user", request.user) && field(FieldKind::Password, "password", request.password.view());
      break;
    case MessageType::Change:
      ok = field(FieldKind::Name, "user", request.user) &&
           field(FieldKind::Password, "new password", request.password.view()) &&
           field(FieldKind::Password, "old password", request.oldPassword.view());
      break;
    case MessageType::Set:
      ok = field(FieldKind::Name, "user", request.user) &&
           field(FieldKind::Password, "new password", request.password.view()) &&
           field(FieldKind::Name, "administrator", request.adminUser) &&
           field(FieldKind::Password, "administrator password", request.adminPassword.view());
      break;
    case MessageType::Authenticate:
      ok = field(FieldKind::CacheName, "credential cache", request.cacheName);
      break;
    case MessageType::SetWithCache:
      ok = field(FieldKind::Name, "user", request.user) &&
           field(FieldKind::Password, "new password", request.password.view()) &&
           field(FieldKind::CacheName, "credential cache", request.cacheName);
      break;
    case MessageType::GetUser:
      ok = field(FieldKind::Name, "user", request.user);
      if (ok) frame.number(request.flags);
      break;
    case MessageType::Status:
      ok = true;
      break;
    case MessageType::Reply:
    case MessageType::StatusReport:
      why = "a reply is not a request";
      break;
  }
  if (ok) ok = frame.finish(why);
  if (!ok) out.resize(start);
  return ok;
}

bool encodeReply(const Reply& reply, SecretBytes& out, std::string& why) {
  const std::size_t start = out.size();
  if (!reply.statusReport.empty()) {
    if (!checkField(FieldKind::StatusReport, reply.statusReport, "status report", why)) return false;
    FrameWriter frame(out, MessageType::StatusReport);
    frame.text(reply.statusReport);
    if (frame.finish(why)) return true;
    out.resize(start);
    return false;
  }
  if (!checkField(FieldKind::ErrorText, reply.errorText, "error text", why) ||
      !checkField(FieldKind::OptionalName, reply.principal, "principal", why)) {
    return false;
  }
  FrameWriter frame(out, MessageType::Reply);
  frame.number(reply.result);
  frame.number(reply.errorCode);
  frame.text(reply.errorText);
  frame.text(reply.principal);
  if (frame.finish(why)) return true;
  out.resize(start);
  return false;
}

bool decodeRequest(MessageType type, const unsigned char* payload, std::size_t length, Request& request,
                   std::string& why) {
  if (length > kMaxPayload) {
    why = headerStatusText(HeaderStatus::TooLong);
    return false;
  }
  PayloadReader in(payload, length);
  Request decoded;
  decoded.type = type;
  bool ok = false;
  switch (type) {
    case MessageType::Validate:
      ok = in.text(FieldKind::Name, "user", decoded.user, why) &&
           in.text(FieldKind::Password, "password", decoded.password, why);
      break;
    case MessageType::Change:
      ok = in.text(FieldKind::Name, "user", decoded.user, why) &&
           in.text(FieldKind::Password, "new password", decoded.password, why) &&
           in.text(FieldKind::Password, "old password", decoded.oldPassword, why);
      break;
    case MessageType::Set:
      ok = in.text(FieldKind::Name, "user", decoded.user, why) &&
           in.text(FieldKind::Password, "new password", decoded.password, why) &&
           in.text(FieldKind::Name, "administrator", decoded.adminUser, why) &&
           in.text(FieldKind::Password, "administrator password", decoded.adminPassword, why);
      break;
    case MessageType::Authenticate:
      ok = in.text(FieldKind::CacheName, "credential cache", decoded.cacheName, why);
      break;
    case MessageType::SetWithCache:
      ok = in.text(FieldKind::Name, "user", decoded.user, why) &&
           in.text(FieldKind::Password, "new password", decoded.password, why) &&
           in.text(FieldKind::CacheName, "credential cache", decoded.cacheName, why);
      break;
    case MessageType::GetUser:
      ok = in.text(FieldKind::Name, "user", decoded.user, why) && in.number("flags", decoded.flags, why);
      break;
    case MessageType::Status:
      ok = true;
      break;
    default:
      why = headerStatusText(HeaderStatus::BadType);
      break;
  }
  if (!ok || !in.end(why)) return false;
  request = std::move(decoded);
  return true;
}

bool isAnswerType(MessageType type) { return type == MessageType::Reply || type == MessageType::StatusReport; }

bool decodeReply(MessageType type, const unsigned char* payload, std::size_t length, Reply& reply, std::string& why) {
  if (length > kMaxPayload) {
    why = headerStatusText(HeaderStatus::TooLong);
    return false;
  }
  PayloadReader in(payload, length);
  Reply decoded;
  if (type == MessageType::StatusReport) {
    if (!in.text(FieldKind::StatusReport, "status report", decoded.statusReport, why) || !in.end(why)) return false;
    if (decoded.statusReport.empty()) {
      why = "empty status report";
      return false;
    }
    reply = std::move(decoded);
    return true;
  }
  if (type != MessageType::Reply) {
    why = "not a reply";
    return false;
  }
  if (!in.number("result", decoded.result, why) || !in.number("error code", decoded.errorCode, why) ||
      !in.text(FieldKind::ErrorText, "error text", decoded.errorText, why) ||
      !in.text(FieldKind::OptionalName, "principal", decoded.principal, why) || !in.end(why)) {
    return false;
  }
  reply = std::move(decoded);
  return true;
}

const char* messageTypeName(MessageType type) {
  switch (type) {
    case MessageType::Validate: return "validate";
    case MessageType::Change: return "change";
    case MessageType::Set: return "set";
    case MessageType::Authenticate: return "authenticate";
    case MessageType::SetWithCache: return "set-with-cache";
    case MessageType::GetUser: return "get-user";
    case MessageType::Status: return "status";
    case MessageType::Reply: return "reply";
    case MessageType::StatusReport: return "status-report";
  }
  return "unknown";
}

}  // namespace vesk::agentproto
