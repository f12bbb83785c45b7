// How the agent reads the Kerberos library's codes, the password server's answers and a domain
// controller's extended errors.
#include "kerberos_results.h"

#include "agent_protocol.h"
#include "kerberos_client.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk::agentd {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(KerberosResults, ValidateMapsCodesAndDirectoryStatuses) {
  struct Case {
    int code;
    std::optional<std::uint32_t> status;
    int expected;
  };
  const Case cases[] = {
      {0, std::nullopt, 0},
      {krb5code::kPreauthFailed, std::nullopt, 2},
      {krb5code::kBadIntegrity, std::nullopt, 2},
      {krb5code::kPrincipalUnknown, std::nullopt, 17},
      {krb5code::kClientRevoked, std::nullopt, 3},
      {krb5code::kAccountExpired, std::nullopt, 7},
      {krb5code::kPasswordExpired, std::nullopt, 4},
      {krb5code::kKdcUnreachable, std::nullopt, 9},
      {-1765328228 + 1, std::nullopt, 9},
      // A domain controller says "revoked" for several states; its NTSTATUS tells them apart.
      {krb5code::kClientRevoked, kStatusAccountDisabled, 3},
      {krb5code::kClientRevoked, kStatusAccountExpired, 7},
      {krb5code::kClientRevoked, kStatusLockedOut, 3},
      {krb5code::kClientRevoked, kStatusPasswordExpired, 4},
      {krb5code::kClientRevoked, kStatusMustChange, 4},
      {krb5code::kClientRevoked, kStatusWorkstationDenied, 8},
      {krb5code::kPreauthFailed, kStatusWrongPassword, 2},
      {krb5code::kClientRevoked, 0xC0000001u, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(validateResult(c.code, c.status), c.expected) << c.code << " " << c.status.value_or(0);
  }
}

TEST(KerberosResults, ChangeAuthenticationFailuresKeepTheCodesTheFrontEndTranslates) {
  for (int code : {krb5code::kPreauthFailed, krb5code::kPrincipalUnknown, krb5code::kClientRevoked, krb5code::kTgtRevoked, krb5code::kBadIntegrity}) {
    EXPECT_EQ(changeAuthResult(code), 9) << code;
  }
  EXPECT_EQ(changeAuthResult(krb5code::kAccountExpired), 7);
  for (int code : {krb5code::kKdcUnreachable, krb5code::kPasswordExpired, -1765328372}) EXPECT_EQ(changeAuthResult(code), 0) << code;
}

TEST(KerberosResults, PasswordServerResultCodesHaveTheirProtocolTexts) {
  const char* texts[] = {"Success", "Malformed request error", "Server error", "Authentication error",
                         "Password change rejected", "Access denied", "Wrong protocol version",
                         "Initial password required"};
  for (int code = 0; code <= 7; ++code) EXPECT_EQ(kpasswdResultText(code), texts[code]);
  EXPECT_EQ(kpasswdResultText(42), "Unknown result 42");
}

TEST(KerberosResults, RecordedDirectoryPolicyBlockIsRenderedReadably) {
  // A domain controller's refusal: minimum length 7, history 24, complexity on, maximum age 42
  // days, minimum age 1 day (ages in 100 ns units).
  const std::uint64_t day = 864000000000ull;
  std::string block = bytes({0, 0, 0, 0, 0, 7, 0, 0, 0, 24, 0, 0, 0, 1});
  for (std::uint64_t value : {42 * day, day}) {
    for (int shift = 56; shift >= 0; shift -= 8) block += static_cast<char>((value >> shift) & 0xff);
  }
  ASSERT_EQ(block.size(), 30u);
  const std::string text = passwordServerMessage(block);
  for (const char* part : {"at least 7 characters", "previous 24 passwords", "numbers or symbols", "once a day"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " missing in: " << text;
  }
  EXPECT_TRUE(vesk::agentproto::isPrintableText(text)) << text;
  EXPECT_EQ(passwordServerMessage("Password is too short\n"), "Password is too short");
}

TEST(KerberosResults, ServerTextsAreShownOnlyWhenTheyAreText) {
  EXPECT_EQ(serverResultText("Password is too short\nThe password must contain at least 8 characters.\n"),
            "Password is too short The password must contain at least 8 characters.");
  EXPECT_EQ(serverResultText(std::string("Password cannot be reused\0", 26)), "Password cannot be reused");
  EXPECT_EQ(serverResultText(""), "");
  EXPECT_EQ(serverResultText(bytes({0x01, 0x02, 'a', 0x1b})), "the server's reply is not text (4 bytes)");
}

TEST(KerberosResults, ExtendedErrorStatusIsFoundInEveryEncodingADomainControllerUses) {
  const std::string status = bytes({0x34, 0x02, 0x00, 0xc0, 0, 0, 0, 0, 1, 0, 0, 0});  // locked out
  const std::string entryBody = bytes({0xa1, 0x03, 0x02, 0x01, 0x03, 0xa2, 0x0e, 0x04, 0x0c}) + status;
  const std::string methodData = bytes({0x30, 0x17, 0x30, 0x15}) + entryBody;
  const std::string errorData = bytes({0x30, 0x15}) + entryBody;
  const std::string typedData = bytes({0x30, 0x17, 0x30, 0x15, 0xa0, 0x03, 0x02, 0x01, 0x03, 0xa1, 0x0e, 0x04, 0x0c}) + status;
  // An entry of another type before the status entry is skipped.
  const std::string saltFirst =
      bytes({0x30, 0x25, 0x30, 0x0c, 0xa1, 0x03, 0x02, 0x01, 0x13, 0xa2, 0x05, 0x04, 0x03, 'a', 'b', 'c', 0x30, 0x15}) +
      entryBody;
  for (const std::string& edata : {methodData, errorData, typedData, saltFirst}) {
    EXPECT_EQ(extendedErrorStatus(edata), std::optional<std::uint32_t>(kStatusLockedOut));
  }
  const std::string malformed[] = {
      "",
      bytes({0x30}),
      bytes({0x30, 0x7f, 0x30}),
      bytes({0x30, 0x84, 0xff, 0xff, 0xff, 0xff}),
      bytes({0x30, 0x0c, 0xa1, 0x03, 0x02, 0x01, 0x13, 0xa2, 0x05, 0x04, 0x03, 'a', 'b', 'c'}),
      methodData.substr(0, methodData.size() - 1),
      bytes({0x04, 0x02, 0x00, 0x00}),
  };
  for (const std::string& edata : malformed) EXPECT_EQ(extendedErrorStatus(edata), std::nullopt);
}

}  // namespace
}  // namespace vesk::agentd
