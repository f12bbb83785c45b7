// The agent's own settings, read once from the settings in force and handed on by value.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "kerberos_client.h"

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
  // How long a connection may stay silent before the agent closes it, and before its first request.
  std::chrono::milliseconds idleTimeout{30000};
  std::chrono::milliseconds firstRequestTimeout{5000};
  std::size_t maxConnections = 128;
  // Open connections one user other than root may hold: one user's idle connections never starve
  // the others.
  std::size_t maxConnectionsPerUid = 16;
};

// The settings in props over the defaults above; false with the reason when they name no realm.
// A realm of "auto" is the default realm of the Kerberos configuration (and the domain, when the
// settings name none, that realm in lower case).
bool readServerSettings(const Properties& props, ServerSettings& settings, std::string& why);

// The default realm of the Kerberos configuration in force; false with the reason when there is none.
bool kerberosDefaultRealm(std::string& realm, std::string& why);

}  // namespace vesk::agentd
