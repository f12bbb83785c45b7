#include "local_hash.h"

bool oldPasswordMatches(const vesk::Shredder&, const std::string&) { return false; }

bool makeNewHash(const vesk::Shredder&, const std::string&, bool, std::string&, std::string& error) {
  error = "no hashing scheme available";
  return false;
}
