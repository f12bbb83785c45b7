#include "outcome_report.h"

#include <iostream>

#include "agent_protocol.h"
#include "exceptions.h"
#include "exit_status.h"
#include "pn.h"
#include "agent_results.h"
#include "props.h"
#include "terminal_prompt.h"

namespace {

constexpr const char* kNotAccessible =
    "Account cannot be accessed at this time.\nPlease contact your system administrator.";

struct ResultRow {
  vesk::AgentResult result;
  const char* messageKey;  // null: the message cannot be reworded
  const char* message;
  const char* reason;
  int status;
};

constexpr ResultRow kResultTable[] = {
    {vesk::kResultInvalidUser, vesk::PN::TARVENKO_INVALID_USER_OR_PWD_MSG, "Invalid username or password", "Invalid username or password",
     kExitInvalidCredentials},
    {vesk::kResultInvalidCredentials, vesk::PN::TARVENKO_INVALID_USER_OR_PWD_MSG, "Invalid username or password", "Invalid username or password",
     kExitInvalidCredentials},
    {vesk::kResultAccountDisabled, vesk::PN::TARVENKO_ACCT_DISABLED_MSG, kNotAccessible, "Account disabled", kExitAccountDisabled},
    {vesk::kResultPasswordExpired, nullptr, "Password expired - access denied", "Password expired", kExitPasswordExpired},
    {vesk::kResultPolicy, vesk::PN::PAM_CHG_POLICY_VIOLATION_MSG,
     "The password change operation failed due to a policy restriction set by\n"
     "the Active Directory administrator. This may be due to the new password\n"
     "length, lack of complexity or a minimum age for the current password.",
     "Policy not matched", kExitPolicy},
    {vesk::kResultChangeDisabled, vesk::PN::TARVENKO_CHANGE_DISABLED_MSG, "Password change for this user has been disabled in Active Directory",
     "Password change rejected", kExitChangeDisabled},
    {vesk::kResultAccountExpired, vesk::PN::PAM_ACCT_EXPIRED_MSG, kNotAccessible, "Account expired", kExitAccountExpired},
    {vesk::kResultWorkstationDenied, vesk::PN::PAM_WORKSTATION_DENIED_MSG, kNotAccessible, "Workstation denied", kExitWorkstationDenied},
    {vesk::kResultPermissionDenied, vesk::PN::TARVENKO_CHANGE_PERM_MSG,
     "You do not have permission to change this users password.\nPlease contact your system administrator.",
     "Permission denied", kExitNotPermitted},
    {vesk::kResultNoSuchAccount, nullptr, "Account does not exist in Active Directory.", "Account does not exist in Active Directory",
     kExitNoSuchAccount},
    {vesk::kResultOutcomeUnknown, nullptr,
     "The directory did not confirm the change in time: the password may or may not have changed.\n"
     "Try the new password before changing it again.",
     "Outcome unknown", kExitUnexpected},
};

bool isCredentialCode(int code) { return code == 1001 || code == 1004 || code == 1030; }

// Writes the message of a non-zero result, logs the failure and returns the status.
int classify(const char* operation, const PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger,
             const AgentOutcome& outcome, int& status) {
  std::string reason;
  status = kExitUnexpected;
  bool known = false;
  for (const ResultRow& row : kResultTable) {
    if (row.result != outcome.result) continue;
    known = true;
    status = row.status;
    reason = outcome.reason.empty() ? row.reason : outcome.reason;
    const std::string message =
        row.messageKey != nullptr ? vesk::lookupProperty(row.messageKey, row.message) : std::string(row.message);
    std::cerr << message << std::endl;
    if (!outcome.serverText.empty()) {
      // The password server's own words, indented under the configured text.
      std::cerr << "  " << outcome.serverText << std::endl;
      reason += ": " + outcome.serverText;
    }
    break;
  }
  if (!known) {
    reason = "Unexpected Error: " + outcome.errorText;
    if (!outcome.errorText.empty()) std::cerr << "Error: " << outcome.errorText << std::endl;
  }
  logger->log(vesk::LogLevel::kWarning, "Password %s with tarvenko failed for user %s: %s", operation, shownName(request.user),
                reason.c_str());
  return status;
}

int closeRun(const char* operation, const PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger,
             int status) {
  if (request.debug) std::cerr << "all done exit(" << status << ")" << std::endl;
  if (status == 0) {
    logger->log(vesk::LogLevel::kInfo, "Password %s with tarvenko successful for user %s ", operation, shownName(request.user));
  } else {
    std::cerr << "Password " << operation << " failed for user " << shownName(request.user) << std::endl;
  }
  return status;
}

}  // namespace

std::string disabledReason(const std::string& agentText) {
  if (agentText.find("NTSTATUS 0xC0000234") != std::string::npos) return "Account locked out";
  if (agentText.find("NTSTATUS 0xC0000072") != std::string::npos) return "Account disabled";
  return "Account disabled or locked out";
}

int reportOutcome(const char* operation, const PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger,
                  const std::function<AgentOutcome()>& call) {
  int status = 0;
  try {
    const AgentOutcome outcome = call();
    status = outcome.result;
    if (outcome.result == vesk::kResultSuccess) {
      if (std::string(operation) == "validate") {
        std::cout << "Password " << operation << " with tarvenko successful for user " << shownName(request.user)
                  << std::endl;
      }
    } else {
      classify(operation, request, logger, outcome, status);
    }
  } catch (const std::string& text) {
    std::cerr << "\nError: " << text << std::endl;
    status = kExitUnexpected;
  } catch (const vesk::NotFoundException&) {
    std::cerr << "Error: User not found, this may indicate network issues." << std::endl;
    status = kExitNoSuchAccount;
  } catch (const KerberosException& e) {
    std::cerr << "\nError: (kerberos) " << ": " << e.what() << std::endl;
    status = kExitUnexpected;
  } catch (const BaseException& e) {
    if (isCredentialCode(e.getCode())) {
      std::cerr << "\nError: invalid credentials" << std::endl;
      status = kExitBadCredentials;
    } else {
      std::cerr << "\nError: " << e.getMessage() << std::endl;
      status = kExitUnexpected;
    }
  } catch (const vesk::Base_Exception& e) {
    // The agent is unreachable or failed on input/output: its own text says why.
    std::cerr << "Error: " << e.what() << std::endl;
    status = kExitUnexpected;
  } catch (const std::exception& e) {
    std::cerr << "\nError: " << e.what() << std::endl;
    status = kExitUnexpected;
  } catch (...) {
    std::cerr << "Error: unexpected failure" << std::endl;
    status = kExitUnexpected;
  }
  return closeRun(operation, request, logger, status);
}

int reportUnreadablePrompt(const char* operation, const PasswordRequest& request, const char* what,
                           const std::shared_ptr<vesk::Logger>& logger) {
  switch (lastPromptFailure()) {
    case PromptFailure::kNulByte:
      std::cerr << "Error: the " << what << " contains a NUL byte; it was not used" << std::endl;
      break;
    case PromptFailure::kLineTooLong:
      std::cerr << "Error: the " << what << " is longer than " << kMaxPasswordLine << " characters; it was not used"
                << std::endl;
      break;
    default:
      std::cerr << "Error: could not read the " << what << " (end of input or no terminal)" << std::endl;
  }
  logger->log(vesk::LogLevel::kWarning, "Password %s with tarvenko failed for user %s: %s", operation, shownName(request.user),
                (std::string("no ") + what + " could be read").c_str());
  return closeRun(operation, request, logger, kExitPromptFailed);
}
