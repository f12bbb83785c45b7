#include "local_passwd.h"

#include <cstdio>

int localPasswdMain(int, char**) {
  std::fprintf(stderr, "passwd: local accounts are not supported yet\n");
  return -1;
}
