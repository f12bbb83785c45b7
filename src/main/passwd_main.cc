#include "passwd_main.h"

#include "exit_status.h"
#include "local_passwd.h"

int exitStatusForLocalResult(int result) {
  switch (result) {
    case 0: return kExitSuccess;
    case 1: return kExitNotPermitted;
    case 2: return kExitUsage;
    case 3: return kExitUnexpected;
    case 6: return kExitUsage;
    default: return kExitUnexpected;
  }
}

int passwdMain(int argc, char** argv) { return exitStatusForLocalResult(localPasswdMain(argc, argv)); }
