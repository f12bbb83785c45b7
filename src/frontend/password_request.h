// The one record of a front-end run: who, which passwords, which operation.
#pragma once

#include "shredder.h"

struct PasswordRequest {
  // Administrator account ("user" or "user@domain"); points into argv or at kDefaultAdminUser.
  const char* adminUser = nullptr;
  bool adminPasswordGiven = false;
  vesk::Shredder adminPassword;
  // Account to validate or set; points into argv, or at a heap copy for an own change.
  const char* user = nullptr;
  bool oldPasswordGiven = false;
  vesk::Shredder oldPassword;
  bool newPasswordGiven = false;
  vesk::Shredder newPassword;
  bool validate = false;
  bool debug = false;
};

inline constexpr const char* kDefaultAdminUser = "administrator";

// The process-wide request of the tarvenko personality, created on first use. Its destruction at
// exit wipes the three passwords.
PasswordRequest& passwordRequest();

// A name as shown in messages, debug lines and log records: "null" when missing or empty.
inline const char* shownName(const char* name) { return name != nullptr && *name != '\0' ? name : "null"; }
