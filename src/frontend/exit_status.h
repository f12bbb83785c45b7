// Exit statuses of both personalities. Only the process entry ends the process, with one of these.
#pragma once

enum ExitStatus : int {
  kExitSuccess = 0,
  kExitUnexpected = 6,          // agent result without a message of its own; unexpected exception
  kExitUsage = 7,               // usage errors
  kExitNotJoined = 10,          // the host is not joined to a domain
  kExitInvalidCredentials = 19, // invalid user name or password; empty or mismatched new password
  kExitPromptFailed = 18,       // a prompt could not be read (end of input, closed terminal)
  kExitAccountDisabled = 20,
  kExitAccountExpired = 21,
  kExitPasswordExpired = 24,
  kExitNotPermitted = 27,       // change forbidden by configuration; permission denied
  kExitBadCredentials = 30,     // directory library exception with a credential code
  kExitPolicy = 32,
  kExitChangeDisabled = 33,
  kExitWorkstationDenied = 34,
  kExitNoSuchAccount = 35,
};
