#include "local_hash.h"

#include "password_hash.h"

OldPasswordCheck checkOldPassword(const vesk::Shredder& typed, const std::string& storedHash) {
  const vesk::Verification verification = vesk::verifyPassword(typed.c_str(), storedHash.c_str());
  if (!verification.computed) return OldPasswordCheck::kOutOfMemory;
  return verification.matches ? OldPasswordCheck::kMatches : OldPasswordCheck::kWrong;
}

bool hashCanVerify(const std::string& storedHash) {
  return !storedHash.empty() && storedHash != "x" && storedHash[0] != '!' && storedHash[0] != '*';
}

bool makeNewHash(const vesk::Shredder& password, const std::string& storedHash, bool callerIsRoot,
                 vesk::HashScheme configured, std::string& hash, std::string& error) {
  const vesk::HashScheme scheme = vesk::newHashScheme(storedHash.c_str(), callerIsRoot, configured);
  const vesk::NewHash made = vesk::hashNewPassword(password.c_str(), scheme);
  if (!made) {
    error = made.error;
    return false;
  }
  hash.assign(made.text.view());
  return true;
}
