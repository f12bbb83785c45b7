// The tool's own reading of default_realm from krb5.conf: only the top level of [libdefaults].
#include <gtest/gtest.h>

#include "krb5_default_realm.h"

TEST(Krb5DefaultRealm, ReadsOnlyTheTopLevelOfLibdefaults) {
  const struct {
    const char* text;
    const char* realm;
  } cases[] = {
      {"[libdefaults]\n default_realm = AD.EXAMPLE.ORG\n", "AD.EXAMPLE.ORG"},
      {"[libdefaults]\n\tdefault_realm=\"AD.EXAMPLE.ORG\"\r\n", "AD.EXAMPLE.ORG"},
      {"# default_realm = NO\n[libdefaults]\n; default_realm = NO\n rdns = false\n default_realm = YES\n", "YES"},
      {"[realms]\n default_realm = NO\n[libdefaults ]\n default_realm = YES\n", "YES"},
      {"[libdefaults]\n NO.ORG = {\n  default_realm = NO\n }\n default_realm = YES\n", "YES"},
      {"[libdefaults]\n default_realm =\n[domain_realm]\n default_realm = NO\n", ""},
      {"default_realm = NO\n[libdefaults]\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(vesk::krb5DefaultRealmIn(c.text), c.realm) << c.text;
}
