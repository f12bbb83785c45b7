#include "server_settings.h"

extern "C" {
#include <com_err.h>
}
#include <krb5.h>

#include <cctype>

#include "paths.h"
#include "pn.h"
#include "props.h"
#include "settings_file_check.h"
#include "trusted_path.h"

namespace vesk::agentd {
namespace {

std::chrono::milliseconds milliseconds(const Properties& props, const char* key, std::chrono::milliseconds fallback) {
  const long value = props.getNumber(key, static_cast<long>(fallback.count()));
  return value > 0 ? std::chrono::milliseconds(value) : fallback;
}

std::size_t count(const Properties& props, const char* key, std::size_t fallback) {
  const long value = props.getNumber(key, static_cast<long>(fallback));
  return value > 0 ? static_cast<std::size_t>(value) : fallback;
}

std::string upper(const std::string& text) {
  std::string result;
  for (char c : text) result += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// The file of a keytab name ("FILE:/path", "WRFILE:/path" or "/path"); empty for the keytab types
// that are not files.
std::string keytabFile(const std::string& name) {
  for (const char* prefix : {"FILE:", "WRFILE:"}) {
    if (name.rfind(prefix, 0) == 0) return name.substr(std::string(prefix).size());
  }
  const auto colon = name.find(':');
  if (colon != std::string::npos && name.find('/') > colon) return std::string();
  return name;
}

}  // namespace

bool kerberosDefaultRealm(std::string& realm, std::string& why) {
  krb5_context context = nullptr;
  krb5_error_code code = krb5_init_context(&context);
  if (code != 0) {
    why = std::string("the Kerberos library cannot start: ") + error_message(code);
    return false;
  }
  char* found = nullptr;
  code = krb5_get_default_realm(context, &found);
  if (code == 0) {
    realm = found;
    krb5_free_default_realm(context, found);
  } else {
    const char* text = krb5_get_error_message(context, code);
    why = std::string("the Kerberos configuration names no default realm: ") + text;
    krb5_free_error_message(context, text);
  }
  krb5_free_context(context);
  return code == 0;
}

bool readServerSettings(const Properties& props, ServerSettings& settings, std::string& why) {
  ServerSettings read = settings;
  read.socketPath = props.get(PN::AGENT_SOCKET, kAgentEndpointPath);
  read.realm.domain = props.get(PN::DOMAIN, std::string());
  // Realm names are upper case; a realm written otherwise in the settings means the same realm.
  read.realm.realm = props.get(PN::REALM, std::string());
  if (lower(read.realm.realm) == PN::kAutoRealm) {
    std::string reason;
    if (!kerberosDefaultRealm(read.realm.realm, reason)) {
      why = std::string("realm auto: ") + reason;
      return false;
    }
    if (read.realm.domain.empty()) read.realm.domain = lower(read.realm.realm);
  }
  read.realm.realm = upper(read.realm.realm);
  if (read.realm.realm.empty()) read.realm.realm = upper(read.realm.domain);
  if (read.realm.realm.empty()) {
    why = std::string("the settings name no realm (keys ") + PN::REALM + " and " + PN::DOMAIN + ")";
    return false;
  }
  read.kdcTimeout = milliseconds(props, PN::AGENT_KDC_TIMEOUT_MS, read.kdcTimeout);
  read.probeTimeout = milliseconds(props, PN::AGENT_PROBE_TIMEOUT_MS, read.probeTimeout);
  read.realm.transport.serverWait = milliseconds(props, PN::AGENT_KDC_SERVER_WAIT_MS, read.realm.transport.serverWait);
  read.realm.transport.messageLimit =
      milliseconds(props, PN::AGENT_KDC_MESSAGE_TIMEOUT_MS, read.realm.transport.messageLimit);
  read.realm.transport.holdoff = milliseconds(props, PN::AGENT_KDC_HOLDOFF_MS, read.realm.transport.holdoff);
  read.idleTimeout = milliseconds(props, PN::AGENT_IDLE_TIMEOUT_MS, read.idleTimeout);
  read.firstRequestTimeout = milliseconds(props, PN::AGENT_FIRST_REQUEST_TIMEOUT_MS, read.firstRequestTimeout);
  read.maxConnections = count(props, PN::AGENT_MAX_CONNECTIONS, read.maxConnections);
  read.maxConnectionsPerUid = count(props, PN::AGENT_MAX_CONNECTIONS_PER_UID, read.maxConnectionsPerUid);
  read.admissionWait = milliseconds(props, PN::AGENT_ADMISSION_WAIT_MS, read.admissionWait);
  read.rootConnections = count(props, PN::AGENT_ROOT_CONNECTIONS, read.rootConnections);
  // Other users keep at least one serving thread.
  if (read.rootConnections >= read.maxConnections) read.rootConnections = read.maxConnections - 1;
  read.realm.hostKeytab = props.get(PN::AGENT_HOST_KEYTAB, kDefaultHostKeytabPath);
  // The host keys decide what "verified" means: only from a file that no one but root controls. A
  // FIFO put there is refused without waiting on it.
  const std::string keytab = keytabFile(read.realm.hostKeytab);
  read.hostKeytabRefusal.clear();
  if (!keytab.empty() && privilegedProcess() && !trustedPath(keytab, TrustedUse::Read, read.hostKeytabRefusal)) {
    read.realm.hostKeytab.clear();
  }
  const std::string required = lower(props.get(PN::AGENT_HOST_KEYTAB_REQUIRED, std::string()));
  read.realm.hostKeyRequired = required == "true" || required == "yes" || required == "1";
  settings = std::move(read);
  return true;
}

}  // namespace vesk::agentd
