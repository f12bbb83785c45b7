#include "kpasswd_protocol.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace vesk::agentd {
namespace {

void appendLength(Shredder& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<char>(length));
  } else if (length < 0x100) {
    out.push_back(static_cast<char>(0x81));
    out.push_back(static_cast<char>(length));
  } else {
    out.push_back(static_cast<char>(0x82));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(length & 0xff));
  }
}

// A DER element: tag, length, contents.
Shredder element(unsigned char tag, std::string_view contents) {
  Shredder out;
  out.push_back(static_cast<char>(tag));
  appendLength(out, contents.size());
  out.append(contents.data(), contents.size());
  return out;
}

Shredder integer(std::int32_t value) {
  std::string bytes;
  auto v = static_cast<std::uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((v >> shift) & 0xff));
  // The shortest form: drop leading bytes that only repeat the sign.
  while (bytes.size() > 1 && ((bytes[0] == 0 && (bytes[1] & 0x80) == 0) ||
                              (bytes[0] == '\xff' && (bytes[1] & 0x80) != 0))) {
    bytes.erase(0, 1);
  }
  return element(0x02, bytes);
}

void put16(std::string& out, std::size_t value) {
  out.push_back(static_cast<char>((value >> 8) & 0xff));
  out.push_back(static_cast<char>(value & 0xff));
}

unsigned get16(std::string_view data, std::size_t at) {
  return (static_cast<unsigned>(static_cast<unsigned char>(data[at])) << 8) | static_cast<unsigned char>(data[at + 1]);
}

krb5_data dataOf(const std::string& text) {
  krb5_data data = {};
  data.data = const_cast<char*>(text.data());
  data.length = static_cast<unsigned int>(text.size());
  return data;
}

class Data {
 public:
  explicit Data(krb5_context context) : context_(context) {}
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;
  ~Data() { krb5_free_data_contents(context_, &data_); }
  krb5_data* get() { return &data_; }
  std::string text() const { return std::string(data_.data, data_.length); }

 private:
  krb5_context context_;
  krb5_data data_ = {};
};

}  // namespace

Shredder setPasswordData(std::string_view password, std::int32_t nameType, const std::vector<std::string>& components,
                         const std::string& realm) {
  Shredder names;
  for (const std::string& component : components) names += element(0x1b, component);
  Shredder principal = element(0xa0, integer(nameType));
  principal += element(0xa1, element(0x30, names));
  Shredder fields = element(0xa0, element(0x04, password));
  fields += element(0xa1, element(0x30, principal));
  fields += element(0xa2, element(0x1b, realm));
  return element(0x30, fields);
}

std::string kpasswdRequestFrame(unsigned version, const std::string& apReq, const std::string& priv) {
  std::string frame;
  put16(frame, 6 + apReq.size() + priv.size());
  put16(frame, version);
  put16(frame, apReq.size());
  return frame + apReq + priv;
}

bool splitKpasswdReply(std::string_view reply, KpasswdReplyParts& parts) {
  if (reply.size() < 6) return false;
  const std::size_t length = get16(reply, 0);
  const std::size_t apRepLength = get16(reply, 4);
  if (length != reply.size() || 6 + apRepLength > reply.size()) {
    // A server that cannot read the request may answer with a bare KRB-ERROR ([APPLICATION 30]).
    if (static_cast<unsigned char>(reply[0]) != 0x7e) return false;
    parts = KpasswdReplyParts{0, std::string(), std::string(reply)};
    return true;
  }
  parts.version = get16(reply, 2);
  parts.apRep = std::string(reply.substr(6, apRepLength));
  parts.body = std::string(reply.substr(6 + apRepLength));
  return !parts.body.empty();
}

bool parseKpasswdResult(std::string_view data, int& code, std::string& resultString) {
  if (data.size() < 2) return false;
  code = static_cast<int>(get16(data, 0));
  resultString = std::string(data.substr(2));
  return true;
}

PasswordRequest::~PasswordRequest() {
  if (auth_ != nullptr) krb5_auth_con_free(context_, auth_);
}

