#include "account_update.h"

#include <cstdio>

int updateShadowPassword(const PasswdRun& run, bool) {
  std::fprintf(stderr, "%s: cannot open %s\n", run.progName.c_str(), kShadowPath);
  return 3;
}

int updatePasswdPassword(const PasswdRun& run) {
  std::fprintf(stderr, "%s: cannot open %s\n", run.progName.c_str(), kPasswdPath);
  return 3;
}
