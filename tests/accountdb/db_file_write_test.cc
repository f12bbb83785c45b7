// Write-back of a DBFile: backup, temporary file, rename; modes, owners and times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db_file.h"
#include "test_support.h"

namespace vesk::test {
namespace {

const std::string kOld = "root:*:19000:0:99999:7:::\nbob:*:19001:0:99999:7:::\n";

struct stat statusOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

class DBFileWriteTest : public DBTest {
 protected:
  void SetUp() override {
    path_ = dir_ / "shadow";
    writeFile(path_, kOld, 0640);
  }
  // A storage on path_, locked and open for writing.
  void openForWriting(DBFile& file) {
    ASSERT_TRUE(file.lock());
    ASSERT_TRUE(file.open());
  }
  void setModificationTime(const std::string& path, time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }

  std::string path_;
};

TEST_F(DBFileWriteTest, WriteReplacesFileKeepsBackupAndStaysLockedButClosed) {
  setModificationTime(path_, 1000000000);
  DBFile file(path_.c_str());
  openForWriting(file);
  ASSERT_TRUE(file.write({"root:*:19500:0:99999:7:::", "", "carol:*:::::::"}));
  EXPECT_EQ(readFile(path_), "root:*:19500:0:99999:7:::\n\ncarol:*:::::::\n");
  EXPECT_EQ(readFile(path_ + "-"), kOld);
  EXPECT_EQ(statusOf(path_ + "-").st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(statusOf(path_ + "-").st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(statusOf(path_ + "-").st_mode & 07777, 0640u);
  EXPECT_FALSE(exists(path_ + "+"));
  EXPECT_FALSE(file.isOpen());
  EXPECT_TRUE(file.isLocked());
  EXPECT_TRUE(log_.has("0: backup file " + path_ + "- is created for " + path_ + "."));
  file.unlock();
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"shadow", "shadow-"}));
}

TEST_F(DBFileWriteTest, EmptyListGivesEmptyFile) {
  DBFile file(path_.c_str());
  openForWriting(file);
  ASSERT_TRUE(file.write({}));
  EXPECT_EQ(readFile(path_), "");
  EXPECT_EQ(readFile(path_ + "-"), kOld);
  file.unlock();
}

TEST_F(DBFileWriteTest, NewFileKeepsOwnerGroupAndReadWriteBitsOnly) {
  struct Case {
    mode_t before;
    mode_t after;
  };
  const std::vector<Case> cases = {
      {0640, 0640}, {0600, 0600}, {0644, 0644}, {0755, 0644}, {0666, 0664}, {04755, 0644}, {0444, 0444}, {0, 0},
  };
  const bool root = geteuid() == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.before));
    writeFile(path_, kOld, c.before);
    if (root) {
      ASSERT_EQ(chown(path_.c_str(), 1234, 2345), 0);
    }
    DBFile file(path_.c_str());
    ASSERT_TRUE(file.lock());
    if (!file.open()) {
      ASSERT_FALSE(root);  // only root opens a file without write permission for writing
      file.unlock();
      continue;
    }
    ASSERT_TRUE(file.write({"root:*:1:::::", "x"}));
    const struct stat status = statusOf(path_);
    EXPECT_EQ(status.st_mode & 07777, c.after);
    if (root) {
      EXPECT_EQ(status.st_uid, 1234u);
      EXPECT_EQ(status.st_gid, 2345u);
    }
    file.unlock();
  }
}

TEST_F(DBFileWriteTest, RefusedWriteTouchesNothing) {
  struct Case {
    const char* what;
    bool readOnly;
    bool lock;
    bool open;
  };
  for (const Case& c : std::vector<Case>{{"read-only", true, false, true},
                                         {"read-only and locked", true, true, true},
                                         {"not open", false, true, false},
                                         {"not locked", false, false, false}}) {
    SCOPED_TRACE(c.what);
    DBFile file(path_.c_str());
    file.setReadOnly(c.readOnly);
    if (c.lock) {
      ASSERT_TRUE(file.lock());
    }
    if (c.open) {
      ASSERT_TRUE(file.open());
    }
    log_.clear();
    EXPECT_FALSE(file.write({"x"}));
    EXPECT_EQ(file.isOpen(), c.open);
    EXPECT_TRUE(log_.records().empty());
    EXPECT_EQ(readFile(path_), kOld);
    file.unlock();
    EXPECT_EQ(dir_.list(), (std::vector<std::string>{"shadow"}));
  }
}

}  // namespace
}  // namespace vesk::test
