#include "krb5_default_realm.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace vesk {
namespace {

constexpr const char* kKrb5ConfigEnvVar = "KRB5_CONFIG";
constexpr const char* kDefaultKrb5ConfigPath = "/etc/krb5.conf";
// A krb5.conf is a few kilobytes; anything far larger is not one.
constexpr std::streamsize kMaxConfigBytes = 1 << 20;

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string realmInFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::string();
  std::string text(static_cast<std::size_t>(kMaxConfigBytes), '\0');
  file.read(text.data(), kMaxConfigBytes);
  text.resize(static_cast<std::size_t>(file.gcount()));
  return krb5DefaultRealmIn(text);
}

}  // namespace

std::string krb5DefaultRealmIn(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  bool inLibdefaults = false;
  int depth = 0;
  while (std::getline(lines, line)) {
    line = trimmed(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      const auto end = line.find(']');
      inLibdefaults = end != std::string::npos && trimmed(line.substr(1, end - 1)) == "libdefaults";
      depth = 0;
      continue;
    }
    if (line[0] == '}') {
      depth = depth > 0 ? depth - 1 : 0;
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string value = trimmed(line.substr(equals + 1));
    if (value == "{") {
      ++depth;
      continue;
    }
    if (!inLibdefaults || depth != 0 || trimmed(line.substr(0, equals)) != "default_realm") continue;
    // A value may be quoted.
    std::string realm = value;
    if (realm.size() >= 2 && realm.front() == '"' && realm.back() == '"') realm = realm.substr(1, realm.size() - 2);
    if (!realm.empty()) return realm;
  }
  return std::string();
}

std::string krb5DefaultRealm() {
  const char* listed = secure_getenv(kKrb5ConfigEnvVar);
  std::istringstream paths(listed != nullptr && *listed != '\0' ? listed : kDefaultKrb5ConfigPath);
  std::string path;
  while (std::getline(paths, path, ':')) {
    if (path.empty()) continue;
    const std::string realm = realmInFile(path);
    if (!realm.empty()) return realm;
  }
  return std::string();
}

}  // namespace vesk
