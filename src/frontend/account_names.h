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

// True when the directory agent knows the (mapped) name as a Unix user. Never throws: an
// unreachable agent counts as not knowing the name.
bool isUserKnownToAgent(const std::string& name);
