#include "audit_record.h"

#include <errno.h>
#include <libaudit.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "loaded_library.h"
#include "logger.h"

namespace vesk {
namespace {

constexpr const char* kAuditLibrary = "libaudit.so.1";

struct Capabilities {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

  bool read() { return syscall(SYS_capget, &header, data) == 0; }
  bool write() { return syscall(SYS_capset, &header, data) == 0; }
};

constexpr unsigned kAuditWord = CAP_AUDIT_WRITE / 32;
constexpr unsigned kAuditBit = 1u << (CAP_AUDIT_WRITE % 32);

// Raises CAP_AUDIT_WRITE into the effective set for its lifetime, when it is permitted and not
// already effective.
class AuditWriteRaised {
 public:
  AuditWriteRaised() {
    if (!caps_.read()) return;
    const bool permitted = (caps_.data[kAuditWord].permitted & kAuditBit) != 0;
    if (!permitted || (caps_.data[kAuditWord].effective & kAuditBit) != 0) return;
    caps_.data[kAuditWord].effective |= kAuditBit;
    raised_ = caps_.write();
  }
  AuditWriteRaised(const AuditWriteRaised&) = delete;
  AuditWriteRaised& operator=(const AuditWriteRaised&) = delete;
  ~AuditWriteRaised() {
    if (!raised_) return;
    caps_.data[kAuditWord].effective &= ~kAuditBit;
    caps_.write();
  }

 private:
  Capabilities caps_;
  bool raised_ = false;
};

// audit_open's errors on a kernel without the audit subsystem.
bool noAuditSubsystem(int error) { return error == EPROTONOSUPPORT || error == EINVAL || error == EAFNOSUPPORT; }

void logFailure(const char* what, int error) {
  Logger::GetLogger("cli.audit")->log(LogLevel::kWarning, "no audit record: %s: %s", what, std::strerror(error));
}

}  // namespace

void sendAuditRecord(AuditEvent event, const char* operation, const std::string& account, bool success) {
  const LoadedLibrary library(kAuditLibrary);
  auto* open = library.function<decltype(audit_open)>("audit_open");
  auto* close = library.function<decltype(audit_close)>("audit_close");
  auto* logAccount = library.function<decltype(audit_log_acct_message)>("audit_log_acct_message");
  if (open == nullptr || close == nullptr || logAccount == nullptr) return;
  const AuditWriteRaised permission;
  const int fd = open();
  if (fd < 0) {
    if (!noAuditSubsystem(errno)) logFailure("audit_open", errno);
    return;
  }
  const int type = event == AuditEvent::kAuthentication ? AUDIT_USER_AUTH : AUDIT_USER_CHAUTHTOK;
  // An id of -1 makes the library write the name ("acct=") rather than the id.
  if (logAccount(fd, type, nullptr, operation, account.c_str(), static_cast<unsigned>(-1), nullptr, nullptr, nullptr,
                 success ? 1 : 0) <= 0) {
    logFailure("audit_log_acct_message", errno);
  }
  close(fd);
}

bool dropToUserKeepingAudit(uid_t uid) {
  if (uid == 0) return setresuid(0, 0, 0) == 0;
  Capabilities caps;
  if (!caps.read()) return false;
  const bool mayAudit = (caps.data[kAuditWord].permitted & kAuditBit) != 0;
  if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return false;
  const bool dropped = setresuid(uid, uid, uid) == 0;
  int error = errno;
  bool narrowed = false;
  if (dropped) {
    for (auto& word : caps.data) word = {};
    if (mayAudit) caps.data[kAuditWord].permitted = kAuditBit;
    narrowed = caps.write();
    error = errno;
  }
  if (prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0) != 0) return false;
  errno = error;
  return dropped && narrowed;
}

}  // namespace vesk
