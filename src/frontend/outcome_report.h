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
  std::string errorText;  // errorString of the result, kept before the session closed
};

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
