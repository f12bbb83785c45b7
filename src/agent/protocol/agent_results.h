// The result values of an agent operation, and the Kerberos codes that the client and the agent
// name, each declared once.
//
// 0 to 17 are the values callers distinguish; 18 and above are the agent's own: each comes with a
// text in the reply's error text that says what happened. Values 11 to 16 are never sent.
#pragma once

namespace vesk {

enum AgentResult : int {
  kResultSuccess = 0,
  kResultInvalidUser = 1,
  kResultInvalidCredentials = 2,  // invalid user name or password
  kResultAccountDisabled = 3,
  kResultPasswordExpired = 4,
  kResultPolicy = 5,              // the new password is against the password policy
  kResultChangeDisabled = 6,      // password change disabled for the user
  kResultAccountExpired = 7,
  kResultWorkstationDenied = 8,
  kResultKerberos = 9,            // a Kerberos failure: the error code field carries its code
  kResultPermissionDenied = 10,
  kResultNoSuchAccount = 17,      // the account does not exist in the directory
  kResultKdcUnreachable = 18,
  kResultKdcTimeout = 19,
  kResultPasswordServer = 20,
  kResultKerberosError = 21,
  kResultCredentialCache = 22,
  kResultBadRequest = 23,
  // A change or set was sent to the password server and no answer came within the time limit: the
  // password may or may not have changed. The agent logs the real outcome when it arrives.
  kResultOutcomeUnknown = 24,
  // A validation's AS reply could not be verified with the host's keytab: the KDC may be a spoof.
  kResultKdcNotVerified = 25,
};

namespace krb5code {

// Kerberos error codes in the numbering of the MIT error table.
inline constexpr int kClientRevoked = -1765328366;
inline constexpr int kTgtRevoked = -1765328364;
inline constexpr int kPrincipalUnknown = -1765328378;
inline constexpr int kPreauthFailed = -1765328360;
inline constexpr int kBadIntegrity = -1765328353;
inline constexpr int kAccountExpired = -1765328383;
inline constexpr int kPasswordExpired = -1765328361;
inline constexpr int kKdcUnreachable = -1765328228;
inline constexpr int kRealmUnknown = -1765328230;

// Result codes of the password-change protocol (RFC 3244); after result 9 of a change or set, the
// error code field may carry one of these.
inline constexpr int kKpasswdSuccess = 0;
inline constexpr int kKpasswdAuthError = 3;
inline constexpr int kKpasswdSoftError = 4;
inline constexpr int kKpasswdAccessDenied = 5;

}  // namespace krb5code

}  // namespace vesk
