// Turning the outcome of an agent operation into a message, a log record and an exit status.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "logger.h"
#include "password_request.h"

// What an operation hands to the report: the result and the agent's text for it.
struct AgentOutcome {
  int result = 0;
  std::string errorText;   // errorString of the result, kept before the session closed
  std::string serverText;  // result 5: the password server's own words, when it gave any
  std::string reason;      // a log reason that replaces the result table's, when not empty
};

// The log reason of an account the KDC refused as disabled or locked out, from the agent's text
// for the refusal: its "(NTSTATUS 0x...)" tells them apart when the KDC sent an extended error.
std::string disabledReason(const std::string& agentText);

// Runs call (the agent call of an operation) under the outcome handlers: a result is classified
// by the result table, an exception by the exception table; then writes the closing lines.
// operation is "validate" or "change". Returns the exit status.
int reportOutcome(const char* operation, const PasswordRequest& request,
                  const std::shared_ptr<vesk::Logger>& logger, const std::function<AgentOutcome()>& call);

// Ends a run whose prompt yielded nothing: names what could not be read (or why the line typed
// was refused: a NUL byte, too long), writes the closing failure line and returns
// kExitPromptFailed.
int reportUnreadablePrompt(const char* operation, const PasswordRequest& request, const char* what,
                           const std::shared_ptr<vesk::Logger>& logger);
