// The file operations of a write-back: the backup copy, the temporary file and its content.
//
// Every write, flush, fsync and close is checked. On failure the functions return false and
// describe the failing call in *failure; they log nothing themselves.
#pragma once

#include <sys/stat.h>

#include <span>
#include <string>
#include <string_view>

#include "db_log.h"
#include "unique_fd.h"

namespace vesk {

// Copies source into target, the backup of an account file. A new target is created under the
// process mask 077 (so with mode 0600); an existing one is truncated and keeps its owner and mode.
// The target gets the source's access and modification times and is synced to disk before it is
// closed. Refuses a target that is the source itself (a hard link).
bool copyFile(const char* target, const char* source, db::IoFailure* failure);

// Creates (or truncates) the file name and opens it in fopen's manner of mode ("w" writes with
// truncation, "a" appends, anything else reads; a second character "+" adds the other direction).
// The file is created under the process mask 0777, so it has no permission bits until, when status
// is given, it takes status's owner and group and status's permission bits masked with 0664.
bool openTempFile(UniqueFd& file, const char* name, const char* mode, const struct stat* status,
                  db::IoFailure* failure);

// Writes all pieces to fd in order, resuming after short writes.
bool writePieces(int fd, std::span<const std::string_view> pieces, const std::string& name,
                 db::IoFailure* failure);

// The directory that holds path ("." for a bare name).
std::string directoryOf(const std::string& path);

}  // namespace vesk
