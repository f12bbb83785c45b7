#include "kerberos_translation.h"

#include <gtest/gtest.h>

namespace {

TEST(KerberosTranslationTest, CodesMapToResultsAndAccessDeniedDependsOnTheOperation) {
  const struct {
    int code;
    int own;    // own change
    int admin;  // administrator set
  } table[] = {
      {-1765328366, 3, 3},   // client revoked: disabled
      {-1765328364, 3, 3},   // TGT revoked: disabled
      {-1765328378, 2, 2},   // unknown client
      {-1765328360, 2, 2},   // preauthentication failed
      {-1765328353, 2, 2},   // bad integrity
      {5, 6, 10},            // kpasswd access denied
      {4, 5, 5},             // any other code: policy
      {-1765328228, 5, 5},
      {0, 5, 5},
  };
  for (const auto& row : table) {
    EXPECT_EQ(translateKerberosFailure(row.code, false), row.own) << row.code;
    EXPECT_EQ(translateKerberosFailure(row.code, true), row.admin) << row.code;
    EXPECT_NE(translateKerberosFailure(row.code, true), 9);
  }
}

}  // namespace
