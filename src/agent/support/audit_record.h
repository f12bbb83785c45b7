// Records for the system's audit trail (the kernel's audit subsystem, through libaudit), as the
// system's own password tools send them: one for every password change, set or validation, with
// the account and the result; the kernel adds the caller's uid and login uid.
//
// libaudit is loaded only when a record is sent. A host without an audit subsystem (a kernel built
// without it, or libaudit not installed) gets no record and no message; any other failure to send
// is written to the "cli.audit" log.
#pragma once

#include <sys/types.h>

#include <string>

namespace vesk {

enum class AuditEvent {
  kPasswordChange,  // AUDIT_USER_CHAUTHTOK: a change or an administrator's set, of any outcome
  kAuthentication,  // AUDIT_USER_AUTH: a validation of a password
};

// Sends one record: operation is the record's "op" ("change password"), account its "acct" (by
// name, as PAM's records name it, also for accounts that have a local uid).
void sendAuditRecord(AuditEvent event, const char* operation, const std::string& account, bool success);

// Makes uid the real, effective and saved user id, and keeps of the set-user-ID start only the
// permission to send audit records (CAP_AUDIT_WRITE, permitted but not effective; raised only
// while a record is sent). For uid 0 nothing is given up. False, with errno, when the drop failed:
// the caller must not go on.
bool dropToUserKeepingAudit(uid_t uid);

}  // namespace vesk
