// The password change and set protocol of Kerberos password servers (RFC 3244): a change (version
// 1) carries the new password, a set (version 0xff80) a ChangePasswdData naming the target; both go
// as an AP-REQ for kadmin/changepw and a KRB-PRIV, and come back as an AP-REP and a KRB-PRIV
// holding a result code and string, or as a KRB-ERROR.
//
// The byte layouts stand alone (readable on recorded bytes); PasswordRequest does the cryptography
// of one request to one server with the library's public primitives.
#pragma once

// com_err.h has no C++ guards of its own; krb5.h includes it.
extern "C" {
#include <com_err.h>
}
#include <krb5/krb5.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shredder.h"

namespace vesk::agentd {

inline constexpr unsigned kKpasswdChangeVersion = 1;
inline constexpr unsigned kKpasswdSetVersion = 0xff80;

// The DER ChangePasswdData of a set: the new password, the target's name components and realm.
Shredder setPasswordData(std::string_view password, std::int32_t nameType, const std::vector<std::string>& components,
                         const std::string& realm);
// A request frame: length, version, AP-REQ length, AP-REQ, KRB-PRIV.
std::string kpasswdRequestFrame(unsigned version, const std::string& apReq, const std::string& priv);

struct KpasswdReplyParts {
  unsigned version = 0;
  std::string apRep;  // empty when the server answered with a KRB-ERROR
  std::string body;   // the KRB-PRIV, or the KRB-ERROR
};
// Splits a reply frame; false when it is not one.
bool splitKpasswdReply(std::string_view reply, KpasswdReplyParts& parts);
// A result: a two-byte code and the server's result string; false when too short.
bool parseKpasswdResult(std::string_view data, int& code, std::string& resultString);

// One request to one server; its own authentication context, so that requests to several servers
// can be in flight at once.
class PasswordRequest {
 public:
  explicit PasswordRequest(krb5_context context) : context_(context) {}
  PasswordRequest(const PasswordRequest&) = delete;
  PasswordRequest& operator=(const PasswordRequest&) = delete;
  ~PasswordRequest();

  // The request for creds (a ticket for kadmin/changepw) from the socket fd (whose local address
  // the KRB-PRIV names); target null for the user's own change.
  krb5_error_code build(krb5_creds* creds, int fd, const Shredder& newPassword, krb5_const_principal target,
                        std::string& message);
  // Reads the server's reply: 0 with the result code and string, or the library's code.
  krb5_error_code read(const std::string& reply, int& resultCode, std::string& resultString);

 private:
  krb5_context context_;
  krb5_auth_context auth_ = nullptr;
};

}  // namespace vesk::agentd
