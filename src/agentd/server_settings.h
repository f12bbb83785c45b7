// The agent's own settings, read once from the settings in force and handed on by value.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "kerberos_client.h"
#include "settings_table.h"

namespace vesk {
class Properties;
}

namespace vesk::agentd {

struct ServerSettings {
  std::string socketPath;
  RealmSettings realm;
  // Long enough for the transport to leave two silent KDCs and password servers behind (one
  // server wait each) on every message of an operation, and for slow answers.
  std::chrono::milliseconds kdcTimeout{15000};
  std::chrono::milliseconds probeTimeout{5000};
  // How long a connection that has had its answer may stay silent before the agent closes it, and
  // how long a new one may take to send its first request: a silent connection holds a serving
  // thread.
  std::chrono::milliseconds idleTimeout{settingDefaultNumber(PN::AGENT_IDLE_TIMEOUT_MS)};
  std::chrono::milliseconds firstRequestTimeout{5000};
  std::size_t maxConnections = 128;
  // Open connections one user other than root may hold: one user's idle connections never starve
  // the others. A connection beyond them waits up to admissionWait for one of them to end.
  std::size_t maxConnectionsPerUid = 16;
  std::chrono::milliseconds admissionWait{settingDefaultNumber(PN::AGENT_ADMISSION_WAIT_MS)};
  // Serving threads that only root's connections may take: the host's own logins (root's login
  // services) are served however many connections the users hold.
  std::size_t rootConnections = settingDefaultNumber(PN::AGENT_ROOT_CONNECTIONS);
  // Why the host keytab named in the settings is not used (hostKeytab is then empty), or empty.
  std::string hostKeytabRefusal;
};

// The settings in props over the defaults above; false with the reason when they name no realm.
// A realm of "auto" is the default realm of the Kerberos configuration (and the domain, when the
// settings name none, that realm in lower case).
// In a privileged process a host keytab that is not a trusted path (trusted_path.h) is refused.
bool readServerSettings(const Properties& props, ServerSettings& settings, std::string& why);

// The default realm of the Kerberos configuration in force; false with the reason when there is none.
bool kerberosDefaultRealm(std::string& realm, std::string& why);

}  // namespace vesk::agentd
