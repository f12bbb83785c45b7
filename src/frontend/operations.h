// The password operations of the tarvenko personality: validate, own change, administrator set.
#pragma once

#include <memory>
#include <string>

#include "logger.h"
#include "outcome_report.h"
#include "password_request.h"

// Whether the settings permit password changes: "false", "no" and "0" (in any case) forbid them;
// any other value, and no value, permit them.
bool passwordChangePermitted();

// Runs the validate operation for request.user and reports its outcome. Returns the exit status.
int runValidate(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger);

// Runs an own change (no user) or an administrator set (a user) and reports its outcome.
// Returns the exit status.
int runChange(PasswordRequest& request, const std::shared_ptr<vesk::Logger>& logger);

// Asks the agent to change or set the password the request describes. Returns a ValidationResult
// in which a Kerberos failure (9) has been translated. Agent exceptions pass through.
int updatePassword(PasswordRequest& request);

// The same; outcome (when not null) receives the agent's text for an untranslated failure, the
// password server's words for a policy refusal, and a log reason more precise than the result's.
int updatePassword(PasswordRequest& request, AgentOutcome* outcome);
