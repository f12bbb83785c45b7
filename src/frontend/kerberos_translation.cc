#include "kerberos_translation.h"

#include "agent_results.h"

using namespace vesk;

int translateKerberosFailure(int code, bool administratorOperation) {
  switch (code) {
    case krb5code::kClientRevoked:
    case krb5code::kTgtRevoked:
      return kResultAccountDisabled;
    case krb5code::kPrincipalUnknown:
    case krb5code::kPreauthFailed:
    case krb5code::kBadIntegrity:
      return kResultInvalidCredentials;
    case krb5code::kKpasswdAccessDenied:
      return administratorOperation ? kResultPermissionDenied : kResultChangeDisabled;
    default:
      return kResultPolicy;
  }
}

bool kerberosFailureKnown(int code) {
  // Own changes read every other code as the policy's refusal; only these are known by name.
  return translateKerberosFailure(code, true) != kResultPolicy;
}
