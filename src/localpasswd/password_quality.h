// The site's quality rules for new local passwords (pwquality.conf, through libpwquality), when
// the setting PASSWD_QUALITY is on. libpwquality is loaded only then.
#pragma once

#include <memory>
#include <string>

#include "shredder.h"

class PasswordQuality {
 public:
  // Loads the library and reads the site's configuration when the setting is on; otherwise, or
  // when the library is missing (logged), every password passes.
  PasswordQuality();
  PasswordQuality(const PasswordQuality&) = delete;
  PasswordQuality& operator=(const PasswordQuality&) = delete;
  ~PasswordQuality();

  // Empty when the password passes; else the library's reason ("The password is shorter than 8
  // characters"). oldPassword may be empty (not known).
  std::string refusal(const vesk::Shredder& password, const vesk::Shredder& oldPassword,
                      const std::string& user) const;

 private:
  struct Library;
  std::unique_ptr<Library> library_;
};
