#include "kerberos_client.h"

extern "C" {
#include <com_err.h>
}
#include <krb5/krb5.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "kerberos_results.h"
#include "krb5_handles.h"
#include "props.h"

namespace vesk::agentd {
namespace {

using agentproto::Reply;

constexpr const char* kPasswordService = "kadmin/changepw";

Reply makeReply(int result, int code, std::string text) {
  Reply reply;
  reply.result = result;
  reply.errorCode = code;
  reply.errorText = std::move(text);
  return reply;
}

std::string codeText(krb5_error_code code) { return error_message(code); }

// A Kerberos failure reported with the library's text for its code.
Reply kerberosFailure(int result, krb5_error_code code) { return makeReply(result, code, codeText(code)); }

// A failure that none of the caller's results describes: a value of the agent's own.
Reply ownFailure(krb5_error_code code, const std::string& realm, const char* doing) {
  if (code == krb5code::kKdcUnreachable || code == krb5code::kRealmUnknown) {
    return makeReply(kResultKdcUnreachable, code,
                     "The Kerberos servers of realm " + realm + " could not be reached while " + doing + ": " +
                         codeText(code));
  }
  return makeReply(kResultKerberosError, code,
                   std::string("Kerberos error while ") + doing + ": " + codeText(code) + " (" +
                       std::to_string(code) + ")");
}

// The caller was answered before the change could leave: nothing was sent.
Reply notSent(const std::string& realm) {
  return makeReply(kResultKdcTimeout, 0,
                   "not sent to the password servers of realm " + realm + ": the caller had been answered");
}

Reply contextFailure(const Context& context) {
  return makeReply(kResultKerberosError, context.initError(),
                   "cannot initialise the Kerberos library: " + codeText(context.initError()));
}

// An AS exchange, step-wise so that the KDC's KRB-ERROR can be read. creds (optional) receives
// the ticket; ntstatus receives the NTSTATUS of the error's e-data when it carries one.
krb5_error_code asExchange(krb5_context context, krb5_principal client, const Shredder& password,
                           const char* service, krb5_creds* creds, std::optional<std::uint32_t>& ntstatus) {
  InitOptions options(context);
  if (options.error() != 0) return options.error();
  krb5_init_creds_context exchange = nullptr;
  krb5_error_code code = krb5_init_creds_init(context, client, nullptr, nullptr, 0, options.get(), &exchange);
  if (code != 0) return code;
  if (service != nullptr) code = krb5_init_creds_set_service(context, exchange, service);
  if (code == 0) code = krb5_init_creds_set_password(context, exchange, password.c_str());
  if (code == 0) code = krb5_init_creds_get(context, exchange);
  if (code != 0) {
    krb5_error* error = nullptr;
    if (krb5_init_creds_get_error(context, exchange, &error) == 0 && error != nullptr) {
      ntstatus = extendedErrorStatus(std::string_view(error->e_data.data, error->e_data.length));
      krb5_free_error(context, error);
    }
  } else if (creds != nullptr) {
    code = krb5_init_creds_get_creds(context, exchange, creds);
  }
  krb5_init_creds_free(context, exchange);
  return code;
}

krb5_error_code refusingPrompter(krb5_context, void* data, const char*, const char*, int, krb5_prompt[]) {
  *static_cast<bool*>(data) = true;
  return KRB5_LIBOS_PWDINTR;
}

// Probes the principal: kResultSuccess exists, kResultNoSuchAccount unknown, otherwise a failure reply.
Reply probePrincipal(krb5_context context, krb5_principal principal, const std::string& realm) {
  InitOptions options(context);
  if (options.error() != 0) return ownFailure(options.error(), realm, "probing the user");
  bool prompted = false;
  Credentials creds(context);
  const krb5_error_code code = krb5_get_init_creds_password(context, creds.get(), principal, nullptr, refusingPrompter,
                                                            &prompted, 0, nullptr, options.get());
  if (prompted || code == 0 || code == krb5code::kClientRevoked || code == krb5code::kAccountExpired ||
      code == krb5code::kPasswordExpired) {
    return makeReply(kResultSuccess, 0, std::string());
  }
  if (code == krb5code::kPrincipalUnknown) return kerberosFailure(kResultNoSuchAccount, code);
  return ownFailure(code, realm, "probing the user");
}

// The Kerberos failure with the KDC's extended error, when it sent one, at the end of its text:
// "(NTSTATUS 0xC0000234)" tells a locked-out account from a disabled one.
Reply withStatus(Reply reply, const std::optional<std::uint32_t>& ntstatus) {
  if (ntstatus) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(*ntstatus));
    reply.errorText += std::string(" (NTSTATUS 0x") + hex + ")";
  }
  return reply;
}

