#include "directory_change.h"

#include <cstdio>

#include "agent_results.h"
#include "operations.h"
#include "password_entry.h"
#include "terminal_prompt.h"
#include "password_request.h"
#include "pn.h"
#include "props.h"

namespace {

constexpr PromptText kOldPrompt{vesk::PN::PAM_OLD_MSG, "Old password: "};
constexpr PromptText kNewPrompt{vesk::PN::PAM_NEW_MSG, "New password: "};
constexpr PromptText kRenewPrompt{vesk::PN::PAM_RENEW_MSG, "Re-enter new password: "};

}  // namespace

LocalResult runDirectoryChange(const PasswdRun& run) {
  vesk::Props(false);
  if (!passwordChangePermitted()) {
    std::fprintf(stderr, "%s\n",
                 vesk::lookupProperty(vesk::PN::PAM_ALLOW_PW_CHANGE_MSG, "Password change not permitted").c_str());
    return kLocalRefused;
  }
  PasswordRequest request;
  if (!promptSecret(kOldPrompt.current().c_str(), request.oldPassword)) return kLocalRefused;
  request.oldPasswordGiven = true;
  if (readNewPassword(kNewPrompt, kRenewPrompt, false, request.newPassword) != EntryOutcome::kEntered) return kLocalRefused;
  request.newPasswordGiven = true;
  try {
    AgentOutcome outcome;
    const int result = updatePassword(request, &outcome);
    if (result == vesk::kResultSuccess) return kLocalChanged;
    if (result == vesk::kResultInvalidUser || result == vesk::kResultInvalidCredentials) {
      std::fprintf(stderr, "Incorrect password for %s\n", run.targetName.c_str());
      return kLocalRefused;
    }
    // The domain's own words for a refusal, or the agent's reason for a failure, before the
    // closing line of the run.
    const std::string& why = outcome.serverText.empty() ? outcome.errorText : outcome.serverText;
    if (!why.empty() && result != vesk::kResultOutcomeUnknown) {
      std::fprintf(stderr, "%s: %s\n", run.progName.c_str(), why.c_str());
    }
    if (result == vesk::kResultOutcomeUnknown) {
      std::fprintf(stderr,
                   "%s: the directory did not confirm the change in time: the password may or may not have "
                   "changed\n",
                   run.progName.c_str());
      return kLocalDirectoryOutcomeUnknown;
    }
    return kLocalFailed;
  } catch (...) {
    return kLocalFailed;
  }
}
