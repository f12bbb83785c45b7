#include "operations.h"

#include <pwd.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "account_names.h"
#include "audit_record.h"
#include "exit_status.h"
#include "kerberos_translation.h"
#include "local_rpc_session.h"
#include "outcome_report.h"
#include "paths.h"
#include "agent_results.h"
#include "pn.h"
#include "props.h"
#include "terminal_prompt.h"

namespace {

constexpr const char* kValidate = "validate";
constexpr const char* kChange = "change";

// The audit record of one operation: the account it was for (the caller's own when no user was
// named or resolved) and whether it succeeded.
int audited(vesk::AuditEvent event, const char* operation, const PasswordRequest& request, int status) {
  std::string account;
  if (request.user != nullptr) {
    account = request.user;
  } else if (const struct passwd* entry = getpwuid(getuid())) {
    account = entry->pw_name;
  }
  vesk::sendAuditRecord(event, operation, account, status == kExitSuccess);
  return status;
}

int validateSteps(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger);
int changeSteps(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger);

}  // namespace

bool passwordChangePermitted() {
  const std::string allowed = vesk::lower(vesk::lookupProperty(vesk::PN::PAM_ALLOW_PW_CHANGE, std::string()));
  return !(allowed == "false" || allowed == "no" || allowed == "0");
}

int runValidate(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger) {
  return audited(vesk::AuditEvent::kAuthentication, "authentication", request, validateSteps(request, logger));
}

int runChange(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger) {
  const bool set = request.user != nullptr;
  const int status = changeSteps(request, logger);
  return audited(vesk::AuditEvent::kPasswordChange, set ? "set password" : "change password", request, status);
}

namespace {

int validateSteps(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger) {
  if (!request.oldPasswordGiven) {
    if (!promptSecret("Password: ", request.oldPassword)) {
      return reportUnreadablePrompt(kValidate, request, "password", logger);
    }
    request.oldPasswordGiven = true;
  }
  if (request.debug) std::cerr << "validating password for " << shownName(request.user) << std::endl;
  return reportOutcome(kValidate, request, logger, [&request] {
    vesk::LocalRpcSession session(vesk::kAgentEndpointPath, false, false);
    AgentOutcome outcome;
    outcome.result = session.validatePlainTextUser(request.user, request.oldPassword, false);
    if (outcome.result != vesk::kResultSuccess) outcome.errorText = session.errorString(outcome.result);
    if (outcome.result == vesk::kResultAccountDisabled) outcome.reason = disabledReason(session.lastErrorText);
    return outcome;
  });
}

int changeSteps(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger) {
  if (!passwordChangePermitted()) {
    std::cerr << vesk::lookupProperty(vesk::PN::PAM_ALLOW_PW_CHANGE_MSG, "Password change not permitted") << std::endl;
    return kExitNotPermitted;
  }
  if (request.user != nullptr && request.adminUser != nullptr && !request.adminPasswordGiven) {
    if (!promptSecret("Administrator password: ", request.adminPassword)) {
      return reportUnreadablePrompt(kChange, request, "administrator password", logger);
    }
    request.adminPasswordGiven = true;
  }
  if (request.user == nullptr && !request.oldPasswordGiven) {
    const std::string prompt = vesk::lookupProperty(vesk::PN::PAM_OLD_MSG, "(current) password: ");
    if (!promptSecret(prompt.c_str(), request.oldPassword)) {
      return reportUnreadablePrompt(kChange, request, "current password", logger);
    }
    request.oldPasswordGiven = true;
  }
  if (!request.newPasswordGiven) {
    vesk::Shredder first;
    const std::string newPrompt = vesk::lookupProperty(vesk::PN::PAM_NEW_MSG, "Enter new password: ");
    if (!promptSecret(newPrompt.c_str(), first)) {
      return reportUnreadablePrompt(kChange, request, "new password", logger);
    }
    if (first.empty()) {
      std::cerr << "Error: passwords can not be empty" << std::endl;
      return kExitInvalidCredentials;
    }
    const std::string renewPrompt = vesk::lookupProperty(vesk::PN::PAM_RENEW_MSG, "Confirm new password: ");
    if (!promptSecret(renewPrompt.c_str(), request.newPassword)) {
      return reportUnreadablePrompt(kChange, request, "new password confirmation", logger);
    }
    request.newPasswordGiven = true;
    if (!(first == request.newPassword)) {
      std::cerr << "Error: passwords do not match" << std::endl;
      return kExitInvalidCredentials;
    }
  }
  if (request.debug) std::cerr << "changing password for " << shownName(request.user) << std::endl;
  return reportOutcome(kChange, request, logger, [&request] {
    AgentOutcome outcome;
    outcome.result = updatePassword(request, &outcome);
    return outcome;
  });
}

}  // namespace

int updatePassword(PasswordRequest& request) { return updatePassword(request, nullptr); }

int updatePassword(PasswordRequest& request, AgentOutcome* outcome) {
  auto logger = vesk::Logger::GetLogger("cli.tarvenko");
  vesk::LocalRpcSession session(vesk::kAgentEndpointPath, false, false);
  const bool ownChange = request.user == nullptr;
  vesk::ValidationResult result = vesk::kResultSuccess;
  if (ownChange) {
    if (!resolveCurrentUser(request)) return vesk::kResultInvalidUser;
    result = session.changePassword(request.user, request.newPassword, request.oldPassword, false);
  } else if (request.adminUser == nullptr) {
    session.authenticateProcess();
    result = session.setPasswordKrb5(request.user, request.newPassword);
  } else {
    result = session.setPassword(request.user, request.newPassword, request.adminUser, request.adminPassword);
  }
  if (result == vesk::kResultSuccess) return vesk::kResultSuccess;
  // On a set, a code outside the table (a name the library cannot parse, an unforeseen failure) is
  // told as the Kerberos failure it is: never as the policy's refusal or rejected credentials.
  if (result == vesk::kResultKerberos && !ownChange && !kerberosFailureKnown(session.lastErrorCode)) {
    result = vesk::kResultKerberosError;
  }
  if (result == vesk::kResultKerberos) {
    const int code = session.lastErrorCode;
    logger->log(vesk::LogLevel::kError, "Error: %s (%d)", session.lastErrorText.c_str(), code);
    const int translated = translateKerberosFailure(code, !ownChange);
    if (outcome != nullptr) {
      // With -a, every Kerberos failure but the password server's refusal is the administrator's
      // own authentication failing.
      if (request.adminUser != nullptr && code != vesk::krb5code::kKpasswdAccessDenied) {
        outcome->reason = "administrator credentials rejected";
      } else if (translated == vesk::kResultAccountDisabled) {
        outcome->reason = disabledReason(session.lastErrorText);
      }
    }
    return translated;
  }
  const std::string text = session.errorString(result);
  logger->log(vesk::LogLevel::kError, "Error: %s", text.c_str());
  if (outcome != nullptr) {
    outcome->errorText = text;
    if (result == vesk::kResultPolicy) outcome->serverText = session.lastErrorText;
    if (result == vesk::kResultAccountDisabled) outcome->reason = disabledReason(session.lastErrorText);
  }
  return result;
}