// Failure of the AS exchange for the password service on the change and set paths.
Reply passwordServiceAuthFailure(krb5_error_code code, const std::string& realm,
                                 const std::optional<std::uint32_t>& ntstatus) {
  const int result = changeAuthResult(code);
  if (result != kResultSuccess) return withStatus(kerberosFailure(result, code), ntstatus);
  return ownFailure(code, realm, "authenticating to the password service");
}

// The password server's result string as the user should read it: libkrb5 renders an Active
// Directory policy block as sentences and passes text through.
std::string renderServerMessage(krb5_context context, const krb5_data& resultString) {
  if (resultString.length == 0) return std::string();
  char* message = nullptr;
  if (krb5_chpw_message(context, &resultString, &message) != 0 || message == nullptr) {
    return serverResultText(std::string_view(resultString.data, resultString.length));
  }
  std::string text = serverResultText(message);
  krb5_free_string(context, message);
  return text;
}

// The reply for what the password server answered, or for its silence.
Reply serverReply(krb5_context context, const PasswordExchange& answer, const std::string& realm, const char* doing) {
  if (answer.abandoned) return notSent(realm);
  if (answer.code != 0 && answer.sent) {
    return makeReply(kResultOutcomeUnknown, answer.code,
                     "The password servers of realm " + realm + " did not answer while " + doing +
                         ": the password may or may not have changed");
  }
  if (answer.code != 0) return ownFailure(answer.code, realm, doing);
  krb5_data resultString = {};
  resultString.data = const_cast<char*>(answer.resultString.data());
  resultString.length = static_cast<unsigned int>(answer.resultString.size());
  const std::string text = renderServerMessage(context, resultString);
  const std::string fixed = kpasswdResultText(answer.resultCode);
  switch (answer.resultCode) {
    case krb5code::kKpasswdSuccess: return makeReply(kResultSuccess, 0, std::string());
    case krb5code::kKpasswdSoftError: return makeReply(kResultPolicy, answer.resultCode, text.empty() ? fixed : text);
    case krb5code::kKpasswdAuthError: return makeReply(kResultInvalidCredentials, answer.resultCode, text.empty() ? fixed : text);
    case krb5code::kKpasswdAccessDenied: return makeReply(kResultKerberos, answer.resultCode, text.empty() ? fixed : text);
    default:
      return makeReply(kResultPasswordServer, answer.resultCode,
                       "The password server refused the request: " + fixed + (text.empty() ? "" : ": " + text));
  }
}

// Proves that the KDC which issued creds knows a host key of this machine: without it, whatever
// answers on the KDC's address could make any password valid. A keytab without a host key skips
// the check unless the settings demand it.
Reply verifyWithHostKey(krb5_context context, krb5_creds* creds, const RealmSettings& settings) {
  if (settings.hostKeytab.empty() && !settings.hostKeyRequired) return makeReply(kResultSuccess, 0, std::string());
  Keytab keytab(context, settings.hostKeytab);
  krb5_error_code code = keytab.error();
  if (code == 0) {
    krb5_verify_init_creds_opt options;
    krb5_verify_init_creds_opt_init(&options);
    krb5_verify_init_creds_opt_set_ap_req_nofail(&options, settings.hostKeyRequired ? 1 : 0);
    code = krb5_verify_init_creds(context, creds, nullptr, keytab.get(), nullptr, &options);
  }
  if (code == 0) return makeReply(kResultSuccess, 0, std::string());
  return makeReply(kResultKdcNotVerified, code,
                   "the KDC could not be verified with the host key: " + codeText(code) + " (keytab " +
                       settings.hostKeytab + ")");
}

std::string principalText(krb5_context context, krb5_principal principal) {
  char* name = nullptr;
  if (krb5_unparse_name(context, principal, &name) != 0) return std::string();
  std::string text(name);
  krb5_free_unparsed_name(context, name);
  return text;
}

}  // namespace

std::string passwordServerMessage(std::string_view resultString) {
  Context context;
  if (context.get() == nullptr) return serverResultText(resultString);
  krb5_data data = {};
  data.data = const_cast<char*>(resultString.data());
  data.length = static_cast<unsigned int>(resultString.size());
  return renderServerMessage(context.get(), data);
}

std::string KerberosClient::principalName(const std::string& user) const {
  const auto at = user.rfind('@');
  if (at == std::string::npos) return user + "@" + settings_.realm;
  const std::string suffix = user.substr(at + 1);
  std::string realm = suffix;
  for (char& c : realm) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (lower(suffix) == lower(settings_.domain) || realm == settings_.realm) realm = settings_.realm;
  return user.substr(0, at) + "@" + realm;
}

