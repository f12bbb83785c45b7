#include "passwd_main.h"

#include "exit_status.h"
#include "local_passwd.h"

int exitStatusForLocalResult(LocalResult result) {
  switch (result) {
    case kLocalChanged: return kExitSuccess;
    case kLocalRefused: return kExitNotPermitted;
    case kLocalHelp: return kExitUsage;
    case kLocalChangeNotMade: return kExitUnexpected;
    case kLocalBadUsage: return kExitUsage;
    case kLocalFailed:
    case kLocalDirectoryOutcomeUnknown: return kExitUnexpected;
  }
  return kExitUnexpected;
}

int passwdMain(int argc, char** argv) { return exitStatusForLocalResult(localPasswdMain(argc, argv)); }
