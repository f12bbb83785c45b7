// System paths of the account file database, each named once.
//
// Library code takes the path of every file it works on as an argument, so that tests can point it
// at a temporary directory; these are the values the system itself uses.
#pragma once

namespace vesk {

inline constexpr const char* kAccountPasswdPath = "/etc/passwd";
inline constexpr const char* kAccountShadowPath = "/etc/shadow";
inline constexpr const char* kAccountGroupPath = "/etc/group";

// Programs that the command-backed storages run.
inline constexpr const char* kCatProgramPath = "/bin/cat";
inline constexpr const char* kUseraddProgramPath = "/usr/sbin/useradd";
inline constexpr const char* kUserdelProgramPath = "/usr/sbin/userdel";
inline constexpr const char* kGroupaddProgramPath = "/usr/sbin/groupadd";
inline constexpr const char* kGroupdelProgramPath = "/usr/sbin/groupdel";

// The name service caches that a change of an account file makes stale, and their invalidation
// commands.
inline constexpr const char* kNscdProgramPath = "/usr/sbin/nscd";
inline constexpr const char* kSssCacheProgramPath = "/usr/sbin/sss_cache";

// Template of the private snapshot file of a command-backed storage (completed by mkstemp).
inline constexpr const char* kSnapshotTemplate = "/tmp/passwddb.XXXXXX";
inline constexpr const char* kNullDevicePath = "/dev/null";

}  // namespace vesk
