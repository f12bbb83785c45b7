// Which directory account stands behind a local user name.
#pragma once

#include <string>

#include "password_request.h"

// The account a local name is mapped to by the settings (key vesk::PN::PAM_MAPUSER followed by
// the name), or the empty text when the name is not mapped.
std::string mapUserName(const std::string& name);

// Sets request.user to the (mapped) account of the caller's real user ID. On an unknown user ID
// prints and logs the reason and returns false, leaving request.user absent.
bool resolveCurrentUser(PasswordRequest& request);

// Whether a local name is a directory account, as far as the agent can tell.
enum class DirectoryAnswer { kKnown, kUnknown, kCannotTell };

struct DirectoryAccount {
  DirectoryAnswer answer = DirectoryAnswer::kCannotTell;
  std::string reason;  // kCannotTell: why (the agent's text, or why the agent was not reached)
  bool agentAnswered = false;  // kCannotTell: the agent answered (its realm's servers failed it)
};

// Asks the directory agent about the (mapped) name. "Unknown" only when the agent answered that
// the realm has no such account; an unreachable agent or realm, or a failed answer, is "cannot
// tell". With quick, the whole question ends within the client's connect time limit. Never throws.
DirectoryAccount askDirectoryAccount(const std::string& name, bool quick);

// True when the directory agent knows the (mapped) name as a Unix user. Never throws: an
// unreachable agent counts as not knowing the name.
bool isUserKnownToAgent(const std::string& name);