krb5_error_code PasswordRequest::build(krb5_creds* creds, int fd, const Shredder& newPassword,
                                       krb5_const_principal target, std::string& message) {
  sockaddr_storage local = {};
  socklen_t length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return errno;
  krb5_address address = {};
  address.magic = KV5M_ADDRESS;
  if (local.ss_family == AF_INET) {
    address.addrtype = ADDRTYPE_INET;
    address.length = 4;
    address.contents = reinterpret_cast<krb5_octet*>(&reinterpret_cast<sockaddr_in*>(&local)->sin_addr);
  } else if (local.ss_family == AF_INET6) {
    address.addrtype = ADDRTYPE_INET6;
    address.length = 16;
    address.contents = reinterpret_cast<krb5_octet*>(&reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr);
  } else {
    return EAFNOSUPPORT;
  }
  krb5_error_code code = krb5_auth_con_init(context_, &auth_);
  if (code == 0) code = krb5_auth_con_setflags(context_, auth_, KRB5_AUTH_CONTEXT_DO_SEQUENCE);
  Data apReq(context_);
  if (code == 0) code = krb5_mk_req_extended(context_, &auth_, AP_OPTS_USE_SUBKEY, nullptr, creds, apReq.get());
  if (code == 0) code = krb5_auth_con_setaddrs(context_, auth_, &address, nullptr);
  if (code != 0) return code;
  Shredder clear;
  if (target == nullptr) {
    clear = Shredder(newPassword.view());
  } else {
    std::vector<std::string> components;
    for (krb5_int32 i = 0; i < target->length; ++i) components.emplace_back(target->data[i].data, target->data[i].length);
    clear = setPasswordData(newPassword.view(), target->type, components,
                            std::string(target->realm.data, target->realm.length));
  }
  krb5_data clearData = {};
  clearData.data = clear.data();
  clearData.length = static_cast<unsigned int>(clear.size());
  Data priv(context_);
  code = krb5_mk_priv(context_, auth_, &clearData, priv.get(), nullptr);
  if (code != 0) return code;
  message = kpasswdRequestFrame(target == nullptr ? kKpasswdChangeVersion : kKpasswdSetVersion, apReq.text(),
                                priv.text());
  return 0;
}

krb5_error_code PasswordRequest::read(const std::string& reply, int& resultCode, std::string& resultString) {
  KpasswdReplyParts parts;
  if (auth_ == nullptr || !splitKpasswdReply(reply, parts)) return KRB5KRB_AP_ERR_MSG_TYPE;
  if (parts.apRep.empty()) {
    krb5_data body = dataOf(parts.body);
    krb5_error* error = nullptr;
    krb5_error_code code = krb5_rd_error(context_, &body, &error);
    if (code != 0) return code;
    const std::string data(error->e_data.data == nullptr ? "" : std::string(error->e_data.data, error->e_data.length));
    code = static_cast<krb5_error_code>(ERROR_TABLE_BASE_krb5 + error->error);
    krb5_free_error(context_, error);
    return parseKpasswdResult(data, resultCode, resultString) ? 0 : code;
  }
  if (parts.version != kKpasswdChangeVersion && parts.version != kKpasswdSetVersion) return KRB5KDC_ERR_BAD_PVNO;
  krb5_data apRep = dataOf(parts.apRep);
  krb5_ap_rep_enc_part* repl = nullptr;
  krb5_error_code code = krb5_rd_rep(context_, auth_, &apRep, &repl);
  if (code != 0) return code;
  krb5_free_ap_rep_enc_part(context_, repl);
  krb5_data body = dataOf(parts.body);
  Data clear(context_);
  code = krb5_rd_priv(context_, auth_, &body, clear.get(), nullptr);
  if (code != 0) return code;
  return parseKpasswdResult(clear.text(), resultCode, resultString) ? 0 : KRB5KRB_AP_ERR_MODIFIED;
}

}  // namespace vesk::agentd
