// The Kerberos codes that the protocol layer names by number (so that the client needs no Kerberos
// headers), tied here to the library's own names: a library that renumbered one fails the build.
#include <krb5/krb5.h>

#include "agent_results.h"

namespace vesk::agentd {

static_assert(krb5code::kClientRevoked == KRB5KDC_ERR_CLIENT_REVOKED);
static_assert(krb5code::kTgtRevoked == KRB5KDC_ERR_TGT_REVOKED);
static_assert(krb5code::kPrincipalUnknown == KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN);
static_assert(krb5code::kPreauthFailed == KRB5KDC_ERR_PREAUTH_FAILED);
static_assert(krb5code::kBadIntegrity == KRB5KRB_AP_ERR_BAD_INTEGRITY);
static_assert(krb5code::kAccountExpired == KRB5KDC_ERR_NAME_EXP);
static_assert(krb5code::kPasswordExpired == KRB5KDC_ERR_KEY_EXP);
static_assert(krb5code::kKdcUnreachable == KRB5_KDC_UNREACH);
static_assert(krb5code::kRealmUnknown == KRB5_REALM_UNKNOWN);
static_assert(krb5code::kKpasswdSuccess == KRB5_KPASSWD_SUCCESS);
static_assert(krb5code::kKpasswdAuthError == KRB5_KPASSWD_AUTHERROR);
static_assert(krb5code::kKpasswdSoftError == KRB5_KPASSWD_SOFTERROR);
static_assert(krb5code::kKpasswdAccessDenied == KRB5_KPASSWD_ACCESSDENIED);

}  // namespace vesk::agentd
