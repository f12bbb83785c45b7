// Files a privileged process takes from its settings: the settings file itself, the log file and
// the host keytab.
//
// Whoever can change such a file, or any directory on the way to it, or swap a link in for it,
// chooses what the privileged process reads or where it writes. So the file is opened without
// following a link at its last step and must be a regular file, and every directory from / down
// to it (links in the directory part resolved first) must be root's and writable by root only. A
// file that is read must also be root's and writable by root only; a file that is only appended
// to (a log) may be writable by others, which lets them add lines but not choose where root writes. A directory others may write is
// accepted only when it is root's and sticky (/tmp): nobody else may then remove or rename the
// root-owned entry below it. Every check is made on the descriptor that is then used.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <string>

#include "unique_fd.h"

namespace vesk {

struct TrustedOpen {
  UniqueFd fd;           // valid when the file was opened and passed every check
  bool missing = false;  // the file (not a directory above it) does not exist
  std::string why;       // when not valid: "PATH: reason"
};

enum class TrustedUse { Read, Append };

// Opens path (absolute) for reading, or for appending with O_CREAT and mode 0600. A FIFO or a
// device is refused without blocking on it.
TrustedOpen openTrusted(const std::string& path, TrustedUse use);

// Whether a privileged process may use path as openTrusted would, without opening it for use; a
// missing file whose directories pass counts as trusted. False with "PATH: reason".
bool trustedPath(const std::string& path, TrustedUse use, std::string& why);

// Whether a file with this owner and mode may be used by a privileged process; the reason when not.
bool trustedOwnerAndMode(unsigned owner, unsigned mode, std::string& why);

}  // namespace vesk
