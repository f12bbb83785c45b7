#include "kerberos_results.h"

#include "agent_protocol.h"

namespace vesk::agentd {
namespace {

// A DER element: its tag byte and its content.
struct Element {
  unsigned char tag = 0;
  std::string_view content;
};

// Reads the element at the front of input and drops it from input; false when malformed.
bool nextElement(std::string_view& input, Element& element) {
  if (input.size() < 2) return false;
  element.tag = static_cast<unsigned char>(input[0]);
  std::size_t length = static_cast<unsigned char>(input[1]);
  std::size_t headerLength = 2;
  if (length & 0x80) {
    const std::size_t octets = length & 0x7f;
    if (octets == 0 || octets > 4 || input.size() < 2 + octets) return false;
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) length = (length << 8) | static_cast<unsigned char>(input[2 + i]);
    headerLength += octets;
  }
  if (input.size() - headerLength < length) return false;
  element.content = input.substr(headerLength, length);
  input.remove_prefix(headerLength + length);
  return true;
}

bool isContextTag(unsigned char tag) { return (tag & 0xe0) == 0xa0; }

bool readInteger(std::string_view content, long& value) {
  if (content.empty() || content.size() > 4) return false;
  long result = static_cast<signed char>(content[0]);
  for (std::size_t i = 1; i < content.size(); ++i) result = (result << 8) | static_cast<unsigned char>(content[i]);
  value = result;
  return true;
}

// One entry: SEQUENCE { [n] INTEGER type, [n+1] OCTET STRING value }.
std::optional<std::uint32_t> entryStatus(std::string_view entry) {
  long type = -1;
  std::string_view value;
  bool haveValue = false;
  Element field;
  while (!entry.empty() && nextElement(entry, field)) {
    if (!isContextTag(field.tag)) return std::nullopt;
    std::string_view inner = field.content;
    Element item;
    if (!nextElement(inner, item)) return std::nullopt;
    if (item.tag == 0x02 && type < 0) {
      if (!readInteger(item.content, type)) return std::nullopt;
    } else if (item.tag == 0x04 && !haveValue) {
      value = item.content;
      haveValue = true;
    }
  }
  if (type != 3 || !haveValue || value.size() != 12) return std::nullopt;
  const auto byte = [&value](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(value[i])); };
  return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

}  // namespace

int validateResult(int code, std::optional<std::uint32_t> ntstatus) {
  if (ntstatus) {
    switch (*ntstatus) {
      case kStatusAccountDisabled:
      case kStatusLockedOut: return kResultAccountDisabled;
      case kStatusAccountExpired: return kResultAccountExpired;
      case kStatusPasswordExpired:
      case kStatusMustChange: return kResultPasswordExpired;
      case kStatusWorkstationDenied: return kResultWorkstationDenied;
      case kStatusWrongPassword: return kResultInvalidCredentials;
      default: break;
    }
  }
  switch (code) {
    case 0: return kResultSuccess;
    case krb5code::kPreauthFailed:
    case krb5code::kBadIntegrity: return kResultInvalidCredentials;
    case krb5code::kPrincipalUnknown: return kResultNoSuchAccount;
    case krb5code::kClientRevoked: return kResultAccountDisabled;
    case krb5code::kAccountExpired: return kResultAccountExpired;
    case krb5code::kPasswordExpired: return kResultPasswordExpired;
    default: return kResultKerberos;
  }
}

int changeAuthResult(int code) {
  switch (code) {
    case krb5code::kPreauthFailed:
    case krb5code::kPrincipalUnknown:
    case krb5code::kClientRevoked:
    case krb5code::kTgtRevoked:
    case krb5code::kBadIntegrity: return kResultKerberos;
    case krb5code::kAccountExpired: return kResultAccountExpired;
    default: return kResultSuccess;
  }
}

std::string kpasswdResultText(int resultCode) {
  switch (resultCode) {
    case 0: return "Success";
    case 1: return "Malformed request error";
    case 2: return "Server error";
    case 3: return "Authentication error";
    case 4: return "Password change rejected";
    case 5: return "Access denied";
    case 6: return "Wrong protocol version";
    case 7: return "Initial password required";
    default: return "Unknown result " + std::to_string(resultCode);
  }
}

std::string serverResultText(std::string_view bytes) {
  while (!bytes.empty() && (bytes.back() == '\0' || bytes.back() == '\n' || bytes.back() == '\r')) {
    bytes.remove_suffix(1);
  }
  if (bytes.empty()) return std::string();
  // Servers send texts of several lines: join them with blanks.
  std::string text;
  for (char c : bytes) {
    if (c == '\n' || c == '\r' || c == '\t') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += c;
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (agentproto::isPrintableText(text) && text.size() <= 512) return text;
  return "the server's reply is not text (" + std::to_string(bytes.size()) + " bytes)";
}

std::optional<std::uint32_t> extendedErrorStatus(std::string_view edata) {
  Element outer;
  if (!nextElement(edata, outer) || outer.tag != 0x30) return std::nullopt;
  std::string_view content = outer.content;
  if (!content.empty() && static_cast<unsigned char>(content[0]) == 0x30) {
    Element entry;
    while (!content.empty() && nextElement(content, entry)) {
      if (entry.tag != 0x30) return std::nullopt;
      if (auto status = entryStatus(entry.content)) return status;
    }
    return std::nullopt;
  }
  return entryStatus(content);
}

}  // namespace vesk::agentd
