#include "config_check.h"

#include <unistd.h>

extern "C" {
#include <com_err.h>
}

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "kdc_lookup.h"
#include "paths.h"
#include "pn.h"
#include "props.h"

namespace vesk::agentd {
namespace {

// Keys whose value, when present, must be a whole number above 0.
constexpr const char* kPositiveKeys[] = {
    PN::AGENT_KDC_TIMEOUT_MS, PN::AGENT_PROBE_TIMEOUT_MS, PN::AGENT_IDLE_TIMEOUT_MS, PN::AGENT_MAX_CONNECTIONS,
    PN::AGENT_CONNECT_TIMEOUT_MS, PN::AGENT_REPLY_TIMEOUT_MS, PN::AGENT_KDC_SERVER_WAIT_MS,
    PN::AGENT_KDC_MESSAGE_TIMEOUT_MS, PN::AGENT_KDC_HOLDOFF_MS, PN::AGENT_ADMISSION_WAIT_MS,
    PN::AGENT_ROOT_CONNECTIONS,
};

// The realm the agent serves, upper case: the "realm" key ("auto" stays as it is, for checkKerberos),
// else the domain.
std::string realmOf(const Properties& props) {
  const std::string named = props.get(PN::REALM);
  if (lower(named) == PN::kAutoRealm) return named;
  std::string realm;
  for (char c : named.empty() ? props.get(PN::DOMAIN) : named) {
    realm += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return realm;
}

}  // namespace

void checkSettingsFile(const SettingsFile& file, const std::string& path, ConfigReport& report) {
  if (file.state == SettingsFileState::Missing) {
    report.problems.push_back("settings file " + path + ": no such file");
    return;
  }
  if (file.state == SettingsFileState::Refused) {
    report.problems.push_back("settings file " + file.problem + "; not used");
    return;
  }
  for (const auto& line : file.props.malformedLines()) {
    report.problems.push_back("settings file " + path + ": line " + line);
  }
  const std::string realm = realmOf(file.props);
  if (realm.empty()) {
    report.problems.push_back("settings file " + path + ": no realm (keys " + PN::REALM + " and " + PN::DOMAIN + ")");
  } else {
    const bool automatic = lower(realm) == PN::kAutoRealm;
    report.notes.push_back("settings file " + path + ": realm " +
                           (automatic ? "auto (the default realm of the Kerberos configuration)" : realm) + ", socket " +
                           file.props.get(PN::AGENT_SOCKET, kAgentEndpointPath));
  }
  // A host joined by the usual tools has its host keys in the system's keytab.
  const std::string keytab = file.props.get(PN::AGENT_HOST_KEYTAB, kDefaultHostKeytabPath);
  const std::string required = lower(file.props.get(PN::AGENT_HOST_KEYTAB_REQUIRED));
  if (access(keytab.c_str(), R_OK) == 0) {
    report.notes.push_back("host keytab " + keytab + ": found");
  } else if (required == "true" || required == "yes" || required == "1") {
    report.problems.push_back("host keytab " + keytab + ": missing, and the settings require it");
  } else {
    report.notes.push_back("host keytab " + keytab + ": missing (validations are not proved against the KDC)");
  }
  for (const char* key : kPositiveKeys) {
    if (file.props.has(key) && file.props.getNumber(key, 0) <= 0) {
      report.problems.push_back("settings file " + path + ": " + key + ": \"" + file.props.get(key) +
                                "\" is not a whole number above 0");
    }
  }
}

void checkKerberos(const std::string& configuredRealm, ConfigReport& report) {
  std::string realm = configuredRealm;
  const bool automatic = lower(realm) == PN::kAutoRealm;
  const char* files = std::getenv("KRB5_CONFIG");
  const std::string shownFiles = files != nullptr && *files != '\0' ? files : "/etc/krb5.conf";
  krb5_context context = nullptr;
  const krb5_error_code code = krb5_init_context(&context);
  if (code != 0) {
    report.problems.push_back("Kerberos configuration " + shownFiles + ": " + error_message(code));
    return;
  }
  char* defaultRealm = nullptr;
  if (krb5_get_default_realm(context, &defaultRealm) == 0) {
    report.notes.push_back("Kerberos configuration " + shownFiles + ": default realm " + defaultRealm);
    if (automatic) realm = defaultRealm;
    krb5_free_default_realm(context, defaultRealm);
  } else if (automatic) {
    realm.clear();
    report.problems.push_back("Kerberos configuration " + shownFiles +
                              ": no default realm, which the settings' realm auto needs (a host joined to a "
                              "domain has one in [libdefaults])");
  } else {
    report.notes.push_back("Kerberos configuration " + shownFiles + ": no default realm (the agent names its realm)");
  }
  if (!realm.empty()) {
    KdcLocation found;
    std::string why;
    if (locateKdcs(context, realm, found, why)) {
      std::string hosts;
      for (const auto& host : found.hosts) hosts += (hosts.empty() ? "" : ", ") + host;
      report.notes.push_back("KDCs of realm " + realm + " from " + found.source + ": " + hosts);
    } else {
      report.problems.push_back(why);
    }
  }
  krb5_free_context(context);
}

int runConfigCheck() {
  const std::string path = settingsPath();
  // The agent runs as root: check the file as it would.
  const SettingsFile file = readSettingsFile(path, true);
  ConfigReport report;
  checkSettingsFile(file, path, report);
  checkKerberos(file.state == SettingsFileState::Used ? realmOf(file.props) : std::string(), report);
  for (const auto& note : report.notes) std::printf("%s\n", note.c_str());
  for (const auto& problem : report.problems) std::fprintf(stderr, "kestrovad: %s\n", problem.c_str());
  if (!report.problems.empty()) return kExitConfiguration;
  std::printf("configuration usable\n");
  return 0;
}

}  // namespace vesk::agentd
