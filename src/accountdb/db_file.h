// DBFile: the storage over one account file (/etc/passwd, /etc/shadow or /etc/group).
//
// A writer calls lock, open, first/next until hasRecord is false, write, unlock; a reader calls
// setReadOnly(true), open, reads, close. A writable DBFile opens only while it holds its lock.
//
// Locking has two levels. The system's password-file lock (lckpwdf, see system_lock.h) is held
// while any DBFile of the process holds its own lock; the DBFile that took them releases both at
// unlock or destruction. The own lock is the file path + ".lock",
// holding the owner's process id in decimal and one NUL byte, made by a hard link from the link
// file path + "." + process id, so that it appears atomically. A lock file whose owner no longer
// lives is taken over; one whose owner lives (the own process included), or whose content is no
// process id, makes lock fail at once. Nothing waits or retries.
//
// open reads the whole file into memory; the records are its lines, split at "\n" (a last line
// without one counts as well). An empty line is a record like any other.
//
// write replaces the file: a backup copy path + "-" is made first, itself written to path + "-+"
// and renamed over the old backup; the new content goes into the temporary file path + "+". Both
// are created exclusively (a stale entry of that name is unlinked first, never followed), take
// the file's owner, group and permission bits (masked with 0664) before the first byte, and are
// synced to disk before they are renamed; then the directory is synced. Any failure before the
// last rename leaves the file and the previous backup as they were and removes the temporary
// files. A failed sync of the directory after the rename does not undo the change: write
// succeeds and lastProblem() reports it.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db_log.h"
#include "db_storage.h"
#include "db_text.h"
#include "system_lock.h"
#include "unique_fd.h"

namespace vesk {

// Why the last lock or write of a DBFile failed, or, after a write that succeeded, what went wrong
// once the new file was in place. For the messages of the program that holds the storage; the
// library itself has logged the details.
struct DBFileProblem {
  enum class Step {
    kNone,
    kSystemLock,   // lckpwdf failed
    kLockBusy,     // the lock file belongs to the live process `holder`
    kLockInvalid,  // the lock file holds no valid process id; it stays until someone removes it
    kLock,         // the lock file could not be made or taken over for another reason
    kBackup,       // the backup could not be made; nothing was changed
    kTemporary,    // the new content could not be written; nothing was changed
    kRename,       // the new file could not be put in place; nothing was changed
    kDirectorySync // the change is made, but the directory could not be synced
  };
  Step step = Step::kNone;
  long holder = 0;
  db::IoFailure failure;  // the call that failed (not for the lock steps)
};

// The text of a file from a position to its end (see DBFile::takeRest).
struct DBTextRest {
  std::shared_ptr<const DBText> text;
  std::size_t offset = 0;
};

class DBFile : public DBStorage {
 public:
  explicit DBFile(const char* path);
  // Closes the file and releases its lock.
  ~DBFile() override;

  bool isFile() const override;
  void setReadOnly(bool value) override;
  bool open() override;
  void close() override;
  bool lock() override;
  void unlock() override;
  bool first() override;
  bool next() override;
  bool write(const std::vector<std::string>& lines) override;
  // Stores path, then opens.
  virtual bool open(const char* path);
  // The per-file lock alone (see lock, which also takes the system lock and logs a failure).
  virtual bool lockFile();

  // Replaces the file as write does, by the concatenation of pieces: raw bytes, line ends
  // included. Lets an operator write unchanged lines straight from the text it loaded.
  bool writeText(std::span<const std::string_view> pieces);

  // The text from the current record to the end of the file, for a reader that takes the rest of
  // the file at once. The storage is at the end of its data afterwards.
  DBTextRest takeRest();

  // Number of DBFile objects of this process holding their lock.
  static int lockedFileCount();

  // See DBFileProblem; reset by every lock and write.
  const DBFileProblem& lastProblem() const { return problem_; }

 private:
  enum class OpenMode { Input, InputOutput };

  OpenMode openMode = OpenMode::InputOutput;
  UniqueFd stream;
  std::shared_ptr<const DBText> text;
  std::size_t recordOffset = 0;  // where the current record begins in text
  std::size_t nextOffset = 0;    // where the following record begins in text
  long busyOwner = 0;            // live owner of the lock file seen by the last lockFile
  SystemLockLevel systemLock;    // held while the file's own lock is
  DBFileProblem problem_;
};

}  // namespace vesk
