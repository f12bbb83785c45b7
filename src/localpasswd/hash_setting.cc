#include "hash_setting.h"

#include <cctype>
#include <fstream>
#include <string_view>

namespace {

struct MethodName {
  const char* name;
  vesk::HashScheme scheme;
};

constexpr MethodName kMethods[] = {
    {"SHA256", vesk::HashScheme::kSha256},   {"SHA512", vesk::HashScheme::kSha512},
    {"BCRYPT", vesk::HashScheme::kBcrypt},   {"YESCRYPT", vesk::HashScheme::kYescrypt},
    {"GOST_YESCRYPT", vesk::HashScheme::kGostYescrypt},
    {"MD5", vesk::HashScheme::kMd5},         {"DES", vesk::HashScheme::kMd5},
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string loginDefsEncryptMethod(const char* loginDefs) {
  std::ifstream in(loginDefs);
  std::string line;
  std::string method;
  // The system's tools take the last assignment of a key.
  while (std::getline(in, line)) {
    std::string_view text = trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    const std::size_t end = text.find_first_of(" \t");
    if (end == std::string_view::npos || text.substr(0, end) != "ENCRYPT_METHOD") continue;
    text = trimmed(text.substr(end));
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    method.assign(text);
  }
  return method;
}

vesk::HashScheme configuredHashScheme(const std::string& value, const char* loginDefs, std::string* problem) {
  problem->clear();
  if (value.empty() || value == "md5") return vesk::HashScheme::kMd5;
  if (value == "sha512") return vesk::HashScheme::kSha512;
  if (value == "yescrypt") return vesk::HashScheme::kYescrypt;
  if (value != "system") {
    *problem = "unknown hash scheme \"" + value + "\"; md5 used";
    return vesk::HashScheme::kMd5;
  }
  const std::string method = loginDefsEncryptMethod(loginDefs);
  for (const MethodName& known : kMethods) {
    if (method == known.name) return known.scheme;
  }
  *problem = std::string("no usable ENCRYPT_METHOD in ") + loginDefs + "; md5 used";
  return vesk::HashScheme::kMd5;
}
