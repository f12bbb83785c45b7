// System paths of the support layer and of the directory agent, each named once.
#pragma once

namespace vesk {

inline constexpr const char* kDefaultSettingsPath = "/etc/kestrova/kestrova.conf";
// Environment variable that points the settings elsewhere. Read with secure_getenv, so a
// set-user-ID run always uses kDefaultSettingsPath.
inline constexpr const char* kSettingsEnvVar = "KESTROVA_CONF";
inline constexpr const char* kAgentEndpointPath = "/var/kestrova/daemon";

}  // namespace vesk