Reply KerberosClient::validate(const std::string& user, const Shredder& password) const {
  Context context(transport_.get());
  if (context.get() == nullptr) return contextFailure(context);
  Principal client;
  krb5_error_code code = client.parse(context.get(), principalName(user));
  if (code != 0) return kerberosFailure(kResultKerberos, code);
  std::optional<std::uint32_t> ntstatus;
  Credentials creds(context.get());
  code = asExchange(context.get(), client.get(), password, nullptr, creds.get(), ntstatus);
  const int result = validateResult(code, ntstatus);
  if (result == kResultSuccess) return verifyWithHostKey(context.get(), creds.get(), settings_);
  return withStatus(kerberosFailure(result, code), ntstatus);
}

Reply KerberosClient::change(const std::string& user, const Shredder& newPassword, const Shredder& oldPassword,
                             HandOver* handOver) const {
  Context context(transport_.get());
  if (context.get() == nullptr) return contextFailure(context);
  Principal client;
  krb5_error_code code = client.parse(context.get(), principalName(user));
  if (code != 0) return kerberosFailure(kResultKerberos, code);
  Credentials creds(context.get());
  std::optional<std::uint32_t> ntstatus;
  code = asExchange(context.get(), client.get(), oldPassword, kPasswordService, creds.get(), ntstatus);
  if (code != 0) return passwordServiceAuthFailure(code, settings_.realm, ntstatus);
  const PasswordExchange answer = transport_->changePassword(context.get(), creds.get(), newPassword, nullptr, handOver);
  return serverReply(context.get(), answer, settings_.realm, "talking to the password server");
}

Reply KerberosClient::set(const std::string& user, const Shredder& newPassword, const std::string& admin,
                          const Shredder& adminPassword, HandOver* handOver) const {
  Context context(transport_.get());
  if (context.get() == nullptr) return contextFailure(context);
  Principal administrator;
  Principal target;
  krb5_error_code code = administrator.parse(context.get(), principalName(admin));
  if (code != 0) {
    return makeReply(kResultKerberosError, code,
                     "the administrator name " + admin + " is not a Kerberos principal name: " + codeText(code));
  }
  code = target.parse(context.get(), principalName(user));
  if (code != 0) return kerberosFailure(kResultNoSuchAccount, code);
  Credentials creds(context.get());
  std::optional<std::uint32_t> ntstatus;
  code = asExchange(context.get(), administrator.get(), adminPassword, kPasswordService, creds.get(), ntstatus);
  if (code != 0) return passwordServiceAuthFailure(code, settings_.realm, ntstatus);
  // A missing target reads differently from each kind of server; the probe settles it.
  Reply probed = probePrincipal(context.get(), target.get(), settings_.realm);
  if (probed.result == kResultNoSuchAccount) return probed;
  const PasswordExchange answer =
      transport_->changePassword(context.get(), creds.get(), newPassword, target.get(), handOver);
  return serverReply(context.get(), answer, settings_.realm, "talking to the password server");
}

KdcContact KerberosClient::reachKdc() const {
  KdcContact contact;
  Context context(transport_.get());
  if (context.get() == nullptr) {
    contact.reason = "cannot initialise the Kerberos library: " + codeText(context.initError());
    return contact;
  }
  Principal principal;
  krb5_error_code code = principal.parse(context.get(), "kestrovad-reachability-check@" + settings_.realm);
  if (code != 0) {
    contact.reason = codeText(code);
    return contact;
  }
  const Reply probed = probePrincipal(context.get(), principal.get(), settings_.realm);
  contact.reached = probed.result == kResultSuccess || probed.result == kResultNoSuchAccount;
  contact.address = RealmTransport::lastAnswered();
  if (!contact.reached) contact.reason = probed.errorText;
  return contact;
}

void KerberosClient::probeHeldBack() const {
  Context context;
  Principal principal;
  if (context.get() == nullptr ||
      principal.parse(context.get(), "kestrovad-reachability-check@" + settings_.realm) != 0) {
    return;
  }
  // The first AS request of an exchange, made but not sent: no password is in it.
  InitOptions options(context.get());
  krb5_init_creds_context exchange = nullptr;
  if (options.error() != 0 ||
      krb5_init_creds_init(context.get(), principal.get(), nullptr, nullptr, 0, options.get(), &exchange) != 0) {
    return;
  }
  krb5_data in = {};
  krb5_data out = {};
  krb5_data realm = {};
  unsigned int flags = 0;
  if (krb5_init_creds_step(context.get(), exchange, &in, &out, &realm, &flags) == 0 && out.length > 0) {
    transport_->probeHeldBack(context.get(), settings_.realm, std::string(out.data, out.length));
  }
  krb5_free_data_contents(context.get(), &out);
  krb5_free_data_contents(context.get(), &realm);
  krb5_init_creds_free(context.get(), exchange);
}

