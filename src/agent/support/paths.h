// System paths of the support layer and of the directory agent, each named once.
#pragma once

namespace vesk {

inline constexpr const char* kDefaultSettingsPath = "/etc/kestrova/kestrova.conf";
// Environment variable that points the settings elsewhere. Read with secure_getenv, so a
// set-user-ID run always uses kDefaultSettingsPath.
inline constexpr const char* kSettingsEnvVar = "KESTROVA_CONF";
inline constexpr const char* kAgentEndpointPath = "/var/kestrova/daemon";
// The host's keytab, whose host keys the agent uses to prove its KDC genuine.
inline constexpr const char* kDefaultHostKeytabPath = "/etc/krb5.keytab";

}  // namespace vesk
