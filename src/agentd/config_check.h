// What `kestrovad --check-config` checks, and what the agent checks of its settings at start.
//
// Each problem is one line of text; an empty list means the agent can start with this
// configuration. Notes are what was found, for a person reading the output.
#pragma once

#include <string>
#include <vector>

#include "settings_file_check.h"

namespace vesk::agentd {

struct ConfigReport {
  std::vector<std::string> problems;
  std::vector<std::string> notes;
};

// The settings file as the agent reads it: missing or refused, each malformed line with its
// number, no realm, a time limit or count that is not a whole number above 0.
void checkSettingsFile(const SettingsFile& file, const std::string& path, ConfigReport& report);

// The Kerberos configuration: the library starts with it, and it or DNS names the realm's KDCs.
void checkKerberos(const std::string& realm, ConfigReport& report);

// Both checks on the settings file in force; prints notes on standard output and problems on
// standard error. Returns the exit status: 0, or kExitConfiguration.
int runConfigCheck();

// Exit status of the agent when its configuration is unusable (sysexits' EX_CONFIG).
inline constexpr int kExitConfiguration = 78;

}  // namespace vesk::agentd