bool KerberosClient::hostKeytabUsable() const {
  if (settings_.hostKeytab.empty()) return false;
  Context context;
  if (context.get() == nullptr) return false;
  Keytab keytab(context.get(), settings_.hostKeytab);
  if (keytab.error() != 0) return false;
  krb5_kt_cursor cursor;
  if (krb5_kt_start_seq_get(context.get(), keytab.get(), &cursor) != 0) return false;
  bool found = false;
  krb5_keytab_entry entry;
  while (!found && krb5_kt_next_entry(context.get(), keytab.get(), &entry, &cursor) == 0) {
    const krb5_data* service = krb5_princ_component(context.get(), entry.principal, 0);
    found = krb5_princ_size(context.get(), entry.principal) == 2 && service != nullptr &&
            std::string_view(service->data, service->length) == "host";
    krb5_free_keytab_entry_contents(context.get(), &entry);
  }
  krb5_kt_end_seq_get(context.get(), keytab.get(), &cursor);
  return found;
}

Reply KerberosClient::probe(const std::string& user) const {
  Context context(transport_.get());
  if (context.get() == nullptr) return contextFailure(context);
  Principal principal;
  const krb5_error_code code = principal.parse(context.get(), principalName(user));
  if (code != 0) return kerberosFailure(kResultNoSuchAccount, code);
  Reply reply = probePrincipal(context.get(), principal.get(), settings_.realm);
  if (reply.result == kResultSuccess) reply.principal = principalText(context.get(), principal.get());
  return reply;
}

namespace {

class Cache {
 public:
  explicit Cache(krb5_context context) : context_(context) {}
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;
  ~Cache() {
    if (cache_ != nullptr) krb5_cc_close(context_, cache_);
  }
  // Opens the cache and reads its principal; false with a reply when it cannot be used.
  bool open(const std::string& name, Reply& failure) {
    // A file cache that is a FIFO or a device would hold the reader until the time limit.
    const std::string path = name.rfind("FILE:", 0) == 0 ? name.substr(5) : name.find(':') == std::string::npos ? name : "";
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      failure = makeReply(kResultCredentialCache, 0,
                          "cannot use the credential cache " + name + ": not a regular file");
      return false;
    }
    krb5_error_code code = krb5_cc_resolve(context_, name.c_str(), &cache_);
    krb5_principal principal = nullptr;
    if (code == 0) code = krb5_cc_get_principal(context_, cache_, &principal);
    if (code != 0) {
      failure = makeReply(kResultCredentialCache, code,
                          "cannot use the credential cache " + name + ": " + codeText(code));
      return false;
    }
    principal_ = principalText(context_, principal);
    krb5_free_principal(context_, principal);
    return true;
  }
  krb5_ccache get() const { return cache_; }
  const std::string& principal() const { return principal_; }

 private:
  krb5_context context_;
  krb5_ccache cache_ = nullptr;
  std::string principal_;
};

}  // namespace

Reply KerberosClient::checkCache(const std::string& cacheName) const {
  Context context(transport_.get());
  if (context.get() == nullptr) return contextFailure(context);
  Cache cache(context.get());
  Reply reply;
  if (!cache.open(cacheName, reply)) return reply;
  reply = makeReply(kResultSuccess, 0, std::string());
  reply.principal = cache.principal();
  return reply;
}

Reply KerberosClient::setWithCache(const std::string& user, const Shredder& newPassword,
                                   const std::string& cacheName) const {
  Context context(transport_.get());
  if (context.get() == nullptr) return contextFailure(context);
  Cache cache(context.get());
  Reply failure;
  if (!cache.open(cacheName, failure)) return failure;
  Principal target;
  krb5_error_code code = target.parse(context.get(), principalName(user));
  if (code != 0) return kerberosFailure(kResultNoSuchAccount, code);
  Reply probed = probePrincipal(context.get(), target.get(), settings_.realm);
  if (probed.result == kResultNoSuchAccount) return probed;
  // A ticket for the password service of the cache owner's realm, from the cache's own tickets.
  Credentials wanted(context.get());
  code = krb5_cc_get_principal(context.get(), cache.get(), &wanted.get()->client);
  if (code == 0) {
    const krb5_data& realm = wanted.get()->client->realm;
    code = krb5_build_principal(context.get(), &wanted.get()->server, realm.length, realm.data, "kadmin", "changepw",
                                nullptr);
  }
  krb5_creds* creds = nullptr;
  if (code == 0) code = krb5_get_credentials(context.get(), 0, cache.get(), wanted.get(), &creds);
  if (code != 0) return ownFailure(code, settings_.realm, "setting the password with the credential cache");
  const PasswordExchange answer = transport_->changePassword(context.get(), creds, newPassword, target.get(), nullptr);
  krb5_free_creds(context.get(), creds);
  return serverReply(context.get(), answer, settings_.realm, "setting the password with the credential cache");
}

}  // namespace vesk::agentd
