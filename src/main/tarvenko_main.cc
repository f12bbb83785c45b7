#include "tarvenko_main.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <iostream>

#include "audit_record.h"
#include "check_joined.h"
#include "exit_status.h"
#include "operations.h"
#include "options.h"
#include "password_request.h"
#include "props.h"

namespace {

int usageError(const char* message) {
  std::cerr << message << std::endl;
  printUsage(std::cout);
  return kExitUsage;
}

void printDebugOptions(const PasswordRequest& request) {
  std::cerr << "options\n-------\n"
            << "adminuser       " << shownName(request.adminUser) << "\n"
            << "user            " << shownName(request.user) << "\n"
            << std::endl;
}

}  // namespace

int tarvenkoMain(int argc, char** argv, const std::shared_ptr<vesk::Logger>& logger) {
  // Never go on with the privileges of the file's owner (but the right to write the audit
  // record of the run): a failed drop ends the run.
  if (!vesk::dropToUserKeepingAudit(getuid())) {
    std::cerr << "Error: cannot drop privileges: " << strerror(errno) << std::endl;
    return kExitUnexpected;
  }
  vesk::Props(false);
  PasswordRequest& request = passwordRequest();

  int operands = 0;
  switch (parseOptions(argc, argv, request, &operands)) {
    case ParseOutcome::kVersion:
    case ParseOutcome::kHelp:
      return kExitSuccess;
    case ParseOutcome::kUsage:
      return kExitUsage;
    case ParseOutcome::kRun:
      break;
  }
  if (operands > 1) return usageError("Error: too many non-option arguments.");

  if (!checkJoined(logger, std::cerr)) return kExitNotJoined;

  if (request.validate) {
    if (request.user == nullptr) return usageError("user account required for validate password");
    return runValidate(request, logger);
  }

  if (request.user == nullptr && (request.adminUser != nullptr || request.adminPasswordGiven)) {
    return usageError("user account required for administrator set password");
  }
  if (request.user != nullptr && request.adminUser == nullptr && getenv("KRB5CCNAME") == nullptr) {
    request.adminUser = kDefaultAdminUser;
  }
  if (request.user != nullptr && request.oldPasswordGiven) {
    return usageError("old password should not be used when setting the password of another user");
  }
  if (request.debug) printDebugOptions(request);
  return runChange(request, logger);
}
