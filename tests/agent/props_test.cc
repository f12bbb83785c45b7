#include "props.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "pn.h"

namespace {

TEST(PropsTest, ParsesKeysValuesCommentsAndKeepsUnknownKeys) {
  auto props = vesk::Properties::fromText(
      "# a comment\n"
      "\n"
      "pam.old.msg: Old one: \n"
      "  domain :  example.test  \n"
      "some.unknown.key: kept\n"
      "pam.new.msg:\n"
      "pam.renew.msg: \"Again: \"  \n"
      "no colon here\n"
      ": no key\n");
  EXPECT_EQ(props.get(vesk::PN::PAM_OLD_MSG, "x"), "Old one:");
  EXPECT_EQ(props.get(vesk::PN::DOMAIN), "example.test");
  EXPECT_EQ(props.get("some.unknown.key"), "kept");
  EXPECT_TRUE(props.has(vesk::PN::PAM_NEW_MSG));
  EXPECT_EQ(props.get(vesk::PN::PAM_NEW_MSG, "default"), "") << "a present empty value is not the default";
  EXPECT_EQ(props.get(vesk::PN::PAM_RENEW_MSG, "default"), "Again: ") << "quotes keep the trailing blank";
  EXPECT_EQ(props.get("absent.key", "default"), "default");
  ASSERT_EQ(props.malformedLines().size(), 2u);
  EXPECT_EQ(props.malformedLines()[0].rfind("8:", 0), 0u);
  EXPECT_EQ(props.malformedLines()[1].rfind("9:", 0), 0u);
}

TEST(PropsTest, MissingFileIsEmptyAndNumbersFallBack) {
  auto props = vesk::Properties::fromFile("/nonexistent/kestrova.conf");
  EXPECT_TRUE(props.map().empty());
  props.set("n", "42");
  props.set("bad", "42x");
  EXPECT_EQ(props.getNumber("n", 7), 42);
  EXPECT_EQ(props.getNumber("bad", 7), 7);
  EXPECT_EQ(props.getNumber("absent", 7), 7);
}

TEST(PropsTest, ProcessSettingsComeFromTheFileNamedByTheEnvironment) {
  char path[] = "/tmp/kestrova-props-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "pam.old.msg: from the file\nbroken line\n";
  setenv("KESTROVA_CONF", path, 1);
  EXPECT_EQ(vesk::settingsPath(), path);
  vesk::Props(true);
  EXPECT_EQ(vesk::lookupProperty(vesk::PN::PAM_OLD_MSG, "default"), "from the file");
  unsetenv("KESTROVA_CONF");
  vesk::Props(true);
  unlink(path);
}

TEST(PropsTest, LowerCasesAsciiOnly) {
  EXPECT_EQ(vesk::lower("NO"), "no");
  EXPECT_EQ(vesk::lower("TrUe1"), "true1");
  EXPECT_EQ(vesk::lower("\xC3\x84"), "\xC3\x84");
}

}  // namespace
