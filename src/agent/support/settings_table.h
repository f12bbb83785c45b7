// Every settings key with its default and its meaning, one row a key. kestrova.conf(5)'s list of keys
// and the example settings file are generated from these rows when the project is built
// (settings_doc.cc), and the programs' numeric defaults are read from here (settingDefaultNumber), so
// that the pages and the code cannot tell two stories. A new key of pn.h gets its row here.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

#include "paths.h"
#include "pn.h"

namespace vesk {

struct SettingRow {
  // The key; a key ending in "." is a prefix, followed in the settings by a NAME.
  const char* key;
  // The heading of kestrova.conf(5) it is listed under.
  const char* section;
  // What the programs use when the key is absent; nullptr when that is no single value (then the
  // meaning says what happens), and the example file shows `example` instead.
  const char* fallback;
  const char* example;
  // One paragraph, plain text.
  const char* meaning;
};

inline constexpr const char* kSectionDomain = "DOMAIN AND REALM";
inline constexpr const char* kSectionAgent = "DIRECTORY AGENT";
inline constexpr const char* kSectionPasswd = "THE PASSWD PERSONALITY";
inline constexpr const char* kSectionTexts = "PROMPTS AND MESSAGES";
inline constexpr const char* kSectionNames = "ACCOUNT NAMES";
inline constexpr const char* kSectionLog = "LOGGING";

inline constexpr SettingRow kSettingRows[] = {
    {PN::DOMAIN, kSectionDomain, nullptr, "example.org",
     "The Active Directory domain this host is joined to. The host counts as joined when the key is present and "
     "not empty; without it tarvenko ends with status 10, and the agent does not start unless realm is given "
     "(its unit stays inactive until the settings name a domain or a realm)."},
    {PN::REALM, kSectionDomain, nullptr, "auto",
     "The Kerberos realm of the domain, used by the agent for user names without @. Without it: the domain in "
     "upper case. auto takes the default realm of the Kerberos configuration (default_realm in the [libdefaults] "
     "section of /etc/krb5.conf, which a host joined to a domain by the usual tools has) and, when domain is "
     "absent, that realm in lower case as the domain; the host then counts as joined when that default realm "
     "exists. The settings file installed by the Debian packages uses auto; kestrovad --check-config shows the "
     "realm it finds, the host keytab, and what is missing."},

    {PN::AGENT_SOCKET, kSectionAgent, kAgentEndpointPath, nullptr,
     "The agent's Unix socket, for the tools and for the agent. Its directory must belong to root and be "
     "writable by root only."},
    {PN::AGENT_CONNECT_TIMEOUT_MS, kSectionAgent, "3000", nullptr,
     "How long a tool waits to connect to the agent, in milliseconds."},
    {PN::AGENT_REPLY_TIMEOUT_MS, kSectionAgent, "60000", nullptr,
     "How long a tool waits for the agent's answer, in milliseconds; above the agent's own limit for the "
     "Kerberos exchanges of a request, so that the tool hears the agent's outcome."},
    {PN::AGENT_KDC_TIMEOUT_MS, kSectionAgent, "15000", nullptr,
     "The agent's time limit for the Kerberos exchanges of one request, in milliseconds; a request that takes "
     "longer is answered with a time-out (or, for a change or set already sent, with outcome unknown)."},
    {PN::AGENT_PROBE_TIMEOUT_MS, kSectionAgent, "5000", nullptr,
     "The agent's time limit for asking the KDC whether it knows an account (the question the passwd "
     "personality asks for every account), in milliseconds."},
    {PN::AGENT_KDC_SERVER_WAIT_MS, kSectionAgent, "1000", nullptr,
     "How long the agent gives one Kerberos server (KDC or password server) alone, in milliseconds, before it "
     "sends the same message to the next one too; it takes the first answer of any of them."},
    {PN::AGENT_KDC_MESSAGE_TIMEOUT_MS, kSectionAgent, "10000", nullptr,
     "How long one Kerberos message of the agent waits for an answer from any server, in milliseconds."},
    {PN::AGENT_KDC_HOLDOFF_MS, kSectionAgent, "300000", nullptr,
     "How long a Kerberos server that did not answer is tried after the others, in milliseconds; the agent "
     "asks such a KDC again in the background every 30 seconds."},
    {PN::AGENT_IDLE_TIMEOUT_MS, kSectionAgent, "3000", nullptr,
     "How long a connection that has had its answer may stay silent before the agent closes it, in "
     "milliseconds: a silent connection holds a serving thread."},
    {PN::AGENT_FIRST_REQUEST_TIMEOUT_MS, kSectionAgent, "5000", nullptr,
     "How long a new connection may take to send its first request before the agent closes it, in "
     "milliseconds."},
    {PN::AGENT_MAX_CONNECTIONS, kSectionAgent, "128", nullptr,
     "How many connections the agent serves at once; more wait in the listen queue."},
    {PN::AGENT_MAX_CONNECTIONS_PER_UID, kSectionAgent, "16", nullptr,
     "How many open connections one user other than root may hold. A further one waits for one of them to end "
     "(agent.admission.wait.ms) and is refused after that; the refusals of one user are logged once per ten "
     "seconds, with their count."},
    {PN::AGENT_ADMISSION_WAIT_MS, kSectionAgent, "1000", nullptr,
     "How long a connection beyond its user's open connections waits for one of them to end before it is "
     "refused, in milliseconds; a connection refused at once gets its refusal after this time too."},
    {PN::AGENT_ROOT_CONNECTIONS, kSectionAgent, "32", nullptr,
     "How many of the serving threads (agent.max.connections) only root's connections may take, so that the "
     "host's own logins are answered however many connections the users hold."},
    {PN::AGENT_HOST_KEYTAB, kSectionAgent, kDefaultHostKeytabPath, nullptr,
     "The keytab whose host keys let the agent prove a KDC genuine when it validates a password: a KDC that "
     "cannot issue a ticket for one of them is not trusted. Used only as a trusted path (see Safety)."},
    {PN::AGENT_HOST_KEYTAB_REQUIRED, kSectionAgent, "no", nullptr,
     "true, yes or 1 (in any case): a validation without that proof (no usable keytab) is refused; any other "
     "value lets it rest on the password alone."},

    {PN::PASSWD_SYSTEM, kSectionPasswd, nullptr, "/usr/bin/passwd.distrib",
     "The system's own passwd program (an absolute path), when this binary has taken its place as "
     "/usr/bin/passwd: every option of the passwd personality but -h and -v (such as -S, -l, -u, -e, -d, -n, "
     "-x, -w, -i) is handed to that program, run with the caller's own identity. The Debian package "
     "kestrova-passwd moves the system's program to /usr/bin/passwd.distrib and the settings file installed "
     "by the Debian packages names it. Without the key such options are refused with a usage message."},
    {PN::PASSWD_QUALITY, kSectionPasswd, "no", nullptr,
     "With yes, true or 1, the passwd personality checks a new local password against the site's quality rules "
     "(/etc/security/pwquality.conf, read by libpwquality): a refused password is reported as \"BAD PASSWORD: "
     "reason\" with the library's reason and asked for again (five attempts in all, mismatches included); root "
     "is warned the same way and may keep the password. Passwords of directory accounts are the domain's to "
     "judge. The settings file installed by the Debian packages turns it on."},
    {PN::PASSWD_HASH_SCHEME, kSectionPasswd, "md5", nullptr,
     "The scheme of the new hashes the passwd personality writes for local accounts: md5 (MD5-crypt, or "
     "segmented DES when an account's own user changes a DES hash), sha512, yescrypt, or system (what "
     "ENCRYPT_METHOD in /etc/login.defs names). A new hash is never of a weaker scheme than the account's "
     "stored one; an unknown value counts as md5."},

    {PN::PAM_OLD_MSG, kSectionTexts, "(current) password: ", nullptr,
     "The prompt for the current password (the passwd personality's own default, for a directory account: "
     "\"Old password: \")."},
    {PN::PAM_NEW_MSG, kSectionTexts, "Enter new password: ", nullptr,
     "The prompt for the new password (the passwd personality's: \"New password: \")."},
    {PN::PAM_RENEW_MSG, kSectionTexts, "Confirm new password: ", nullptr,
     "The prompt for its confirmation (the passwd personality's: \"Re-enter new password: \")."},
    {PN::PAM_ALLOW_PW_CHANGE, kSectionTexts, "yes", nullptr,
     "no, false or 0 (in any case) forbid changes and sets of directory passwords; any other value allows "
     "them."},
    {PN::PAM_ALLOW_PW_CHANGE_MSG, kSectionTexts, "Password change not permitted", nullptr,
     "The refusal printed when they are forbidden."},
    {PN::TARVENKO_INVALID_USER_OR_PWD_MSG, kSectionTexts, "Invalid username or password", nullptr,
     "The message for a wrong user name or password; this and the following messages replace the whole "
     "built-in text."},
    {PN::TARVENKO_ACCT_DISABLED_MSG, kSectionTexts, nullptr, "Account cannot be accessed at this time.",
     "The message for a disabled account. Without it: \"Account cannot be accessed at this time.\" and "
     "\"Please contact your system administrator.\" on two lines, as for the next two keys."},
    {PN::PAM_ACCT_EXPIRED_MSG, kSectionTexts, nullptr, "Account cannot be accessed at this time.",
     "The message for an expired account."},
    {PN::PAM_WORKSTATION_DENIED_MSG, kSectionTexts, nullptr, "Account cannot be accessed at this time.",
     "The message for an account that may not be used from this host."},
    {PN::PAM_CHG_POLICY_VIOLATION_MSG, kSectionTexts, nullptr,
     "The new password does not meet the domain's password policy.",
     "The message for a new password the domain's policy refuses. Without it, three lines: the change "
     "failed due to a policy restriction set by the Active Directory administrator, which may be due to the "
     "new password length, lack of complexity or a minimum age for the current password."},
    {PN::TARVENKO_CHANGE_DISABLED_MSG, kSectionTexts,
     "Password change for this user has been disabled in Active Directory", nullptr,
     "The message when changes of this account's password are disabled in the domain."},
    {PN::TARVENKO_CHANGE_PERM_MSG, kSectionTexts, nullptr,
     "You do not have permission to change this users password.",
     "The message when the administrator may not set this account's password. Without it: \"You do not have "
     "permission to change this users password.\" and \"Please contact your system administrator.\" on two "
     "lines."},

    {PN::PAM_MAPUSER, kSectionNames, nullptr, "john.doe",
     "The domain account of the local user NAME, when the two names differ. Without it the "
     "local name is the domain name."},

    {PN::LOG_LEVEL, kSectionLog, "1", nullptr,
     "The lowest level of the records written, for every logger: 0 progress, 1 detail, 2 info, 3 warning, "
     "4 error. "
     "log.level.NAME sets it for the logger NAME and the loggers below it, such as log.level.agentd or "
     "log.level.cli.passwddb."},
    {PN::LOG_MEMLEVEL, kSectionLog, "5", nullptr,
     "The lowest level kept in the in-memory ring of recent records (5: none); log.memlevel.NAME sets it "
     "for one logger."},
    {PN::LOG_FILE, kSectionLog, nullptr, "/var/log/kestrova.log",
     "A file to append every record to, one line each, instead of the system log (facility authpriv). A "
     "record that cannot be written there (a caller without the right to write the file) goes to the "
     "system log."},
};

// The row of a key, or nullptr.
constexpr const SettingRow* findSettingRow(std::string_view key) {
  for (const SettingRow& row : kSettingRows) {
    if (key == row.key) return &row;
  }
  return nullptr;
}

// The default of a numeric key as a number; evaluated when the program is compiled, where a key
// without a numeric default does not compile.
// (Rows are found by index: the sanitizers' checks of a pointer into the table are not constant.)
consteval long settingDefaultNumber(std::string_view key) {
  for (std::size_t i = 0; i < std::size(kSettingRows); ++i) {
    if (key != kSettingRows[i].key) continue;
    const std::string_view fallback = kSettingRows[i].fallback != nullptr ? kSettingRows[i].fallback : "";
    if (fallback.empty()) throw "no numeric default";
    long value = 0;
    for (const char c : fallback) {
      if (c < '0' || c > '9') throw "no numeric default";
      value = value * 10 + (c - '0');
    }
    return value;
  }
  throw "no such key";
}

}  // namespace vesk
