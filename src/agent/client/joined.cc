#include "krb5_default_realm.h"
#include "local_rpc_session.h"
#include "pn.h"
#include "props.h"

namespace vesk {

bool joined() {
  if (!lookupProperty(PN::DOMAIN, std::string()).empty()) return true;
  return lower(lookupProperty(PN::REALM, std::string())) == PN::kAutoRealm && !krb5DefaultRealm().empty();
}

}  // namespace vesk
