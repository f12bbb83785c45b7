#include "kerberos_translation.h"

namespace {

// Codes in the MIT error table's numbering.
constexpr int kClientRevoked = -1765328366;
constexpr int kTgtRevoked = -1765328364;
constexpr int kClientUnknown = -1765328378;
constexpr int kPreauthFailed = -1765328360;
constexpr int kBadIntegrity = -1765328353;
// Result code "access denied" of the Kerberos password-change protocol.
constexpr int kKpasswdAccessDenied = 5;

constexpr int kResultInvalid = 2;
constexpr int kResultDisabled = 3;
constexpr int kResultPolicy = 5;
constexpr int kResultChangeDisabled = 6;
constexpr int kResultPermission = 10;

}  // namespace

int translateKerberosFailure(int code, bool administratorOperation) {
  switch (code) {
    case kClientRevoked:
    case kTgtRevoked:
      return kResultDisabled;
    case kClientUnknown:
    case kPreauthFailed:
    case kBadIntegrity:
      return kResultInvalid;
    case kKpasswdAccessDenied:
      return administratorOperation ? kResultPermission : kResultChangeDisabled;
    default:
      return kResultPolicy;
  }
}
