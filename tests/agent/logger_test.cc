#include "logger.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "settings.h"

namespace {

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kestrova-logger-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    logFile_ = dir_ + "/records.log";
    conf_ = dir_ + "/kestrova.conf";
  }
  void TearDown() override {
    unsetenv("KESTROVA_CONF");
    vesk::loadSettings();
    unlink(logFile_.c_str());
    unlink(conf_.c_str());
    rmdir(dir_.c_str());
  }
  void useSettings(const std::string& text) {
    std::ofstream(conf_) << text << "log.file: " << logFile_ << "\n";
    setenv("KESTROVA_CONF", conf_.c_str(), 1);
    vesk::loadSettings();
  }
  std::string records() {
    std::ifstream in(logFile_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string dir_, logFile_, conf_;
};

TEST_F(LoggerTest, LevelsInheritFromParentsAndFilterRecords) {
  useSettings("log.level: 3\nlog.level.cli.passwddb: 0\n");
  auto front = vesk::Logger::GetLogger("cli.tarvenko");
  auto db = vesk::Logger::GetLogger("cli.passwddb");
  ASSERT_TRUE(front && db);
  EXPECT_EQ(front->getParent()->getName(), "cli");
  EXPECT_EQ(front->getLevel(), vesk::Logger::kInherit);
  EXPECT_EQ(front->getEffectiveLevel(), 3u);
  EXPECT_EQ(db->getEffectiveLevel(), 0u);

  front->log(2, "hidden %d", 2);
  front->log(3, "Password %s with tarvenko failed for user %s: %s", "change", "bob", "Policy not matched");
  db->log(0, "file %s is locked.", "/etc/shadow");
  const std::string text = records();
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_NE(text.find("cli.tarvenko 3: Password change with tarvenko failed for user bob: Policy not matched\n"),
            std::string::npos);
  EXPECT_NE(text.find("cli.passwddb 0: file /etc/shadow is locked.\n"), std::string::npos);
}

TEST_F(LoggerTest, MemoryLevelKeepsRecentRecordsBelowTheLevel) {
  useSettings("log.level: 4\nlog.memlevel: 1\n");
  auto logger = vesk::Logger::GetLogger("cli.memory");
  EXPECT_TRUE(logger->isEnabled(1));
  EXPECT_FALSE(logger->isEnabled(0));
  logger->log(2, "kept in memory");
  EXPECT_EQ(records().find("kept in memory"), std::string::npos);
  const auto recent = vesk::Logger::recentRecords();
  ASSERT_FALSE(recent.empty());
  EXPECT_EQ(recent.back(), "cli.memory 2: kept in memory");
}

TEST_F(LoggerTest, MalformedSettingsLinesAreLoggedAndSkipped) {
  useSettings("log.level: 0\nthis line has no separator\n");
  EXPECT_NE(records().find("line 2: no ':' between key and value; line skipped"), std::string::npos);
}

}  // namespace
