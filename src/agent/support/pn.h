// Settings keys. Every text the tool reads from the settings file is named here, and only here.
//
// The settings file holds one "key: value" a line; "#" starts a comment. Keys are short, lower case
// and dotted. A key present with an empty value is present: look-ups then yield the empty text.
#pragma once

namespace vesk::PN {

// Texts of the password operations (prompts, refusals).
inline constexpr const char* PAM_ALLOW_PW_CHANGE = "pam.allow.pw.change";
inline constexpr const char* PAM_ALLOW_PW_CHANGE_MSG = "pam.allow.pw.change.msg";
inline constexpr const char* PAM_OLD_MSG = "pam.old.msg";
inline constexpr const char* PAM_NEW_MSG = "pam.new.msg";
inline constexpr const char* PAM_RENEW_MSG = "pam.renew.msg";

// Outcome messages.
inline constexpr const char* TARVENKO_INVALID_USER_OR_PWD_MSG = "tarvenko.invalid.user.or.pwd.msg";
inline constexpr const char* TARVENKO_ACCT_DISABLED_MSG = "tarvenko.acct.disabled.msg";
inline constexpr const char* PAM_CHG_POLICY_VIOLATION_MSG = "pam.chg.policy.violation.msg";
inline constexpr const char* TARVENKO_CHANGE_DISABLED_MSG = "tarvenko.change.disabled.msg";
inline constexpr const char* PAM_ACCT_EXPIRED_MSG = "pam.acct.expired.msg";
inline constexpr const char* PAM_WORKSTATION_DENIED_MSG = "pam.workstation.denied.msg";
inline constexpr const char* TARVENKO_CHANGE_PERM_MSG = "tarvenko.change.perm.msg";

// The system's own passwd program (absolute path), when this binary has taken its place: the passwd
// personality hands every option it does not handle itself to that program, as the caller.
inline constexpr const char* PASSWD_SYSTEM = "passwd.system";

// The scheme of the new hashes that the passwd personality writes for local accounts: "md5" (the
// default: MD5-crypt, or segmented DES when an account's own user changes a DES hash), "sha512",
// "yescrypt", or "system" (what ENCRYPT_METHOD in /etc/login.defs names, as the system's own
// tools do). A new hash is never of a weaker scheme than the account's stored one.
inline constexpr const char* PASSWD_HASH_SCHEME = "passwd.hash.scheme";

// Whether the passwd personality checks a new local password against the site's quality rules
// (pwquality.conf): "true", "yes" or "1". A refused password is asked for again; root is warned
// and may keep it. Off when absent.
inline constexpr const char* PASSWD_QUALITY = "passwd.quality";

// Account name mapping: the key is this prefix followed directly by the local user name.
inline constexpr const char* PAM_MAPUSER = "pam.mapuser.";

// The domain this host is joined to; the host counts as joined when it is present and not empty.
inline constexpr const char* DOMAIN = "domain";
// The Kerberos realm of the domain (the agent's; defaults to the domain in upper case). "auto": the
// default realm of the Kerberos configuration, and the domain, when absent, that realm in lower case.
inline constexpr const char* REALM = "realm";
inline constexpr const char* kAutoRealm = "auto";

// The directory agent's socket, and the client's time limits in milliseconds.
inline constexpr const char* AGENT_SOCKET = "agent.socket";
inline constexpr const char* AGENT_CONNECT_TIMEOUT_MS = "agent.connect.timeout.ms";
inline constexpr const char* AGENT_REPLY_TIMEOUT_MS = "agent.reply.timeout.ms";
// The agent daemon's own time limit for one Kerberos exchange, and for the probe of getUser.
inline constexpr const char* AGENT_KDC_TIMEOUT_MS = "agent.kdc.timeout.ms";
inline constexpr const char* AGENT_PROBE_TIMEOUT_MS = "agent.probe.timeout.ms";
// The agent daemon's transport: how long one Kerberos server has alone before the next is asked
// too, how long one message waits for any answer, and how long a server that did not answer is
// tried last.
inline constexpr const char* AGENT_KDC_SERVER_WAIT_MS = "agent.kdc.server.wait.ms";
inline constexpr const char* AGENT_KDC_MESSAGE_TIMEOUT_MS = "agent.kdc.message.timeout.ms";
inline constexpr const char* AGENT_KDC_HOLDOFF_MS = "agent.kdc.holdoff.ms";
// The agent daemon: how long a connection that has had its answer may stay silent (default 3000),
// and how many connections it serves at once.
inline constexpr const char* AGENT_IDLE_TIMEOUT_MS = "agent.idle.timeout.ms";
inline constexpr const char* AGENT_MAX_CONNECTIONS = "agent.max.connections";
// The agent daemon: open connections one user may hold, and how long a new connection may take
// to send its first request.
inline constexpr const char* AGENT_MAX_CONNECTIONS_PER_UID = "agent.max.connections.per.uid";
inline constexpr const char* AGENT_FIRST_REQUEST_TIMEOUT_MS = "agent.first.request.timeout.ms";
// The agent daemon: how long a connection beyond its user's open connections waits for one of them
// to end before it is refused (default 1000), and how many of the serving threads only root's
// connections may take (default 32).
inline constexpr const char* AGENT_ADMISSION_WAIT_MS = "agent.admission.wait.ms";
inline constexpr const char* AGENT_ROOT_CONNECTIONS = "agent.root.connections";
// The agent daemon: the keytab whose host keys prove the KDC genuine, and whether a validation
// without that proof is refused ("true", "yes" or "1").
inline constexpr const char* AGENT_HOST_KEYTAB = "agent.host.keytab";
inline constexpr const char* AGENT_HOST_KEYTAB_REQUIRED = "agent.host.keytab.required";

// Logging. "log.level" and "log.memlevel" set the root logger; "log.level.NAME" and
// "log.memlevel.NAME" set the logger NAME (for example "log.level.cli.passwddb: 0").
// "log.file", when set, receives every record as one line instead of syslog.
inline constexpr const char* LOG_LEVEL = "log.level";
inline constexpr const char* LOG_MEMLEVEL = "log.memlevel";
inline constexpr const char* LOG_FILE = "log.file";

}  // namespace vesk::PN
