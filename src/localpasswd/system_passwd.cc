#include "system_passwd.h"

#include <errno.h>
#include <grp.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "pn.h"
#include "props.h"

namespace {

// An option this personality leaves to the system's program: anything but "-h" and "-v" before
// the end of the options ("--").
bool hasForeignOption(int argc, char** argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") return false;
    if (argument.size() < 2 || argument[0] != '-') continue;
    if (argument != "-h" && argument != "-v") return true;
  }
  return false;
}

// Real, effective and saved ids all become the caller's; false when any of them stays raised.
bool becomeCaller() {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) return false;
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0) return false;
  return ruid == uid && euid == uid && suid == uid && rgid == gid && egid == gid && sgid == gid;
}

}  // namespace

std::optional<LocalResult> handOverToSystemPasswd(int argc, char** argv, const char* progName) {
  const std::string program = vesk::lookupProperty(vesk::PN::PASSWD_SYSTEM, std::string());
  if (program.empty() || !hasForeignOption(argc, argv)) return std::nullopt;
  if (program[0] != '/') {
    std::fprintf(stderr, "%s: the system's passwd program %s is not an absolute path\n", progName, program.c_str());
    return kLocalFailed;
  }
  if (!becomeCaller()) {
    std::fprintf(stderr, "%s: cannot give up privileges\n", progName);
    return kLocalFailed;
  }
  std::fflush(stdout);
  execv(program.c_str(), argv);
  std::fprintf(stderr, "%s: cannot run the system's passwd program %s: %s\n", progName, program.c_str(),
               strerror(errno));
  return kLocalFailed;
}
