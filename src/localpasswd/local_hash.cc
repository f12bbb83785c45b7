#include "local_hash.h"

#include "password_hash.h"

bool oldPasswordMatches(const vesk::Shredder& typed, const std::string& storedHash) {
  return vesk::verifyPassword(typed.c_str(), storedHash.c_str()).matches;
}

bool hashCanVerify(const std::string& storedHash) {
  return !storedHash.empty() && storedHash != "x" && storedHash[0] != '!' && storedHash[0] != '*';
}

bool makeNewHash(const vesk::Shredder& password, const std::string& storedHash, bool callerIsRoot,
                 std::string& hash, std::string& error) {
  const vesk::HashScheme scheme = vesk::newHashScheme(storedHash.c_str(), callerIsRoot);
  const vesk::NewHash made = vesk::hashNewPassword(password.c_str(), scheme);
  if (!made) {
    error = made.error;
    return false;
  }
  hash.assign(made.text.view());
  return true;
}
