#include "directory_change.h"

#include <cstdio>

#include "agent_protocol.h"
#include "operations.h"
#include "password_entry.h"
#include "password_request.h"
#include "pn.h"
#include "props.h"

namespace {

constexpr PromptText kOldPrompt{vesk::PN::PAM_OLD_MSG, "Old password: "};
constexpr PromptText kNewPrompt{vesk::PN::PAM_NEW_MSG, "New password: "};
constexpr PromptText kRenewPrompt{vesk::PN::PAM_RENEW_MSG, "Re-enter new password: "};

}  // namespace

int runDirectoryChange(const PasswdRun& run) {
  vesk::Props(false);
  if (!passwordChangePermitted()) {
    std::fprintf(stderr, "%s\n",
                 vesk::lookupProperty(vesk::PN::PAM_ALLOW_PW_CHANGE_MSG, "Password change not permitted").c_str());
    return 1;
  }
  PasswordRequest request;
  if (!readSecret(kOldPrompt.current().c_str(), request.oldPassword)) return 1;
  request.oldPasswordGiven = true;
  if (readNewPassword(kNewPrompt, kRenewPrompt, false, request.newPassword) != EntryOutcome::kEntered) return 1;
  request.newPasswordGiven = true;
  try {
    AgentOutcome outcome;
    const int result = updatePassword(request, &outcome);
    if (result == 0) return 0;
    if (result == 1 || result == 2) {
      std::fprintf(stderr, "Incorrect password for %s\n", run.targetName.c_str());
      return 1;
    }
    // The domain's own words for a refusal, or the agent's reason for a failure, before the
    // closing line of the run.
    const std::string& why = outcome.serverText.empty() ? outcome.errorText : outcome.serverText;
    if (!why.empty() && result != vesk::agentproto::kResultOutcomeUnknown) {
      std::fprintf(stderr, "%s: %s\n", run.progName.c_str(), why.c_str());
    }
    if (result == vesk::agentproto::kResultOutcomeUnknown) {
      std::fprintf(stderr,
                   "%s: the directory did not confirm the change in time: the password may or may not have "
                   "changed\n",
                   run.progName.c_str());
      return kDirectoryOutcomeUnknown;
    }
    return -1;
  } catch (...) {
    return -1;
  }
}
