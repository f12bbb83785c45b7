// Stands in for libaudit.so.1 in whole-program tests (the kernel here audits nothing): appends each
// record to /etc/kestrova/audit-records, with the sender's real uid and whether CAP_AUDIT_WRITE
// was in its effective set, which a kernel requires of the sender.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

int audit_open() { return open("/dev/null", O_WRONLY | O_CLOEXEC); }
void audit_close(int fd) { close(fd); }
// What the system's account tools use besides: accepted, not recorded.
int audit_log_user_message(int, int, const char*, const char*, const char*, const char*, int) { return 1; }
int audit_log_user_avc_message(int, int, const char*, const char*, const char*, const char*, uid_t) { return 1; }
int audit_log_semanage_message(int, int, const char*, const char*, const char*, unsigned, const char*, const char*,
                               const char*, const char*, const char*, const char*, const char*, const char*,
                               const char*, int) {
  return 1;
}

int audit_log_acct_message(int, int type, const char*, const char* op, const char* name, unsigned, const char*,
                           const char*, const char*, int result) {
  unsigned long long effective = 0;
  char line[256];
  FILE* status = std::fopen("/proc/self/status", "r");
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "CapEff:", 7) == 0) effective = std::strtoull(line + 7, nullptr, 16);
  }
  if (status != nullptr) std::fclose(status);
  FILE* out = std::fopen("/etc/kestrova/audit-records", "a");
  if (out == nullptr) return -1;
  std::fprintf(out, "type=%d op=\"%s\" acct=\"%s\" uid=%u res=%s cap=%s\n", type, op, name ? name : "?", getuid(),
               result == 1 ? "success" : "failed", (effective >> 29) & 1 ? "yes" : "no");
  std::fclose(out);
  return 1;
}
}
