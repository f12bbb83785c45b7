#include "operations.h"

#include <iostream>

#include "exit_status.h"

int runValidate(PasswordRequest&, const std::shared_ptr<vesk::Logger>&) {
  std::cerr << "Error: validate is not available yet" << std::endl;
  return kExitUnexpected;
}

int runChange(PasswordRequest&, const std::shared_ptr<vesk::Logger>&) {
  std::cerr << "Error: change is not available yet" << std::endl;
  return kExitUnexpected;
}

int updatePassword(PasswordRequest&) { return -1; }
