#include "local_passwd.h"

#include <getopt.h>
#include <libgen.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "account_names.h"
#include "account_paths.h"
#include "account_update.h"
#include "aging_rules.h"
#include "audit_record.h"
#include "cache_refresh.h"
#include "current_hash.h"
#include "directory_change.h"
#include "hash_setting.h"
#include "local_hash.h"
#include "local_rpc_session.h"
#include "logger.h"
#include "passwd_run.h"
#include "password_entry.h"
#include "password_quality.h"
#include "pn.h"
#include "props.h"
#include "system_passwd.h"
#include "terminal_prompt.h"
#include "write_limits.h"

namespace {

constexpr PromptText kNewPrompt{nullptr, "New password: "};
constexpr PromptText kRenewPrompt{nullptr, "Re-enter new password: "};

void printUsage(const PasswdRun& run) { std::fprintf(stderr, "usage: %s [name]\n", run.progName.c_str()); }

// One record on authpriv for every change and refusal: who, whose account, what happened.
void logOutcome(const PasswdRun& run, vesk::LogLevel level, const char* outcome) {
  vesk::Logger::GetLogger("cli.passwd")
      ->log(level, "password change by %s (uid %u) for %s: %s", run.callerName.empty() ? "?" : run.callerName.c_str(),
            static_cast<unsigned>(run.callerUid), run.targetName.empty() ? "?" : run.targetName.c_str(), outcome);
}

LocalResult refuse(const PasswdRun& run, const char* outcome) {
  logOutcome(run, vesk::LogLevel::kWarning, outcome);
  return kLocalRefused;
}

// Names a line that a prompt refused (a NUL byte, or too long to be a password); false when the
// prompt simply yielded nothing (end of input, an error), which ends the run without a message.
bool reportUnusableLine(const PasswdRun& run) {
  switch (lastPromptFailure()) {
    case PromptFailure::kNulByte:
      std::fprintf(stderr, "%s: the password contains a NUL byte; it was not used\n", run.progName.c_str());
      logOutcome(run, vesk::LogLevel::kWarning, "refused: a password with a NUL byte");
      return true;
    case PromptFailure::kLineTooLong:
      std::fprintf(stderr, "%s: the password is longer than %u characters; it was not used\n",
                   run.progName.c_str(), kMaxPasswordLine);
      logOutcome(run, vesk::LogLevel::kWarning, "refused: a password line too long");
      return true;
    default:
      return false;
  }
}

// A prompt that returned nothing: the refusal, with the reason when the line was unusable.
LocalResult abandon(const PasswdRun& run, const char* outcome) {
  if (reportUnusableLine(run)) return kLocalRefused;
  return refuse(run, outcome);
}

// The closing message and record of an update: kLocalChanged is success, anything else a failure;
// then the update's own note, if any (what failed, or a warning).
LocalResult reportUpdate(const PasswdRun& run, LocalResult result, const char* changed, const char* failed) {
  if (result == kLocalChanged) {
    std::fprintf(stderr, "%s: password updated successfully\n", run.progName.c_str());
    logOutcome(run, vesk::LogLevel::kInfo, changed);
  } else {
    std::fprintf(stderr, "%s: cannot update password\n", run.progName.c_str());
    logOutcome(run, vesk::LogLevel::kWarning, failed);
  }
  if (!run.updateNote.empty()) {
    std::fprintf(stderr, "%s: %s\n", run.progName.c_str(), run.updateNote.c_str());
    logOutcome(run, vesk::LogLevel::kWarning, run.updateNote.c_str());
  }
  return result;
}

// The caller's name: the login name when its account has the real user id, else the name of the
// account that has it. Empty when there is none, or when it is too long to be a name.
std::string findCallerName(uid_t uid) {
  const char* login = getlogin();
  if (login != nullptr && *login != '\0') {
    const struct passwd* entry = getpwnam(login);
    if (entry != nullptr && entry->pw_uid == uid) return std::string(login).size() <= kMaxNameLength ? login : "";
  }
  const struct passwd* entry = getpwuid(uid);
  if (entry == nullptr || std::string(entry->pw_name).size() > kMaxNameLength) return std::string();
  return entry->pw_name;
}

LocalResult directoryRoad(PasswdRun& run) {
  if (!vesk::dropToUserKeepingAudit(getuid())) {
    std::fprintf(stderr, "%s: cannot give up privileges\n", run.progName.c_str());
    return kLocalFailed;
  }
  if (run.targetName != run.callerName) {
    std::fprintf(stderr, "%s: you may not change the password for AD user %s\n", run.progName.c_str(),
                 run.targetName.c_str());
    return refuse(run, "refused: directory account of another user");
  }
  std::printf("Changing password for %s\n", run.targetName.c_str());
  std::fflush(stdout);
  const LocalResult result = runDirectoryChange(run);
  if (result == kLocalDirectoryOutcomeUnknown) {
    logOutcome(run, vesk::LogLevel::kWarning, "directory change sent, outcome unknown");
    return kLocalFailed;
  }
  if (result == kLocalRefused && reportUnusableLine(run)) return kLocalRefused;
  if (result == kLocalRefused) {
    logOutcome(run, vesk::LogLevel::kWarning, "directory change refused or abandoned");
    return kLocalChangeNotMade;
  }
  return reportUpdate(run, result, "directory password changed",
                      "directory change failed");
}

LocalResult localRoad(PasswdRun& run) {
  const bool callerIsRoot = run.callerUid == 0;
  if (!readCurrentHash(run)) {
    std::fprintf(stderr, "%s: unknown user %s\n", run.progName.c_str(), run.targetName.c_str());
    return refuse(run, "refused: unknown user");
  }
  if (!run.directoryOutage.empty()) {
    // The account may be a directory account. Where the local road could only end in "Incorrect
    // password" (or worse, change a usable local hash the user takes for the directory's), say so.
    const char* unreachable =
        run.outageOfRealm ? "the directory agent cannot reach the domain's servers" : "cannot reach the directory agent";
    if (!callerIsRoot && !hashCanVerify(run.storedHash)) {
      std::fprintf(stderr, "%s: %s to change the password of %s: %s; password unchanged\n", run.progName.c_str(),
                   unreachable, run.targetName.c_str(), run.directoryOutage.c_str());
      logOutcome(run, vesk::LogLevel::kWarning, ("failed: directory unreachable: " + run.directoryOutage).c_str());
      return kLocalFailed;
    }
    std::fprintf(stderr, "%s: %s (%s); only the local password of %s will change\n", run.progName.c_str(),
                 unreachable, run.directoryOutage.c_str(), run.targetName.c_str());
    logOutcome(run, vesk::LogLevel::kInfo, ("directory unreachable, local road: " + run.directoryOutage).c_str());
  }
  if (!callerIsRoot) {
    const AgingVerdict verdict = checkAgingRules(run.shadow, time(nullptr));
    if (verdict != AgingVerdict::kPermitted) {
      printAgingRefusal(verdict, run.targetName);
      return refuse(run, "refused by the aging rules");
    }
  }
  std::printf("Changing password for %s\n", run.targetName.c_str());
  std::fflush(stdout);

  vesk::Shredder old;
  if (!callerIsRoot && !run.storedHash.empty()) {
    if (!promptSecret("Old password: ", old)) return abandon(run, "abandoned: no old password");
    switch (checkOldPassword(old, run.storedHash)) {
      case OldPasswordCheck::kMatches:
        break;
      case OldPasswordCheck::kWrong:
        std::fprintf(stderr, "Incorrect password for %s\n", run.targetName.c_str());
        return refuse(run, "refused: incorrect old password");
      case OldPasswordCheck::kOutOfMemory:
        std::fprintf(stderr, "%s: out of memory while checking the old password\n", run.progName.c_str());
        logOutcome(run, vesk::LogLevel::kWarning, "failed: out of memory while checking the old password");
        return kLocalChangeNotMade;
    }
  }

  const PasswordQuality quality;
  const auto judge = [&](const vesk::Shredder& candidate) {
    std::string why = quality.refusal(candidate, old, run.targetName);
    if (!why.empty() && callerIsRoot) {
      std::fprintf(stderr, "BAD PASSWORD: %s\n", why.c_str());
      why.clear();
    }
    return why;
  };
  switch (readNewPassword(kNewPrompt, kRenewPrompt, true, run.newPassword, judge)) {
    case EntryOutcome::kEntered:
      break;
    case EntryOutcome::kNothingRead:
      return abandon(run, "abandoned: no new password");
    case EntryOutcome::kNoMoreRetry:
      return refuse(run, "refused: no acceptable new password confirmed");
  }
  if (run.newPassword.size() > kMaxPasswordLength) {
    run.newPassword.shred();
    std::fprintf(stderr, "%s: the new password is too long (at most %zu characters)\n", run.progName.c_str(),
                 kMaxPasswordLength);
    return refuse(run, "refused: new password too long");
  }

  std::string error;
  const vesk::HashScheme configured = configuredHashScheme(
      vesk::lookupProperty(vesk::PN::PASSWD_HASH_SCHEME, std::string()), kLoginDefsPath, &error);
  if (!error.empty()) logOutcome(run, vesk::LogLevel::kWarning, error.c_str());
  std::string newHash;
  const bool hashed = makeNewHash(run.newPassword, run.storedHash, callerIsRoot, configured, newHash, error);
  run.newPassword.shred();
  old.shred();
  if (!hashed) {
    std::fprintf(stderr, "%s: cannot hash the new password: %s\n", run.progName.c_str(), error.c_str());
    logOutcome(run, vesk::LogLevel::kWarning, "failed: cannot hash the new password");
    return kLocalChangeNotMade;
  }
  run.storedHash = newHash;

  if (setuid(0) != 0) {
    std::fprintf(stderr, "%s: cannot change ID to root\n", run.progName.c_str());
    return refuse(run, "refused: cannot change ID to root");
  }
  // From the write to the closing message nothing the caller sends may end the run.
  SignalBlock quiet;
  const LocalResult result = run.inShadow && access(vesk::kAccountShadowPath, F_OK) == 0
                                 ? updateShadowPassword(run, vesk::kAccountShadowPath, !callerIsRoot)
                                 : updatePasswdPassword(run, vesk::kAccountPasswdPath);
  if (result == kLocalChanged) refreshAccountCaches();
  return reportUpdate(run, result, "password changed", "failed: the account file was not updated");
}

// Everything after the target account is known: who may change it, and which road its change takes.
LocalResult changeFor(PasswdRun& run, uid_t targetUid) {
  if (run.callerUid != 0 && run.callerUid != targetUid) {
    std::fprintf(stderr, "%s: you may not change the password for user %s\n", run.progName.c_str(),
                 run.targetName.c_str());
    return refuse(run, "refused: account of another user");
  }
  // Root changing a local account waits on the agent no longer than the connect time limit.
  const DirectoryAccount account = askDirectoryAccount(run.targetName, run.callerUid == 0);
  if (account.answer == DirectoryAnswer::kKnown) return directoryRoad(run);
  // A host joined to no domain has no directory accounts: its agent's silence says nothing.
  if (account.answer == DirectoryAnswer::kCannotTell && vesk::joined()) {
    run.directoryOutage = account.reason.empty() ? "no reason given" : account.reason;
    run.outageOfRealm = account.agentAnswered;
  }
  return localRoad(run);
}

}  // namespace

