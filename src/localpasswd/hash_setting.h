// The site's choice of scheme for new hashes: the settings key vesk::PN::PASSWD_HASH_SCHEME.
#pragma once

#include <string>

#include "password_hash.h"

// The system's own settings of its account tools, where ENCRYPT_METHOD names their scheme.
inline constexpr const char* kLoginDefsPath = "/etc/login.defs";

// The scheme that the value of the setting asks for (passwordNewHashScheme gives the final one):
//   "md5" or an absent setting: kMd5, the document's rule (see vesk::newHashScheme);
//   "sha512": kSha512; "yescrypt": kYescrypt;
//   "system": what ENCRYPT_METHOD in the file loginDefs names (SHA256, SHA512, BCRYPT, YESCRYPT,
//   GOST_YESCRYPT), as the system's own tools do; kMd5 for MD5, DES, none or a file that cannot be
//   read, since no new hash is made weaker than the document's.
// Any other value is taken as "md5"; problem then says why (and for an unreadable file), else it
// is left empty.
vesk::HashScheme configuredHashScheme(const std::string& value, const char* loginDefs, std::string* problem);

// The value of ENCRYPT_METHOD in the file loginDefs, "" when it has none or cannot be read.
std::string loginDefsEncryptMethod(const char* loginDefs);
