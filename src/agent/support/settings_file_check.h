// Reading the settings file, and whether a privileged process may trust it.
//
// The set-user-ID binary reads the settings while it is still privileged (they name the log file
// it appends to), and the agent daemon runs as root: a file that someone other than root can
// change would hand that someone the privileged process's hand. A privileged process therefore
// uses the file only as a trusted path (trusted_path.h).
#pragma once

#include <string>

#include "props.h"

namespace vesk {

// How the settings file was found.
enum class SettingsFileState {
  Used,       // read and in force
  Missing,    // no such file: the settings are empty
  Refused,    // not trustworthy for this process, or not readable: the settings are empty
};

struct SettingsFile {
  Properties props;
  SettingsFileState state = SettingsFileState::Missing;
  // For Refused: why, as "PATH: reason".
  std::string problem;
};

// True when the process runs with raised privileges: as root, or started set-user-ID or
// set-group-ID.
bool privilegedProcess();

// Reads the settings file at path. With checkTrust, a file that is not a trusted path is refused.
SettingsFile readSettingsFile(const std::string& path, bool checkTrust);

}  // namespace vesk