LocalResult localPasswdMain(int argc, char** argv) {
  // A core dump of this process could hold password hashes and typed passwords.
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    std::perror("prctl");
    return kLocalFailed;
  }
  PasswdRun run;
  std::string invoked = argc > 0 && argv[0] != nullptr ? argv[0] : "passwd";
  run.progName = basename(invoked.data());
  // Before the limits are raised: the system's program runs with the caller's own limits and
  // signal dispositions.
  if (const auto handedOver = handOverToSystemPasswd(argc, argv, run.progName.c_str())) return *handedOver;
  // While still privileged: the caller's limits must not cut a rewrite of an account file short.
  if (!raiseWriteLimits()) {
    std::perror("passwd: cannot raise the resource limits");
    return kLocalChangeNotMade;
  }

  optind = 1;
  opterr = 1;
  const int option = getopt(argc, argv, "hv");
  if (option == 'h') {
    printUsage(run);
    return kLocalHelp;
  }
  if (option != -1) {
    std::fprintf(stderr, "%s: invalid option '-%c'\n", run.progName.c_str(), option);
    printUsage(run);
    return kLocalBadUsage;
  }
  const int operands = argc - optind;
  if (operands > 1) {
    std::fprintf(stderr, "%s: too many arguments\n", run.progName.c_str());
    printUsage(run);
    return kLocalBadUsage;
  }

  run.callerUid = getuid();
  run.callerName = findCallerName(run.callerUid);
  if (run.callerName.empty()) {
    std::fprintf(stderr, "%s: cannot determine your user name\n", run.progName.c_str());
    return refuse(run, "refused: caller has no user name");
  }
  run.targetName = operands == 1 ? argv[optind] : run.callerName;
  const struct passwd* target =
      run.targetName.size() <= kMaxNameLength ? getpwnam(run.targetName.c_str()) : nullptr;
  if (target == nullptr) {
    std::fprintf(stderr, "%s: unknown user %s\n", run.progName.c_str(), run.targetName.c_str());
    return refuse(run, "refused: unknown user");
  }
  const LocalResult result = changeFor(run, target->pw_uid);
  // The kernel names the sender's real user as the record's uid: the caller, not the root that
  // the write needed.
  if (getuid() != run.callerUid && setreuid(run.callerUid, static_cast<uid_t>(-1)) != 0) {
    logOutcome(run, vesk::LogLevel::kWarning, "cannot give the real user id back for the audit record");
  }
  vesk::sendAuditRecord(vesk::AuditEvent::kPasswordChange, "change password", run.targetName,
                        result == kLocalChanged);
  return result;
}
