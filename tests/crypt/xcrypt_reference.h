// What the crypt tests compare against: libxcrypt itself, and random inputs for it.
#pragma once

#include <crypt.h>

#include <memory>
#include <random>
#include <string>

#include "crypt_alphabet.h"

namespace crypt_test {

// libxcrypt's hash of `phrase` under `setting`, or "" when it refuses.
inline std::string referenceCrypt(const std::string& phrase, const std::string& setting) {
  auto data = std::make_unique<crypt_data>();
  const char* text = crypt_rn(phrase.c_str(), setting.c_str(), data.get(), sizeof *data);
  return text != nullptr ? std::string(text) : std::string();
}

// A setting of libxcrypt's own for the scheme `prefix` at its default cost.
inline std::string referenceSetting(const char* prefix) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  const char* made = crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting);
  return made != nullptr ? std::string(made) : std::string();
}

// Any bytes but NUL.
inline std::string randomPassword(std::mt19937& random, std::size_t length) {
  std::uniform_int_distribution<int> byte(1, 255);
  std::string password(length, '\0');
  for (char& c : password) c = static_cast<char>(byte(random));
  return password;
}

inline std::string randomSalt(std::mt19937& random, std::size_t length) {
  std::uniform_int_distribution<unsigned> index(0, 63);
  std::string salt;
  while (salt.size() < length) salt += vesk::cryptChar(index(random));
  return salt;
}

}  // namespace crypt_test
